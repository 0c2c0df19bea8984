// The player's inputs: keys, the on-screen buttons, a drag or tap on the
// playfield, and a gamepad. The game's session owns the buttons: the page
// only says what goes down and up, and when (each message carries the
// moment of its event, so the game sees it at that moment of its own time).
import { CONTRACT } from './contract.js';
import { TO_WORKER, sharedMoment } from './messages.js';
import { areaX, currentCanvas } from './picture.js';

const BUTTON = CONTRACT.buttons;
const SOURCE = CONTRACT.sources;
// The keys and the buttons they stand for, as the simulator's window has
// them: by where they sit on the keyboard (event.code), each with its
// number among the keys.
const KEYS = Object.fromEntries(CONTRACT.keys.filter((entry) => entry.button !== 'fullscreen')
  .map((entry) => [entry.code, [entry.key, entry.button]]));
const FULL_SCREEN_KEYS = CONTRACT.keys.filter((entry) => entry.button === 'fullscreen').map((entry) => entry.code);
const PAD_KEY = { left: 1, right: 2, middle: 3, back: 4 };
const PAD_BUTTON = { left: BUTTON.left, right: BUTTON.right, middle: BUTTON.middle, back: BUTTON.back };
// A stick moves the paddle once it is this far from the middle.
const STICK_DEAD_ZONE = 0.25;
// A pointer that moves this far (CSS pixels) on the playfield is a drag,
// which steers; less is a tap, which is MIDDLE.
const DRAG_PX = 10;

let sink = null;  // { send, pressed, helpOpen, toggleFullScreen }

// The moment of an event; a stamp from another clock (some drivers and
// synthetic events give one), or none, counts as now.
function at(event) {
  const now = performance.now();
  const stamp = event ? event.timeStamp : 0;
  return sharedMoment(stamp > 0 && stamp <= now && now - stamp < 1000 ? stamp : now);
}

function press(source, key, button, event) {
  sink.pressed();
  sink.send({ type: TO_WORKER.press, source, key, button, at: at(event) });
}

function release(source, key, event) {
  sink.send({ type: TO_WORKER.release, source, key, at: at(event) });
}

// ---- Keys ----------------------------------------------------------------

const keysDown = new Set();

// A key that belongs to the browser, an open dialog or a focused control
// is left to them.
function keyForPage(event) {
  if (event.ctrlKey || event.altKey || event.metaKey || sink.helpOpen())
    return false;
  const target = event.target;
  if (target instanceof Element && target !== document.body && target.closest('button, a, input, select, textarea, [tabindex]'))
    return !['Enter', 'NumpadEnter', 'Space'].includes(event.code);
  return true;
}

function onKeyDown(event) {
  if (!keyForPage(event))
    return;
  if (FULL_SCREEN_KEYS.includes(event.code)) {
    event.preventDefault();
    if (!event.repeat)
      sink.toggleFullScreen();
    return;
  }
  const entry = KEYS[event.code];
  if (!entry)
    return;
  event.preventDefault();
  if (!event.repeat && !keysDown.has(entry[0])) {
    keysDown.add(entry[0]);
    press(SOURCE.keys, entry[0], entry[1], event);
  }
}

function onKeyUp(event) {
  const entry = KEYS[event.code];
  if (entry && keysDown.delete(entry[0]))
    release(SOURCE.keys, entry[0], event);
}

// ---- The on-screen buttons ----------------------------------------------

// A finger that slides from one onto another switches button, and one that
// slides off (onto the bare page too) lets go.
const touchPad = document.getElementById('touch');
const touchButtons = [...touchPad.querySelectorAll('button')];
const fingers = new Map();  // pointer id -> the button under it, or null

function touchButtonAt(x, y) {
  const element = document.elementFromPoint(x, y);
  return (element && element.closest('#touch button')) || null;
}

function fingerOn(id, element, event) {
  const before = fingers.get(id) || null;
  if (before === element)
    return;
  if (before) {
    before.classList.remove('down');
    release(SOURCE.touch, touchButtons.indexOf(before), event);
  }
  fingers.set(id, element);
  if (element) {
    element.classList.add('down');
    press(SOURCE.touch, touchButtons.indexOf(element), BUTTON[element.dataset.button], event);
  }
}

function fingerUp(event) {
  if (!fingers.has(event.pointerId))
    return;
  fingerOn(event.pointerId, null, event);
  fingers.delete(event.pointerId);
}

function wireTouch() {
  touchPad.addEventListener('pointerdown', (event) => {
    const element = event.target.closest('#touch button');
    if (!element)
      return;
    event.preventDefault();
    // The finger is followed over the whole page, not held by this button.
    if (element.hasPointerCapture(event.pointerId))
      element.releasePointerCapture(event.pointerId);
    fingerOn(event.pointerId, element, event);
  });
  window.addEventListener('pointermove', (event) => {
    if (fingers.has(event.pointerId))
      fingerOn(event.pointerId, touchButtonAt(event.clientX, event.clientY), event);
  });
  window.addEventListener('pointerup', fingerUp);
  window.addEventListener('pointercancel', fingerUp);
  touchPad.addEventListener('contextmenu', (event) => event.preventDefault());
  // A touch screen that did not say so shows them at its first touch.
  window.addEventListener('touchstart', () => document.documentElement.classList.add('touch'),
    { once: true, passive: true });
}

