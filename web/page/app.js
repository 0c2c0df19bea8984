// The page: shows the goggles' display on a canvas, turns keys, touches and
// gamepads into the goggles' buttons, plays the buzzer, keeps the best score
// in the browser's storage, and pauses the game when the tab is hidden. The
// game itself runs in worker.js; this thread only draws and listens.
'use strict';

const BUTTON = { middle: 0, left: 2, right: 3, play: 6, back: 7 };
// A press is held at least this long: the game takes a button only after
// two equal readings of the buttons 40 ms apart, so a quick tap must last.
const HOLD_MIN_MS = 150;
// The frame handover's word: which buffer is newest, whether the page has
// taken it, whether there is any (see sim/frame_store.h).
const INDEX_MASK = 3;
const FRESH = 4;
const ANY = 8;

const KEYS = {
  ArrowLeft: [1, BUTTON.left], ArrowRight: [2, BUTTON.right],
  Space: [3, BUTTON.middle], Enter: [4, BUTTON.middle], NumpadEnter: [5, BUTTON.middle],
  Escape: [6, BUTTON.back], KeyP: [7, BUTTON.back], KeyQ: [8, BUTTON.play],
};
const TOUCH_KEY_BASE = 20;
const PAD_KEY = { left: 40, right: 41, middle: 42, back: 43 };

const STORE_BEST = 'vmxbrikon.best';
const STORE_MUTED = 'vmxbrikon.muted';

const params = new URLSearchParams(location.search);
const simArgs = params.get('sim') || '';
const virtualTime = /(^|\s)--virtual-time(\s|$)/.test(simArgs);

const canvas = document.getElementById('screen');
const context2d = canvas.getContext('2d', { alpha: false });
const image = context2d.createImageData(1280, 720);
const notice = document.getElementById('notice');
const demoButton = document.getElementById('demo');
const muteButton = document.getElementById('mute');

function storageGet(key) {
  try {
    return localStorage.getItem(key);
  } catch (error) {
    return null;
  }
}

function storageSet(key, value) {
  try {
    localStorage.setItem(key, value);
  } catch (error) {
    // Private modes may refuse storage: the game goes on without it.
  }
}

function tell(text) {
  notice.textContent = text;
  notice.hidden = text === '';
}

// What the tests (and a curious player's console) can look at.
const vmx = {
  started: false,
  ended: null,
  glance: null,
  framesDrawn: 0,
  drawMs: 0,
  firstFrameMs: null,  // since the page was asked for
  audioState: 'none',
  logs: [],
  peakWaiters: [],
  fileWaiters: new Map(),
  nextFileId: 1,
  soundPeak() {
    if (!audio.node)
      return Promise.resolve(0);
    return new Promise((resolve) => {
      vmx.peakWaiters.push(resolve);
      audio.node.port.postMessage({ type: 'peak' });
    });
  },
  files(dir) {
    const id = vmx.nextFileId++;
    return new Promise((resolve) => {
      vmx.fileWaiters.set(id, resolve);
      worker.postMessage({ type: 'files', id, dir });
    });
  },
};
window.vmx = vmx;

// ---- The picture ------------------------------------------------------

let frames = null;

function draw() {
  requestAnimationFrame(draw);
  readGamepads();
  if (frames === null)
    return;
  if ((Atomics.load(frames.word, 0) & FRESH) === 0)
    return;
  const start = performance.now();
  const before = Atomics.exchange(frames.word, 0, frames.showing | ANY);
  frames.showing = before & INDEX_MASK;
  image.data.set(frames.views[frames.showing]);
  context2d.putImageData(image, 0, 0);
  vmx.drawMs += performance.now() - start;
  vmx.framesDrawn += 1;
  if (vmx.firstFrameMs === null) {
    vmx.firstFrameMs = performance.now();
    // Kept for playing offline, once the game is on screen: the copying
    // must not slow down the start.
    registerServiceWorker();
  }
}

// ---- The buttons ------------------------------------------------------

const worker = new Worker('worker.js');

// Each key's changes go to the game in order, each held at least
// HOLD_MIN_MS: a quick tap still lasts long enough, and two quick taps stay
// two presses, the release between them long enough to be seen too.
const keyQueues = new Map();

function sendChanges(key, queue) {
  while (queue.timer === null && queue.changes.length > 0) {
    const wait = queue.sentAt + HOLD_MIN_MS - performance.now();
    if (wait > 0) {
      queue.timer = setTimeout(() => {
        queue.timer = null;
        sendChanges(key, queue);
      }, wait);
      return;
    }
    queue.down = queue.changes.shift();
    queue.sentAt = performance.now();
    worker.postMessage(queue.down ? { type: 'press', key, button: queue.button } : { type: 'release', key });
  }
}

