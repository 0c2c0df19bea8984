// The buzzer on the browser's audio thread: plays the samples that the
// game's worker renders into a ring in the shared memory, and moves the
// ring's read index on. Muted, it goes on reading (so that the ring stays
// in step) and plays silence. It tells the page the loudest sample it has
// played since the page last asked. The cooperative module shares no
// memory: its worker sends the samples over a channel, into a ring of the
// worklet's own, and hears back how far they have been played.
'use strict';

class Buzzer extends AudioWorkletProcessor {
  constructor() {
    super();
    this.samples = null;
    this.muted = false;
    this.peak = 0;
    this.port.onmessage = (event) => {
      const message = event.data;
      if (message.type === 'ring') {
        this.samples = new Int16Array(message.memory, message.samples, message.capacity);
        this.written = new Uint32Array(message.memory, message.written, 1);
        this.read = new Uint32Array(message.memory, message.read, 1);
        this.capacity = message.capacity;
      } else if (message.type === 'channel') {
        this.channel = message.port;
        this.channel.onmessage = (sent) => this.take(sent.data);
      } else if (message.type === 'mute') {
        this.muted = message.on;
      } else if (message.type === 'peak') {
        this.port.postMessage({ type: 'peak', peak: this.peak });
        this.peak = 0;
      }
    };
  }

  // From the cooperative module's worker: the ring's size, then samples.
  take({ capacity, samples }) {
    if (capacity) {
      this.samples = new Int16Array(capacity);
      this.written = new Uint32Array(1);
      this.read = new Uint32Array(1);
      this.capacity = capacity;
      return;
    }
    let written = this.written[0];
    for (let i = 0; i < samples.length; i += 1)
      this.samples[(written + i) % this.capacity] = samples[i];
    written = (written + samples.length) >>> 0;
    this.written[0] = written;
  }

  process(inputs, outputs) {
    const out = outputs[0][0];
    if (this.samples === null)
      return true;
    let read = Atomics.load(this.read, 0);
    const queued = (Atomics.load(this.written, 0) - read) >>> 0;
    const count = Math.min(queued, out.length);
    for (let i = 0; i < count; i += 1) {
      const value = this.muted ? 0 : this.samples[(read + i) % this.capacity] / 32768;
      out[i] = value;
      this.peak = Math.max(this.peak, Math.abs(value));
    }
    out.fill(0, count);
    read = (read + count) >>> 0;
    Atomics.store(this.read, 0, read);
    if (this.channel && count > 0)
      this.channel.postMessage({ read });
    return true;
  }
}

registerProcessor('buzzer', Buzzer);
