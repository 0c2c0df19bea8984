// The page: shows the goggles' display on a canvas, passes keys, touches,
// pointer drags and gamepads on to the game, plays the buzzer, keeps the
// best score in the browser's storage, and pauses the game when nobody is
// watching. The game itself runs in worker.js, whose session owns the
// buttons: this thread says what is held and draws what it is given.
'use strict';

// The numbers shared with the game come from its own headers, through
// contract.js: button codes, sources, the frame handover's word (which
// buffer is newest, whether the page has taken it, whether there is any),
// the drawing area and the phases.
const BUTTON = CONTRACT.buttons;
const SOURCE = CONTRACT.sources;
const { indexMask: INDEX_MASK, fresh: FRESH, any: ANY } = CONTRACT.frameWord;
const AREA = CONTRACT.area;
const PHASE_TITLE = CONTRACT.phases.title;
const PHASE_GAME_OVER = CONTRACT.phases.gameOver;

const KEYS = {
  ArrowLeft: [1, BUTTON.left], ArrowRight: [2, BUTTON.right],
  Space: [3, BUTTON.middle], Enter: [4, BUTTON.middle], NumpadEnter: [5, BUTTON.middle],
  Escape: [6, BUTTON.back], KeyP: [7, BUTTON.back], KeyQ: [8, BUTTON.play],
};
const PAD_KEY = { left: 1, right: 2, middle: 3, back: 4 };
// A stick moves the paddle once it is this far from the middle.
const STICK_DEAD_ZONE = 0.25;
// A pointer that moves this far (CSS pixels) on the playfield is a drag,
// which steers; less is a tap, which is MIDDLE.
const DRAG_PX = 10;
// The game should be on screen by then; if not, the player is told.
const START_WAIT_MS = 20000;

const STORE_BEST = 'vmxbrikon.best';
const STORE_MUTED = 'vmxbrikon.muted';

const params = new URLSearchParams(location.search);
// The module with threads needs memory shared with them, which only an
// isolated page of a browser that supports it has; elsewhere the
// cooperative module runs (its threads take turns on the worker's one
// thread). ?build=coop asks for it anywhere.
const coopWanted = params.get('build') === 'coop';
// Firefox (Gecko) now and then never returns from making a worker inside a
// worker while another one it made runs: the game's worker then stays
// blocked for good before the game starts, without a word. The module with
// threads makes four such workers, the cooperative one none, so Firefox
// plays the cooperative module.
const nestedWorkersHang = / Gecko\/\d/.test(navigator.userAgent);
const canShare = () => typeof SharedArrayBuffer !== 'undefined' && window.crossOriginIsolated === true &&
  !nestedWorkersHang;
let coop = coopWanted;
const simArgs = params.get('sim') || '';
const virtualTime = /(^|\s)--virtual-time(\s|$)/.test(simArgs);

let canvas = document.getElementById('screen');
canvas.width = AREA.width;
canvas.height = AREA.height;
// Where the browser can hand a canvas to a worker, the game's worker draws
// each picture as it is made, and this thread does nothing for a frame.
// ?draw=page keeps the drawing here, as a browser without that does.
const drawInWorker = params.get('draw') !== 'page' &&
  typeof canvas.transferControlToOffscreen === 'function' &&
  typeof OffscreenCanvasRenderingContext2D === 'function';
const context2d = drawInWorker ? null : canvas.getContext('2d', { alpha: false });
const image = drawInWorker ? null : context2d.createImageData(AREA.width, AREA.height);
const notice = document.getElementById('notice');
const noticeText = document.getElementById('notice-text');
const againButton = document.getElementById('again');
const bestLabel = document.getElementById('best');
const demoButton = document.getElementById('demo');
const muteButton = document.getElementById('mute');
const help = document.getElementById('help');

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

// Says what happened, on the page and to screen readers (the notice is a
// live region); again: the player may start a new game from here.
function tell(text, { again = false } = {}) {
  noticeText.textContent = text;
  notice.hidden = text === '';
  againButton.hidden = !again;
  vmx.notice = text;
  if (again)
    againButton.focus();
}