function change(key, button, down) {
  let queue = keyQueues.get(key);
  if (queue === undefined) {
    queue = { button, down: false, changes: [], sentAt: -Infinity, timer: null };
    keyQueues.set(key, queue);
  }
  const latest = queue.changes.length > 0 ? queue.changes[queue.changes.length - 1] : queue.down;
  if (latest === down)
    return;
  queue.changes.push(down);
  sendChanges(key, queue);
}

function press(key, button) {
  startAudio();
  change(key, button, true);
}

function release(key) {
  const queue = keyQueues.get(key);
  if (queue)
    change(key, queue.button, false);
}

function releaseAll() {
  for (const key of keyQueues.keys())
    release(key);
}

function toggleFullScreen() {
  if (document.fullscreenElement) {
    document.exitFullscreen();
    return;
  }
  document.documentElement.requestFullscreen().then(() => {
    // Phones turn to landscape where they let a page ask.
    if (screen.orientation && screen.orientation.lock)
      screen.orientation.lock('landscape').catch(() => {});
  }).catch(() => {});
}

window.addEventListener('keydown', (event) => {
  if (event.code === 'KeyF' || event.code === 'F11') {
    event.preventDefault();
    if (!event.repeat)
      toggleFullScreen();
    return;
  }
  const entry = KEYS[event.code];
  if (!entry)
    return;
  event.preventDefault();
  if (!event.repeat)
    press(entry[0], entry[1]);
});

window.addEventListener('keyup', (event) => {
  const entry = KEYS[event.code];
  if (entry)
    release(entry[0]);
});

window.addEventListener('blur', releaseAll);

document.querySelectorAll('#touch button').forEach((element, index) => {
  const key = TOUCH_KEY_BASE + index;
  const button = Number(element.dataset.button);
  element.addEventListener('pointerdown', (event) => {
    event.preventDefault();
    element.setPointerCapture(event.pointerId);
    element.classList.add('down');
    press(key, button);
  });
  const up = () => {
    element.classList.remove('down');
    release(key);
  };
  element.addEventListener('pointerup', up);
  element.addEventListener('pointercancel', up);
  element.addEventListener('contextmenu', (event) => event.preventDefault());
});

const touchWanted = params.has('touch') || matchMedia('(pointer: coarse)').matches;
document.getElementById('touch').hidden = !touchWanted;
window.addEventListener('touchstart', () => {
  document.getElementById('touch').hidden = false;
}, { once: true, passive: true });

// A d-pad or the first stick's horizontal axis moves; the main face button
// (on a radio, its first button or switch) is MIDDLE; start is BACK.
const padHeld = { left: false, right: false, middle: false, back: false };
const PAD_BUTTON = { left: BUTTON.left, right: BUTTON.right, middle: BUTTON.middle, back: BUTTON.back };

function readGamepads() {
  if (!navigator.getGamepads)
    return;
  const pad = [...navigator.getGamepads()].find((candidate) => candidate && candidate.connected);
  const pressed = (index) => !!(pad && pad.buttons[index] && pad.buttons[index].pressed);
  const axis = pad && pad.axes.length > 0 ? pad.axes[0] : 0;
  const now = {
    left: pressed(14) || axis < -0.5,
    right: pressed(15) || axis > 0.5,
    middle: pressed(0),
    back: pressed(9),
  };
  for (const name of Object.keys(now)) {
    if (now[name] === padHeld[name])
      continue;
    padHeld[name] = now[name];
    if (now[name])
      press(PAD_KEY[name], PAD_BUTTON[name]);
    else
      release(PAD_KEY[name]);
  }
}

// ---- The sound --------------------------------------------------------

const audio = { context: null, node: null, starting: false };
let muted = storageGet(STORE_MUTED) === '1';

function showMuted() {
  muteButton.setAttribute('aria-pressed', String(muted));
  muteButton.textContent = muted ? 'Sound off' : 'Sound on';
  if (audio.node)
    audio.node.port.postMessage({ type: 'mute', on: muted });
}

// Browsers keep audio suspended until the player's first press: the sound
// is set up then, and the game's buzzer joins it.
async function startAudio() {
  if (audio.context) {
    if (audio.context.state !== 'running')
      audio.context.resume().catch(() => {});
    return;
  }
  if (audio.starting || !window.AudioContext || !frames)
    return;
  audio.starting = true;
  try {
    const context = new AudioContext();
    await context.audioWorklet.addModule('audio.js');
    const node = new AudioWorkletNode(context, 'buzzer', {
      numberOfInputs: 0,
      outputChannelCount: [1],
    });
    node.connect(context.destination);
    node.port.onmessage = (event) => {
      if (event.data.type === 'peak') {
        const waiters = vmx.peakWaiters;
        vmx.peakWaiters = [];
        waiters.forEach((resolve) => resolve(event.data.peak));
      }
    };
    audio.context = context;
    audio.node = node;
    context.onstatechange = () => {
      vmx.audioState = context.state;
    };
    vmx.audioState = context.state;
    showMuted();
    worker.postMessage({ type: 'sound', sampleRate: context.sampleRate });
    context.resume().catch(() => {});
  } catch (error) {
    vmx.logs.push('no sound: ' + error);
  }
}

