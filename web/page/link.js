// The game's worker: one per game, started with the page's options, the
// canvas it draws on and the kept best; its messages become what the page
// shows. Everything the page sends the game goes through send().
import { CONTRACT } from './contract.js';
import { TO_PAGE, TO_WORKER } from './messages.js';
import { canvasForWorker, pictureArrived, showPicture } from './picture.js';
import { keepBest, keptBest } from './storage.js';
import { connectSound } from './sound.js';
import { offerReplay, showBest, showDemo, tell } from './bar.js';
import { replayFileName } from './replay.js';
import { vmx } from './vmx.js';
import { watchEnded, watchGlanced, watchReported } from './watch.js';

const PHASE_TITLE = CONTRACT.phases.title;
const PHASE_GAME_OVER = CONTRACT.phases.gameOver;
// The game's own refusal of the goggles' video mode, in its words.
const REFUSAL = /ODMOWA: tryb gogli=(-?\d+)/;
const MODE_NAMES = { '0': 'unknown', '1': 'normal', '2': 'HDMI', '3': 'AV' };

const link = {
  worker: null, replay: null, options: null, demo: false, demoAskedAt: -Infinity, onFirstFrame: null, onStarted: null,
};
// A glance may have left the game before the page's own switch of the demo
// reached it: for this long, the page's word stands.
const DEMO_SETTLE_MS = 1000;
let nextId = 1;
const fileWaiters = new Map();

export function send(message) {
  if (link.worker)
    link.worker.postMessage(message);
}

export function currentWorker() {
  return link.worker;
}

export function demoOn() {
  return link.demo;
}

export function setDemo(on) {
  link.demo = on;
  link.demoAskedAt = performance.now();
  showDemo(on);
  send({ type: TO_WORKER.demo, on, at: performance.timeOrigin + performance.now() });
}

export function playingReplay() {
  return link.replay !== null;
}

function lastLine() {
  return vmx.logs[vmx.logs.length - 1] || 'see the log';
}

function ended(status) {
  vmx.ended = status;
  const refusal = vmx.logs.map((line) => REFUSAL.exec(line)).find(Boolean);
  if (status === 2 && refusal) {
    tell(`The game will not run: the goggles report the ${MODE_NAMES[refusal[1]] || 'unknown'} ` +
         'video mode, and it plays only in their normal mode. Open the page without ' +
         '--goggle-mode to play.');
  } else if (status === 0) {
    tell(link.replay ? 'The replay has ended.' : 'The game has ended. Your best score is kept.',
      { again: link.replay ? 'Play a game' : 'Play again' });
  } else {
    tell(`The game stopped (status ${status}): ${lastLine()}`, { again: 'Play again' });
  }
}

function refused() {
  if (link.replay) {
    // The game names the file by where the worker put it; the player knows
    // it by its own name.
    const why = /cannot replay \S+: (.*)$/.exec(lastLine());
    tell(`${link.replay.name} cannot be played: ${why ? why[1] : lastLine()}`, { again: 'Play a game' });
    return;
  }
  tell('The game could not start: ' + lastLine());
}

// The score of a game over of the player's own is what the game would
// save as its best; the page keeps it, if it is higher.
function glanced(message) {
  if (message.drawn) {
    vmx.framesDrawn = message.drawn.frames;
    vmx.drawMs = message.drawn.ms;
  }
  const before = vmx.glance;
  const glance = message.glance;
  vmx.glance = glance;
  if (glance.phase === PHASE_GAME_OVER && !glance.demoPlayed && !link.options.virtualTime && !link.replay &&
      (!before || before.phase !== PHASE_GAME_OVER) && keepBest(glance.score))
    showBest();
  showBest(glance.demoPlayed && glance.phase !== PHASE_TITLE);
  // The session owns the demo: it ends it when the player takes over.
  if (!link.options.virtualTime && glance.demo !== link.demo &&
      performance.now() - link.demoAskedAt > DEMO_SETTLE_MS) {
    link.demo = glance.demo;
    showDemo(glance.demo);
  }
}

function onMessage(event) {
  const message = event.data;
  switch (message.type) {
    case TO_PAGE.ready:
      vmx.started = true;
      if (link.onStarted)
        link.onStarted();
      connectSound(link.worker);
      break;
    case TO_PAGE.frame:
      showPicture(message.pixels);
      if (link.onFirstFrame)
        link.onFirstFrame();
      break;
    case TO_PAGE.firstFrame:
      if (link.onFirstFrame)
        link.onFirstFrame();
      break;
    case TO_PAGE.picture:
      pictureArrived(message.id, message.pixels);
      break;
    case TO_PAGE.glance:
      glanced(message);
      if (link.replay)
        watchGlanced(message.glance);
      break;
    case TO_PAGE.watch:
      watchReported(message);
      break;
    case TO_PAGE.log:
      vmx.logs.push(message.line);
      console.log(message.line);
      break;
    case TO_PAGE.files: {
      const resolve = fileWaiters.get(message.id);
      fileWaiters.delete(message.id);
      if (resolve)
        resolve(message.files);
      break;
    }
    case TO_PAGE.failed:
      tell(`The game could not start: ${message.reason}. Reload the page to try again.`);
      break;
    case TO_PAGE.replay:
      vmx.lastReplay = message.bytes;
      offerReplay(message.bytes, replayFileName(new Date()));
      break;
    case TO_PAGE.refused:
      refused();
      break;
    case TO_PAGE.ended:
      ended(message.status);
      watchEnded();
      break;
  }
}

// A new game in a new worker; the kept best goes with it. replay: { bytes,
// name } of a recorded game to play back instead (once; playing again is a
// game of the player's own). Answers false when no worker could be made.
export function startGame(options, replay = null) {
  if (link.worker)
    link.worker.terminate();
  link.options = options;
  link.replay = replay;
  vmx.ended = null;
  vmx.started = false;
  vmx.glance = null;
  vmx.games += 1;
  tell('');
  let worker;
  try {
    worker = new Worker('worker.js', { type: 'module' });
  } catch (error) {
    tell(`This browser will not start the game's worker here (${error.name}). ` +
         'Open the page from a web server: scripts/web serves it.');
    return false;
  }
  link.worker = worker;
  worker.onmessage = onMessage;
  worker.onerror = (event) => {
    event.preventDefault();
    tell('The game\'s files could not be loaded' + (event.message ? ` (${event.message})` : '') +
         '. Check the connection and reload the page.');
  };
  const best = keptBest();
  const canvas = canvasForWorker();
  worker.postMessage({
    type: TO_WORKER.start,
    options: {
      args: options.simArgs,
      script: options.script,
      best: options.virtualTime || best === 0 ? '' : `${best}\n`,
      demo: link.demo,
      virtualTime: options.virtualTime,
      replay: replay && replay.bytes,
      watch: replay && replay.watch,
    },
    canvas,
  }, canvas ? [canvas] : []);
  return true;
}

export function onFirstFrame(listener) {
  link.onFirstFrame = listener;
}

export function onStarted(listener) {
  link.onStarted = listener;
}

// A folder's files in the game's file system (a test's screenshots).
vmx.files = (dir) => {
  const id = nextId++;
  return new Promise((resolve) => {
    fileWaiters.set(id, resolve);
    send({ type: TO_WORKER.files, id, dir });
  });
};
