// Watching a replay: pause and play on, the speed, a timeline that takes
// the game to any moment, a frame at a time while paused, and the game's
// time, score and level where it stands. The game's worker paces the
// replay as the watcher asks (web/worker_entry.cpp); a moment the game has
// already passed is reached by playing the replay again from its start, at
// full speed, in a fresh worker (the module runs one game per load).
import { TO_WORKER } from './messages.js';
import { vmx } from './vmx.js';

export const SPEEDS = [0.25, 0.5, 1, 2, 4, 8];
// How far ← and → take the game.
const SKIP_MS = 5000;
// A seek that takes longer than this shows how far it has come.
const PROGRESS_AFTER_MS = 300;

const panel = document.getElementById('watch');
const pauseButton = document.getElementById('watch-pause');
const stepButton = document.getElementById('watch-step');
const speedButton = document.getElementById('watch-speed');
const timeline = document.getElementById('watch-time');
const where = document.getElementById('watch-where');
const progress = document.getElementById('watch-progress');

const watch = {
  on: false, replay: null, send: null, restart: null,
  paused: false, speed: 1, seekMs: null, sent: 0, settled: false, said: '', seekingSince: 0, lengthMs: 0, atMs: 0, ended: false,
};

function clock(ms) {
  const seconds = Math.floor(Math.max(0, ms) / 1000);
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, '0')}`;
}

function show() {
  pauseButton.textContent = watch.paused ? 'Play' : 'Pause';
  pauseButton.setAttribute('aria-pressed', String(watch.paused));
  stepButton.disabled = !watch.paused;
  speedButton.textContent = `${watch.speed}×`;
  timeline.max = String(Math.max(watch.lengthMs, watch.atMs, 1));
  if (watch.seekMs === null && document.activeElement !== timeline)
    timeline.value = String(watch.atMs);
  const glance = vmx.glance;
  const length = watch.lengthMs > 0 ? clock(watch.lengthMs) : '…';
  const text = `${clock(watch.atMs)} / ${length}` +
               (glance ? ` · score ${glance.score} · level ${glance.level}` : '');
  if (where.textContent !== text)
    where.textContent = text;
  const seeking = watch.seekMs !== null && performance.now() - watch.seekingSince > PROGRESS_AFTER_MS;
  progress.hidden = !seeking && watch.said === '';
  progress.textContent = seeking ? `Going to ${clock(watch.seekMs)}: ${clock(watch.atMs)}` : watch.said;
  vmx.watch = {
    paused: watch.paused, speed: watch.speed, seeking: watch.seekMs !== null,
    atMs: watch.atMs, lengthMs: watch.lengthMs, settled: watch.settled,
  };
}

function pace(message) {
  watch.sent += 1;
  watch.settled = false;
  watch.send(Object.assign({ type: TO_WORKER.watch }, message));
}

export function togglePause() {
  if (!watch.on)
    return;
  watch.paused = !watch.paused;
  pace({ paused: watch.paused });
  show();
}

export function setSpeed(speed) {
  if (!watch.on || !SPEEDS.includes(speed))
    return;
  watch.speed = speed;
  pace({ speed });
  show();
}

function nextSpeed(by) {
  const index = SPEEDS.indexOf(watch.speed) + by;
  setSpeed(SPEEDS[Math.min(SPEEDS.length - 1, Math.max(0, index))]);
}

// The game goes to ms of its time: forward in this worker; backward, or
// after the replay has ended, from the start in a fresh one.
export function seek(ms) {
  if (!watch.on)
    return;
  const target = Math.max(0, Math.min(Math.round(ms), watch.lengthMs || Infinity));
  watch.seekMs = target;
  watch.said = '';
  watch.seekingSince = performance.now();
  if (target < watch.atMs || watch.ended)
    fromTheStart(target);
  else
    pace({ seekMs: target });
  show();
}

function fromTheStart(target) {
  watch.ended = false;
  watch.atMs = 0;
  watch.restart({ seekMs: target, paused: watch.paused, speed: watch.speed });
  // The fresh worker hears these with its start.
  watch.sent = 1;
  watch.settled = false;
}

export function step() {
  if (!watch.on || !watch.paused || watch.seekMs !== null)
    return;
  pace({ step: true });
  show();
}

// The watcher's keys, before the game's (which do nothing in a replay):
// Space or K pauses, ← / → go back or on 5 s, , and . step a frame while
// paused, + and − change the speed. Answers whether the key was taken.
export function watchKey(event) {
  // A focused control (reached with Tab) takes its own keys.
  const control = event.target instanceof HTMLButtonElement || event.target instanceof HTMLInputElement;
  if (!watch.on || event.ctrlKey || event.altKey || event.metaKey || control)
    return false;
  const actions = {
    Space: togglePause, KeyK: togglePause,
    ArrowLeft: () => seek(watch.atMs - SKIP_MS), ArrowRight: () => seek(watch.atMs + SKIP_MS),
    Period: step, Comma: step,
    Equal: () => nextSpeed(1), NumpadAdd: () => nextSpeed(1),
    Minus: () => nextSpeed(-1), NumpadSubtract: () => nextSpeed(-1),
  };
  const action = actions[event.code];
  if (!action)
    return false;
  event.preventDefault();
  if (!event.repeat)
    action();
  return true;
}

// A replay starts: send(message) reaches its worker; restart(watchFrom)
// plays it again from its start, to watchFrom.seekMs.
export function startWatching(replay, { send, restart }) {
  const from = replay.watch || {};
  Object.assign(watch, {
    on: true, replay, send, restart, ended: false,
    paused: Boolean(from.paused), speed: from.speed || 1, atMs: 0,
    seekMs: typeof from.seekMs === 'number' ? from.seekMs : null,
    sent: replay.watch ? 1 : 0, settled: !replay.watch,
  });
  if (!replay.watch)
    watch.lengthMs = 0;
  panel.hidden = false;
  document.documentElement.classList.add('watching');
  show();
}

export function stopWatching() {
  watch.on = false;
  panel.hidden = true;
  document.documentElement.classList.remove('watching');
  vmx.watch = null;
}

export function replayLength(ms) {
  watch.lengthMs = ms;
  if (watch.on)
    show();
}

// The replay being watched, or null.
export function watchedReplay() {
  return watch.on ? watch.replay : null;
}

// A word beside the timeline, until the next seek.
export function watchSays(text) {
  watch.said = text;
  show();
}

// The worker's word on where the watch stands. Only once it has heard
// everything the page asked is a seek or a step over.
export function watchReported(message) {
  if (!watch.on || message.heard !== watch.sent)
    return;
  // The game had already passed the moment the page thought ahead of it.
  if (typeof message.passed === 'number') {
    fromTheStart(message.passed);
    show();
    return;
  }
  watch.atMs = message.atMs;
  watch.settled = !message.seeking;
  if (watch.settled)
    watch.seekMs = null;
  show();
}

export function watchGlanced(glance) {
  if (!watch.on)
    return;
  if (watch.seekMs === null || glance.elapsedMs <= watch.seekMs)
    watch.atMs = glance.elapsedMs;
  show();
}

export function watchEnded() {
  if (!watch.on)
    return;
  watch.ended = true;
  watch.seekMs = null;
  if (vmx.glance && vmx.glance.elapsedMs > watch.lengthMs)
    watch.lengthMs = vmx.glance.elapsedMs;
  show();
}

// leave(): a game of one's own instead;
// share(): the replay as a link.
export function wireWatch({ leave, share }) {
  document.getElementById('watch-leave').addEventListener('click', leave);
  document.getElementById('watch-link').addEventListener('click', share);
  pauseButton.addEventListener('click', togglePause);
  stepButton.addEventListener('click', step);
  speedButton.addEventListener('click', () => setSpeed(SPEEDS[(SPEEDS.indexOf(watch.speed) + 1) % SPEEDS.length]));
  // The timeline follows the game until it is taken: pointer, touch and
  // its own keys move it, and letting go takes the game there.
  timeline.addEventListener('change', () => seek(Number(timeline.value)));
  setInterval(() => {
    if (watch.on && watch.seekMs !== null)
      show();
  }, 250);
}