muteButton.addEventListener('click', () => {
  muted = !muted;
  storageSet(STORE_MUTED, muted ? '1' : '0');
  showMuted();
});

// ---- The rest of the bar ----------------------------------------------

let demo = params.has('demo');

function showDemo() {
  demoButton.setAttribute('aria-pressed', String(demo));
}

demoButton.addEventListener('click', (event) => {
  demo = !demo;
  showDemo();
  worker.postMessage({ type: 'demo', on: demo });
  event.currentTarget.blur();
});

document.getElementById('full').addEventListener('click', toggleFullScreen);
document.getElementById('help-open').addEventListener('click', () => {
  document.getElementById('help').showModal();
});
// The bar's buttons must not keep the keyboard: Space would click them.
document.querySelectorAll('#bar button').forEach((element) => {
  element.addEventListener('mouseup', () => element.blur());
});

document.addEventListener('visibilitychange', () => {
  if (document.hidden) {
    releaseAll();
    worker.postMessage({ type: 'hidden' });
  }
});

// ---- The worker -------------------------------------------------------

worker.onmessage = (event) => {
  const message = event.data;
  switch (message.type) {
    case 'ready':
      frames = {
        word: new Uint32Array(message.memory, message.frameWord, 1),
        views: message.buffers.map((at) => new Uint8Array(message.memory, at, 1280 * 720 * 4)),
        showing: 2,
      };
      vmx.memory = message.memory;
      vmx.started = true;
      break;
    case 'sound':
      audio.node.port.postMessage({
        type: 'ring',
        memory: vmx.memory,
        samples: message.samples,
        written: message.written,
        read: message.read,
        capacity: message.capacity,
      });
      showMuted();
      break;
    case 'glance':
      vmx.glance = message.glance;
      break;
    case 'best':
      if (!virtualTime)
        storageSet(STORE_BEST, message.line);
      break;
    case 'demo':
      demo = message.on;
      showDemo();
      break;
    case 'log':
      vmx.logs.push(message.line);
      console.log(message.line);
      break;
    case 'files': {
      const resolve = vmx.fileWaiters.get(message.id);
      vmx.fileWaiters.delete(message.id);
      if (resolve)
        resolve(message.files);
      break;
    }
    case 'replay':
      vmx.lastReplay = message.bytes;
      offerReplay(message.bytes);
      break;
    case 'refused':
      tell('The game could not start: ' + (vmx.logs[vmx.logs.length - 1] || 'see the log'));
      break;
    case 'ended':
      vmx.ended = message.status;
      tell('The game has ended. Reload the page to play again.');
      break;
  }
};

function start(replay) {
  if (!crossOriginIsolated) {
    tell('This page needs its own service worker or a server that isolates it ' +
         '(see web/README.md); it could not start here.');
    return;
  }
  worker.postMessage({
    type: 'start',
    options: {
      args: simArgs,
      script: params.get('script') || '',
      best: virtualTime ? '' : storageGet(STORE_BEST) || '',
      demo,
      virtualTime,
      replay,
    },
  });
  showDemo();
  showMuted();
  requestAnimationFrame(draw);
}

function registerServiceWorker() {
  if (!('serviceWorker' in navigator))
    return Promise.resolve(false);
  return navigator.serviceWorker.register('sw.js').then(() => true, (error) => {
    vmx.logs.push('no service worker: ' + error);
    return false;
  });
}

// The game's threads share memory with the page, which browsers allow only
// in an isolated page. A host that cannot send the headers for that gets
// them from the page's own service worker (which then takes over the page
// from its next load on: the page loads once more).
async function boot() {
  if (!crossOriginIsolated && !sessionStorage.getItem('vmxbrikon.reloaded') &&
      await registerServiceWorker()) {
    await navigator.serviceWorker.ready;
    sessionStorage.setItem('vmxbrikon.reloaded', '1');
    location.reload();
    return;
  }
  watchReplayDrops(tell);
  const replay = await replayToPlay(params);
  if (replay instanceof Error) {
    tell('The replay cannot be played: ' + replay.message);
    return;
  }
  start(replay);
}

boot();
