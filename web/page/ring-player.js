// Plays the buzzer's samples as the game's worker sends them: a ring of the
// player's own, filled by messages, emptied by the audio output in blocks.
// The same code runs in the audio worklet and, where a page has no worklet
// (plain HTTP at a network address), on the page's own thread.
//
// It counts, from the first samples on, every output sample it played and
// every one that found nothing to play, and tells the worker how far it has
// played now and then (the worker reckons the rest from the sample rate).
const CAPACITY = 32768;  // samples; a power of two

export class RingPlayer {
  constructor(sampleRate) {
    this.samples = new Int16Array(CAPACITY);
    this.written = 0;
    this.read = 0;
    this.muted = false;
    this.peak = 0;
    this.played = 0;
    this.empty = 0;
    this.port = null;
    this.reportEvery = Math.round(sampleRate / 10);
    this.sinceReport = 0;
  }

  // The worker's end of the samples' channel.
  listen(port) {
    this.port = port;
    port.onmessage = (event) => this.take(event.data.samples);
  }

  take(samples) {
    for (let i = 0; i < samples.length; i += 1)
      this.samples[(this.written + i) % CAPACITY] = samples[i];
    this.written += samples.length;
  }

  // Fills out (floats) with what is queued, silence for the rest.
  fill(out) {
    const queued = this.written - this.read;
    const count = Math.min(queued, out.length);
    for (let i = 0; i < count; i += 1) {
      const value = this.muted ? 0 : this.samples[(this.read + i) % CAPACITY] / 32768;
      out[i] = value;
      this.peak = Math.max(this.peak, Math.abs(value));
    }
    out.fill(0, count);
    this.read += count;
    if (this.written === 0)
      return;  // nothing has come yet: the sound has not started
    this.played += count;
    this.empty += out.length - count;
    this.sinceReport += out.length;
    if (this.sinceReport >= this.reportEvery && this.port) {
      this.sinceReport = 0;
      this.port.postMessage({ read: this.read });
    }
  }

  // Answers to the page's questions.
  answer(question) {
    if (question === 'peak') {
      const peak = this.peak;
      this.peak = 0;
      return { peak };
    }
    return { played: this.played, empty: this.empty };
  }
}
