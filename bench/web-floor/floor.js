// The least a page like the game's must do, for bench/web-cpu to hold the
// game's page against: it hands its canvas to a worker, which changes a
// few small places of the picture 30 times a second, and builds an audio
// graph as it loads, a worklet making its own beeps, which runs where the
// browser lets audio start without a gesture. Nothing else: no game, no
// messages while it runs.
const WIDTH = 1280;
const HEIGHT = 720;

const floor = { audioState: 'none' };
window.floor = floor;

const canvas = document.getElementById('screen');
canvas.width = WIDTH;
canvas.height = HEIGHT;
const offscreen = canvas.transferControlToOffscreen();
const worker = new Worker('worker.js', { type: 'module' });
worker.postMessage({ type: 'canvas', canvas: offscreen }, [offscreen]);

// The pictures drawn so far, asked of the worker (only when the bench asks,
// so that the measured window has no messages).
floor.frames = () => new Promise((resolve) => {
  const channel = new MessageChannel();
  channel.port1.onmessage = (event) => resolve(event.data.frames);
  worker.postMessage({ type: 'frames', port: channel.port2 }, [channel.port2]);
});

async function buildSound() {
  const context = new AudioContext({ latencyHint: 'interactive' });
  context.onstatechange = () => {
    floor.audioState = context.state;
  };
  floor.audioState = context.state;
  await context.audioWorklet.addModule('beeps.js');
  const node = new AudioWorkletNode(context, 'beeps', { numberOfInputs: 0, outputChannelCount: [1] });
  node.connect(context.destination);
}

buildSound().catch((error) => {
  floor.audioState = `failed: ${error}`;
});
