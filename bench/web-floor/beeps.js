// The floor's sound: a square wave of 1 kHz for 50 ms every half second,
// made on the audio thread itself, so that what the floor costs with sound
// is the audio output's own work.
const PERIOD = Math.round(sampleRate / 2);
const LENGTH = Math.round(sampleRate / 20);
const HALF_WAVE = Math.round(sampleRate / 2000);

class Beeps extends AudioWorkletProcessor {
  constructor() {
    super();
    this.at = 0;
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    for (let i = 0; i < out.length; i += 1) {
      const inPeriod = (this.at + i) % PERIOD;
      out[i] = inPeriod < LENGTH ? (Math.floor(inPeriod / HALF_WAVE) % 2 === 0 ? 0.1 : -0.1) : 0;
    }
    this.at += out.length;
    return true;
  }
}

registerProcessor('beeps', Beeps);
