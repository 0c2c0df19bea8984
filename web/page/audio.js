// The buzzer on the browser's audio thread: a RingPlayer fed by the game's
// worker over a channel of their own. Muted, it goes on playing the ring
// (so that it stays in step with the worker) as silence.
import { RingPlayer } from './ring-player.js';

class Buzzer extends AudioWorkletProcessor {
  constructor() {
    super();
    this.player = new RingPlayer(sampleRate);
    this.port.onmessage = (event) => {
      const message = event.data;
      if (message.type === 'channel')
        this.player.listen(message.port);
      else if (message.type === 'mute')
        this.player.muted = message.on;
      else if (message.type === 'ask')
        this.port.postMessage({ type: 'answer', id: message.id, answer: this.player.answer(message.question) });
    };
  }

  process(inputs, outputs) {
    this.player.fill(outputs[0][0]);
    return true;
  }
}

registerProcessor('buzzer', Buzzer);
