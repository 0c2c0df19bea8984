// The sound: an audio graph built as the page loads, resumed by the first
// press (browsers keep audio suspended until a gesture), so that the buzzer
// of that very press is heard. The samples come from the game's worker; an
// audio worklet plays them where the page has one, and this thread where it
// has none (browsers offer worklets only to secure pages: plain HTTP at a
// network address, as a phone opens the page, has none).
import { RingPlayer } from './ring-player.js';
import { storageGet, storageSet } from './storage.js';
import { TO_WORKER } from './messages.js';
import { vmx } from './vmx.js';

const STORE_MUTED = 'vmxbrikon.muted';
// How far ahead of the output the worker keeps the samples: a display
// frame and its jitter for the worklet; this thread's output takes its
// samples a block at a time, and the page's thread may be busy.
const WORKLET_LEAD_MS = 30;
const PAGE_BLOCK = 2048;
const PAGE_LEAD_MS = 120;

const sound = { context: null, node: null, player: null, leadMs: 0, ready: null };
let muted = storageGet(STORE_MUTED) === '1';
let nextId = 1;
const waiting = new Map();

export function isMuted() {
  return muted;
}

export function setMuted(on) {
  muted = on;
  storageSet(STORE_MUTED, on ? '1' : '0');
  if (sound.player)
    sound.player.muted = on;
  if (sound.node)
    sound.node.port.postMessage({ type: 'mute', on });
}

async function withWorklet(context) {
  await context.audioWorklet.addModule('audio.js');
  const node = new AudioWorkletNode(context, 'buzzer', { numberOfInputs: 0, outputChannelCount: [1] });
  node.port.onmessage = (event) => {
    const resolve = waiting.get(event.data.id);
    waiting.delete(event.data.id);
    if (resolve)
      resolve(event.data.answer);
  };
  node.connect(context.destination);
  sound.node = node;
  sound.leadMs = WORKLET_LEAD_MS;
  vmx.soundPath = 'worklet';
}

function onThisThread(context) {
  const player = new RingPlayer(context.sampleRate);
  const node = context.createScriptProcessor(PAGE_BLOCK, 0, 1);
  node.onaudioprocess = (event) => player.fill(event.outputBuffer.getChannelData(0));
  node.connect(context.destination);
  sound.player = player;
  sound.node = null;
  sound.keep = node;  // a node nobody holds may be collected, and falls silent
  sound.leadMs = PAGE_LEAD_MS + Math.ceil((PAGE_BLOCK / context.sampleRate) * 1000);
  vmx.soundPath = 'page';
}

async function build() {
  const Context = window.AudioContext || window.webkitAudioContext;
  if (!Context)
    return false;
  try {
    const context = new Context({ latencyHint: 'interactive' });
    if (context.audioWorklet && window.AudioWorkletNode)
      await withWorklet(context);
    else
      onThisThread(context);
    sound.context = context;
    context.addEventListener('statechange', () => {
      vmx.audioState = context.state;
    });
    vmx.audioState = context.state;
    setMuted(muted);
    return true;
  } catch (error) {
    vmx.logs.push('no sound: ' + error);
    vmx.soundPath = 'none';
    return false;
  }
}

export function buildSound() {
  sound.ready = build();
  return sound.ready;
}

export function resumeSound() {
  if (sound.context && sound.context.state !== 'running')
    sound.context.resume().catch(() => {});
}

// Resolves once the audio runs (after the player's first press).
function running() {
  return new Promise((resolve) => {
    const check = () => {
      if (sound.context.state !== 'running')
        return false;
      sound.context.removeEventListener('statechange', check);
      resolve();
      return true;
    };
    if (!check())
      sound.context.addEventListener('statechange', check);
  });
}

// Joins a game's worker to the graph once the audio runs: the samples go
// straight to whoever plays them, over a channel of their own. Before
// that nothing is sent, and the audio thread sleeps.
export async function connectSound(worker) {
  if (!sound.ready || !await sound.ready)
    return;
  await running();
  const channel = new MessageChannel();
  if (sound.node)
    sound.node.port.postMessage({ type: 'channel', port: channel.port1 }, [channel.port1]);
  else
    sound.player.listen(channel.port1);
  worker.postMessage({
    type: TO_WORKER.sound, sampleRate: sound.context.sampleRate, leadMs: sound.leadMs, port: channel.port2,
  }, [channel.port2]);
}

function ask(question) {
  if (sound.player)
    return Promise.resolve(sound.player.answer(question));
  if (!sound.node)
    return Promise.resolve(question === 'peak' ? { peak: 0 } : { played: 0, empty: 0 });
  const id = nextId++;
  return new Promise((resolve) => {
    waiting.set(id, resolve);
    sound.node.port.postMessage({ type: 'ask', id, question });
  });
}

// The loudest sample played since the last question.
vmx.soundPeak = () => ask('peak').then((answer) => answer.peak);
// Output samples played since the sound started, and those that found
// nothing to play.
vmx.soundStats = () => ask('stats');