// ---- Steering on the playfield ------------------------------------------

const steering = { id: null, startX: 0, startY: 0, dragging: false };

export function stopSteering(event) {
  if (steering.id === null)
    return;
  steering.id = null;
  if (steering.dragging)
    sink.send({ type: TO_WORKER.steer, x: -1, at: at(event) });
  steering.dragging = false;
}

// Heard on the stage, as each game may bring a canvas of its own.
function wireSteering() {
  const stage = document.getElementById('stage');
  stage.addEventListener('pointerdown', (event) => {
    const canvas = currentCanvas();
    if (event.target !== canvas || steering.id !== null || (event.pointerType === 'mouse' && event.button !== 0))
      return;
    event.preventDefault();
    sink.pressed();
    canvas.setPointerCapture(event.pointerId);
    Object.assign(steering, { id: event.pointerId, startX: event.clientX, startY: event.clientY, dragging: false });
  });
  stage.addEventListener('pointermove', (event) => {
    if (event.pointerId !== steering.id)
      return;
    if (!steering.dragging && Math.hypot(event.clientX - steering.startX, event.clientY - steering.startY) < DRAG_PX)
      return;
    steering.dragging = true;
    sink.send({ type: TO_WORKER.steer, x: areaX(event.clientX), at: at(event) });
  });
  stage.addEventListener('pointerup', (event) => {
    if (event.pointerId !== steering.id)
      return;
    const tapped = !steering.dragging;
    stopSteering(event);
    if (tapped) {
      press(SOURCE.pointer, 1, BUTTON.middle, event);
      release(SOURCE.pointer, 1, event);
    }
  });
  stage.addEventListener('pointercancel', (event) => {
    if (event.pointerId === steering.id)
      stopSteering(event);
  });
}

// ---- Gamepads -------------------------------------------------------------

// A d-pad or the first stick's horizontal axis moves; the main face button
// (on a radio, its first button or switch) is MIDDLE; start is BACK.
//
// A browser polls the pads for as long as a page listens for them (Chromium
// wakes a thread of its own some 200 times a second for it), and reports a
// pad only once one of its buttons is pressed. So the page listens only for
// a while after it loads or comes back into view (when a player who has
// just plugged a pad in presses its buttons), and while a pad is there; it
// then reads the pad every animation frame.
const PAD_LISTEN_MS = 15000;
const padHeld = { left: false, right: false, middle: false, back: false };
let padsPolled = false;
let listenUntil = 0;
let listenTimer = null;

function readGamepads() {
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
      press(SOURCE.gamepad, PAD_KEY[name], PAD_BUTTON[name], null);
    else
      release(SOURCE.gamepad, PAD_KEY[name], null);
  }
  return pad !== undefined;
}

function pollGamepads() {
  if (readGamepads()) {
    requestAnimationFrame(pollGamepads);
    return;
  }
  padsPolled = false;
  listenForPads();  // the pad went: a while more, for it to come back
}

function padConnected() {
  if (padsPolled)
    return;
  padsPolled = true;
  requestAnimationFrame(pollGamepads);
}

function stopListening() {
  listenTimer = null;
  if (padsPolled)
    return;
  const left = listenUntil - performance.now();
  if (left > 0) {
    listenTimer = setTimeout(stopListening, left);
    return;
  }
  window.removeEventListener('gamepadconnected', padConnected);
}

function listenForPads() {
  listenUntil = performance.now() + PAD_LISTEN_MS;
  window.addEventListener('gamepadconnected', padConnected);
  if (listenTimer === null)
    listenTimer = setTimeout(stopListening, PAD_LISTEN_MS);
}

function wireGamepads() {
  if (!navigator.getGamepads)
    return;
  listenForPads();
  window.addEventListener('focus', listenForPads);
  document.addEventListener('visibilitychange', () => {
    if (!document.hidden)
      listenForPads();
  });
}

// ---- All of them ----------------------------------------------------------

// Nobody is watching (a hidden tab, another window, a dialog): let go of
// everything the page holds, and the game is told.
export function letGo() {
  keysDown.clear();
  stopSteering(null);
  sink.send({ type: TO_WORKER.away, at: at(null) });
}

export function wireInput(target) {
  sink = target;
  window.addEventListener('keydown', onKeyDown);
  window.addEventListener('keyup', onKeyUp);
  window.addEventListener('blur', letGo);
  document.addEventListener('visibilitychange', () => {
    if (document.hidden)
      letGo();
  });
  wireTouch();
  wireSteering();
  wireGamepads();
}