// What the tests (and a curious player's console) can look at.
const vmx = {
  started: false,
  ended: null,
  glance: null,
  notice: '',
  framesDrawn: 0,
  drawMs: 0,
  firstFrameMs: null,  // since the page was asked for
  audioState: 'none',
  games: 0,
  logs: [],
  faults: [],  // the page's own uncaught errors
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
  // The picture on the canvas: a promise of its RGBA bytes.
  picture() {
    if (!drawInWorker)
      return Promise.resolve(context2d.getImageData(0, 0, AREA.width, AREA.height).data);
    const id = vmx.nextFileId++;
    return new Promise((resolve) => {
      vmx.fileWaiters.set(id, (pixels) => resolve(new Uint8ClampedArray(pixels)));
      worker.postMessage({ type: 'picture', id });
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
// Kept for drivers that cannot read a browser's console (WebDriver's
// classic protocol has no log).
window.addEventListener('error', (event) => vmx.faults.push(String(event.message)));
window.addEventListener('unhandledrejection', (event) => vmx.faults.push(`unhandled: ${event.reason}`));

// ---- The best score ---------------------------------------------------

// A replay's game is the recording's, not the player's.
let replaying = false;

// The kept best as a number: a line that is not a plain non-negative
// number is no best at all.
function keptBest() {
  const line = storageGet(STORE_BEST) || '';
  const match = /^\s*\+?(\d{1,9})\s*$/.exec(line);
  return match ? Number(match[1]) : 0;
}

// The kept best only ever goes up, whichever tab saw it: each tab takes
// the larger of what is kept now and what its game made.
function keepBest(score) {
  if (virtualTime || replaying || !(score > keptBest()))
    return;
  storageSet(STORE_BEST, `${score}\n`);
  showBest();
}

// Written only when it changes: the glance comes 20 times a second, and a
// page that lays itself out again each time costs more than the game.
function showBest(demoGame = false) {
  const text = `Best ${keptBest()}` + (demoGame ? ' (demo game: not kept)' : '');
  if (bestLabel.textContent !== text)
    bestLabel.textContent = text;
}

window.addEventListener('storage', (event) => {
  if (event.key === STORE_BEST)
    showBest();
});

// ---- The picture ------------------------------------------------------

let frames = null;

// Sleeps until the game hands over a picture, then draws it in the next
// animation frame: no animation frame runs while nothing new has arrived.
// Where the browser cannot wait on the word, every animation frame looks;
// a wake that never came is made up for after WAKE_CHECK_MS.
const WAKE_CHECK_MS = 100;
function awaitPicture() {
  const waiting = frames;
  // The game has ended, or another is starting, or the pictures come by
  // message (which asks for a frame itself).
  if (waiting === null || waiting.coop)
    return;
  const seen = Atomics.load(waiting.wait, 0);
  if ((seen & FRESH) !== 0 || !Atomics.waitAsync) {
    drawSoon();
    return;
  }
  const result = Atomics.waitAsync(waiting.wait, 0, seen, WAKE_CHECK_MS);
  if (result.async)
    result.value.then(() => frames === waiting && awaitPicture());
  else
    awaitPicture();
}

let drawAsked = false;
function drawSoon() {
  if (drawAsked)
    return;
  drawAsked = true;
  requestAnimationFrame(draw);
}

function draw() {
  drawAsked = false;
  if (frames === null)
    return;
  const start = performance.now();
  if (frames.coop) {
    // The cooperative module posts each picture whole, as a buffer of its own.
    if (frames.pixels === null)
      return;
    image.data.set(new Uint8Array(frames.pixels));
    frames.pixels = null;
    context2d.putImageData(image, 0, 0);
  } else {
    if ((Atomics.load(frames.word, 0) & FRESH) === 0) {
      awaitPicture();
      return;
    }
    const before = Atomics.exchange(frames.word, 0, frames.showing | ANY);
    frames.showing = before & INDEX_MASK;
    paintChanges(context2d, image, frames.views[frames.showing], frames.changes[frames.showing]);
  }
  vmx.drawMs += performance.now() - start;
  vmx.framesDrawn += 1;
  awaitPicture();
  if (vmx.firstFrameMs === null)
    firstFrame();
}

function firstFrame() {
  vmx.firstFrameMs = performance.now();
  // Kept for playing offline, once the game is on screen: the copying
  // must not slow down the start.
  registerServiceWorker();
}

// ---- The buttons ------------------------------------------------------

let worker = null;

function send(message) {
  if (worker)
    worker.postMessage(message);
}

// The game's session makes every press one the game sees, however short,
// and whatever else is held: the page only says what goes down and up.
function press(source, key, button) {
  resumeAudio();
  send({ type: 'press', source, key, button });
}

function release(source, key) {
  send({ type: 'release', source, key });
}

const keysDown = new Set();

// Nobody is watching (a hidden tab, another window, a dialog): let go of
// everything, and a ball in play stops.
function away() {
  keysDown.clear();
  stopSteering();
  send({ type: 'away' });
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

// A key that belongs to the browser, an open dialog or a focused control
// is left to them.
function keyForPage(event) {
  if (event.ctrlKey || event.altKey || event.metaKey || help.open)
    return false;
  const target = event.target;
  if (target instanceof Element && target !== document.body && target.closest('button, a, input, select, textarea, [tabindex]'))
    return !['Enter', 'NumpadEnter', 'Space'].includes(event.code);
  return true;
}

window.addEventListener('keydown', (event) => {
  if (!keyForPage(event))
    return;
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
  if (!event.repeat && !keysDown.has(entry[0])) {
    keysDown.add(entry[0]);
    press(SOURCE.keys, entry[0], entry[1]);
  }
});

window.addEventListener('keyup', (event) => {
  const entry = KEYS[event.code];
  if (entry && keysDown.delete(entry[0]))
    release(SOURCE.keys, entry[0]);
});

window.addEventListener('blur', away);
document.addEventListener('visibilitychange', () => {
  if (document.hidden)
    away();
});

// The on-screen buttons: a finger that slides from one onto another
// switches button, and one that slides off lets go.
const touchPad = document.getElementById('touch');
const touchButtons = [...touchPad.querySelectorAll('button')];
const fingers = new Map();  // pointer id -> the button under it, or null

function touchButtonAt(x, y) {
  const element = document.elementFromPoint(x, y);
  const found = element && element.closest('#touch button');
  return found || null;
}

function fingerOn(id, element) {
  const before = fingers.get(id) || null;
  if (before === element)
    return;
  if (before) {
    before.classList.remove('down');
    release(SOURCE.touch, touchButtons.indexOf(before));
  }
  fingers.set(id, element);
  if (element) {
    element.classList.add('down');
    press(SOURCE.touch, touchButtons.indexOf(element), BUTTON[element.dataset.button]);
  }
}

touchPad.addEventListener('pointerdown', (event) => {
  const element = event.target.closest('#touch button');
  if (!element)
    return;
  event.preventDefault();
  // The finger is followed over the whole pad, not held by this button.
  if (element.hasPointerCapture(event.pointerId))
    element.releasePointerCapture(event.pointerId);
  fingerOn(event.pointerId, element);
});
touchPad.addEventListener('pointermove', (event) => {
  if (fingers.has(event.pointerId))
    fingerOn(event.pointerId, touchButtonAt(event.clientX, event.clientY));
});
const fingerUp = (event) => {
  if (!fingers.has(event.pointerId))
    return;
  fingerOn(event.pointerId, null);
  fingers.delete(event.pointerId);
};
window.addEventListener('pointerup', fingerUp);
window.addEventListener('pointercancel', fingerUp);
touchPad.addEventListener('pointerleave', (event) => {
  if (fingers.has(event.pointerId) && event.pointerType !== 'mouse')
    fingerOn(event.pointerId, null);
});
touchPad.addEventListener('contextmenu', (event) => event.preventDefault());

const touchWanted = params.has('touch') || matchMedia('(pointer: coarse)').matches;
function showTouch() {
  touchPad.hidden = false;
  document.body.classList.add('touch');
}
if (touchWanted)
  showTouch();
window.addEventListener('touchstart', showTouch, { once: true, passive: true });

// A drag on the playfield steers the paddle to the pointer; a tap or a
// click without a drag is MIDDLE.
const steering = { id: null, startX: 0, startY: 0, dragging: false };

function areaX(clientX) {
  const box = canvas.getBoundingClientRect();
  const x = Math.round(((clientX - box.left) / box.width) * AREA.width);
  return Math.max(0, Math.min(AREA.width - 1, x));
}

function stopSteering() {
  if (steering.id === null)
    return;
  steering.id = null;
  if (steering.dragging)
    send({ type: 'steer', x: -1 });
  steering.dragging = false;
}

// Heard on the stage, as each game may bring a canvas of its own.
const stage = document.getElementById('stage');
stage.addEventListener('pointerdown', (event) => {
  if (event.target !== canvas || steering.id !== null ||
      (event.pointerType === 'mouse' && event.button !== 0))
    return;
  event.preventDefault();
  resumeAudio();
  canvas.setPointerCapture(event.pointerId);
  Object.assign(steering, { id: event.pointerId, startX: event.clientX, startY: event.clientY, dragging: false });
});
stage.addEventListener('pointermove', (event) => {
  if (event.pointerId !== steering.id)
    return;
  if (!steering.dragging &&
      Math.hypot(event.clientX - steering.startX, event.clientY - steering.startY) < DRAG_PX)
    return;
  steering.dragging = true;
  send({ type: 'steer', x: areaX(event.clientX) });
});
stage.addEventListener('pointerup', (event) => {
  if (event.pointerId !== steering.id)
    return;
  const tapped = !steering.dragging;
  stopSteering();
  if (tapped) {
    press(SOURCE.pointer, 1, BUTTON.middle);
    release(SOURCE.pointer, 1);
  }
});
stage.addEventListener('pointercancel', (event) => {
  if (event.pointerId === steering.id)
    stopSteering();
});

// A d-pad or the first stick's horizontal axis moves; the main face button
// (on a radio, its first button or switch) is MIDDLE; start is BACK.
const padHeld = { left: false, right: false, middle: false, back: false };
const PAD_BUTTON = { left: BUTTON.left, right: BUTTON.right, middle: BUTTON.middle, back: BUTTON.back };

// A pad is read every animation frame while one is connected, whether or
// not a picture arrived. It is first looked for when the browser says one
// is there (once it is used on the page): asking before that would keep
// the browser polling for pads all the time.
let padsPolled = false;
function pollGamepads() {
  readGamepads();
  if (navigator.getGamepads && [...navigator.getGamepads()].some((pad) => pad && pad.connected))
    requestAnimationFrame(pollGamepads);
  else
    padsPolled = false;
}
function watchGamepads() {
  if (padsPolled)
    return;
  padsPolled = true;
  requestAnimationFrame(pollGamepads);
}
window.addEventListener('gamepadconnected', watchGamepads);

function readGamepads() {
  if (!navigator.getGamepads)
    return;
  const pad = [...navigator.getGamepads()].find((candidate) => candidate && candidate.connected);
  const pressed = (index) => !!(pad && pad.buttons[index] && pad.buttons[index].pressed);
  const axis = pad && pad.axes.length > 0 ? pad.axes[0] : 0;
  const now = {
    left: pressed(14) || axis < -STICK_DEAD_ZONE,
    right: pressed(15) || axis > STICK_DEAD_ZONE,
    middle: pressed(0),
    back: pressed(9),
  };
  for (const name of Object.keys(now)) {
    if (now[name] === padHeld[name])
      continue;
    padHeld[name] = now[name];
    if (now[name])
      press(SOURCE.gamepad, PAD_KEY[name], PAD_BUTTON[name]);
    else
      release(SOURCE.gamepad, PAD_KEY[name]);
  }
}

// ---- The sound --------------------------------------------------------

// The audio graph is built as the page loads, so that the first press only
// has to resume it (browsers keep audio suspended until a gesture): the
// buzzer of that very press is heard.
const audio = { context: null, node: null, ready: null };
let muted = storageGet(STORE_MUTED) === '1';

function showMuted() {
  muteButton.setAttribute('aria-pressed', String(muted));
  muteButton.textContent = muted ? 'Sound off' : 'Sound on';
  if (audio.node)
    audio.node.port.postMessage({ type: 'mute', on: muted });
}

async function buildAudio() {
  if (!window.AudioContext || !window.AudioWorkletNode)
    return false;
  try {
    const context = new AudioContext({ latencyHint: 'interactive' });
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
    return true;
  } catch (error) {
    vmx.logs.push('no sound: ' + error);
    return false;
  }
}

function resumeAudio() {
  if (audio.context && audio.context.state !== 'running')
    audio.context.resume().catch(() => {});
}

// The game's buzzer joins the graph once both are there. The cooperative
// module shares no memory with the worklet: they get a channel of their own.
async function connectSound() {
  if (!await audio.ready)
    return;
  if (!coop) {
    send({ type: 'sound', sampleRate: audio.context.sampleRate });
    return;
  }
  const channel = new MessageChannel();
  audio.node.port.postMessage({ type: 'channel', port: channel.port1 }, [channel.port1]);
  worker.postMessage({ type: 'sound', sampleRate: audio.context.sampleRate, port: channel.port2 },
    [channel.port2]);
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

demoButton.addEventListener('click', () => {
  demo = !demo;
  showDemo();
  send({ type: 'demo', on: demo });
});

document.getElementById('full').addEventListener('click', toggleFullScreen);
document.getElementById('help-open').addEventListener('click', () => {
  // The game waits while the help is read: nothing reaches it meanwhile.
  away();
  help.showModal();
});
// A button clicked with the mouse gives the keyboard back to the game (Space
// would click it again); one reached with Tab keeps it, for Enter and Space.
document.querySelectorAll('#bar button, #notice button').forEach((element) => {
  element.addEventListener('pointerup', (event) => {
    if (event.pointerType === 'mouse')
      element.blur();
  });
});
againButton.addEventListener('click', () => {
  againButton.blur();
  startGame();
});

// ---- The worker -------------------------------------------------------

// The game's own refusal of the goggles' video mode, in its words.
const REFUSAL = /ODMOWA: tryb gogli=(-?\d+)/;
const MODE_NAMES = { '0': 'unknown', '1': 'normal', '2': 'HDMI', '3': 'AV' };

function ended(status) {
  vmx.ended = status;
  frames = null;
  const refusal = vmx.logs.map((line) => REFUSAL.exec(line)).find(Boolean);
  if (status === 2 && refusal) {
    tell(`The game will not run: the goggles report the ${MODE_NAMES[refusal[1]] || 'unknown'} ` +
         'video mode, and it plays only in their normal mode. Open the page without ' +
         '--goggle-mode to play.');
  } else if (status === 0) {
    tell('The game has ended. Your best score is kept.', { again: true });
  } else {
    tell(`The game stopped (status ${status}): ${vmx.logs[vmx.logs.length - 1] || 'see the log'}`, { again: true });
  }
}

function onMessage(event) {
  const message = event.data;
  switch (message.type) {
    case 'ready':
      vmx.started = true;
      if (!coop)
        vmx.memory = message.memory;
      connectSound();
      // The worker draws, or (the cooperative module) sends each picture.
      if (drawInWorker || coop) {
        frames = drawInWorker ? null : { coop: true, pixels: null };
        break;
      }
      frames = {
        word: new Uint32Array(message.memory, message.frameWord, 1),
        wait: new Int32Array(message.memory, message.frameWord, 1),
        views: message.buffers.map((at) => new Uint8Array(message.memory, at, AREA.width * AREA.height * 4)),
        changes: message.changes.map((at) => new Int32Array(message.memory, at, 1 + 4 * message.changesCapacity)),
        showing: 2,
      };
      awaitPicture();
      break;
    case 'frame':
      if (frames && frames.coop) {
        frames.pixels = message.pixels;
        drawSoon();
      }
      break;
    case 'first-frame':
      firstFrame();
      break;
    case 'picture': {
      const resolve = vmx.fileWaiters.get(message.id);
      vmx.fileWaiters.delete(message.id);
      if (resolve)
        resolve(message.pixels);
      break;
    }
    case 'sound':
      if (coop) {
        showMuted();
        break;
      }
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
    case 'glance': {
      if (message.drawn) {
        vmx.framesDrawn = message.drawn.frames;
        vmx.drawMs = message.drawn.ms;
      }
      const before = vmx.glance;
      vmx.glance = message.glance;
      // The score of a game over of the player's own is what the game
      // would save as its best; the page keeps it, if it is higher.
      if (message.glance.phase === PHASE_GAME_OVER && !message.glance.demoPlayed &&
          (!before || before.phase !== PHASE_GAME_OVER))
        keepBest(message.glance.score);
      showBest(message.glance.demoPlayed && message.glance.phase !== PHASE_TITLE);
      break;
    }
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
    case 'failed':
      tell(`The game could not start: ${message.reason}. Reload the page to try again.`);
      break;
    case 'replay':
      vmx.lastReplay = message.bytes;
      offerReplay(message.bytes);
      break;
    case 'refused':
      tell('The game could not start: ' + (vmx.logs[vmx.logs.length - 1] || 'see the log'));
      break;
    case 'ended':
      ended(message.status);
      break;
  }
}

// A canvas is handed to a worker once: each game's worker gets a new one,
// in the place of the last.
function canvasForWorker() {
  if (canvas.dataset.handedOver) {
    const fresh = canvas.cloneNode(false);
    delete fresh.dataset.handedOver;
    canvas.replaceWith(fresh);
    canvas = fresh;
  }
  canvas.dataset.handedOver = 'yes';
  return canvas.transferControlToOffscreen();
}

// A new game in a new worker; the kept best goes with it. Also "play
// again" once a game has ended. replay: a recorded game to play back
// instead (once; playing again is a game of the player's own).
function startGame(replay = null) {
  if (worker)
    worker.terminate();
  frames = null;
  vmx.ended = null;
  vmx.started = false;
  vmx.games += 1;
  replaying = replay !== null && replay !== undefined;
  tell('');
  try {
    worker = new Worker(coop ? 'worker.js?build=coop' : 'worker.js');
  } catch (error) {
    tell(`This browser will not start the game's worker here (${error.name}). ` +
         'Open the page from a web server: scripts/web serves it.');
    return;
  }
  worker.onmessage = onMessage;
  const offscreen = drawInWorker ? canvasForWorker() : null;
  worker.onerror = (event) => {
    event.preventDefault();
    tell('The game\'s files could not be loaded' + (event.message ? ` (${event.message})` : '') +
         '. Check the connection and reload the page.');
  };
  const best = keptBest();
  worker.postMessage({
    type: 'start',
    options: {
      args: simArgs,
      script: params.get('script') || '',
      best: virtualTime || best === 0 ? '' : `${best}\n`,
      demo,
      virtualTime,
      replay,
    },
    canvas: offscreen,
  }, offscreen ? [offscreen] : []);
  const game = vmx.games;
  setTimeout(() => {
    if (vmx.games === game && !vmx.started && vmx.ended === null && notice.hidden)
      tell('The game has not started. Reload the page; if it still does not start, this browser may not run it.');
  }, START_WAIT_MS);
}

function start(replay) {
  if (location.protocol === 'file:') {
    tell('The game cannot run from a file opened in the browser. Serve the folder over HTTP ' +
         '(scripts/web does) and open its address.');
    return;
  }
  if (typeof WebAssembly === 'undefined') {
    tell('This browser cannot run the game: it has no WebAssembly (a current Chromium, ' +
         'Firefox or Safari has).');
    return;
  }
  coop = coop || !canShare();
  vmx.build = coop ? 'coop' : 'threads';
  vmx.drawnBy = drawInWorker ? 'worker' : 'page';
  audio.ready = buildAudio();
  showDemo();
  showMuted();
  showBest();
  startGame(replay);
}

function registerServiceWorker() {
  if (!('serviceWorker' in navigator) || location.protocol === 'file:')
    return Promise.resolve(null);
  return navigator.serviceWorker.register('sw.js').catch((error) => {
    vmx.logs.push('no service worker: ' + error);
    return null;
  });
}

// Resolves true once the service worker is active, false if it fails to
// install (it then never becomes ready).
function serviceWorkerActive(registration) {
  return new Promise((resolve) => {
    const follow = (worker) => {
      if (!worker)
        return false;
      if (worker.state === 'activated') {
        resolve(true);
        return true;
      }
      worker.addEventListener('statechange', () => {
        if (worker.state === 'activated')
          resolve(true);
        else if (worker.state === 'redundant')
          resolve(false);
      });
      return true;
    };
    if (!follow(registration.installing || registration.waiting || registration.active))
      resolve(false);
  });
}

// The game's threads share memory with the page, which browsers allow only
// in an isolated page. A host that cannot send the headers for that gets
// them from the page's own service worker (which then takes over the page
// from its next load on: the page loads once more).
async function boot() {
  if (location.protocol !== 'file:' && !crossOriginIsolated && window.isSecureContext &&
      !coopWanted &&
      !sessionStorage.getItem('vmxbrikon.reloaded')) {
    const registration = await registerServiceWorker();
    if (registration) {
      if (await serviceWorkerActive(registration)) {
        sessionStorage.setItem('vmxbrikon.reloaded', '1');
        location.reload();
        return;
      }
      // Not isolated: the cooperative module plays instead.
    }
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
