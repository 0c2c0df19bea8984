// The game's worker: loads the module (the game, the emulated goggles and
// the simulator's session), runs the game's threads as fibers taking turns
// on this one thread, paced by the display, and carries messages between
// the game and the page. It draws each picture on the canvas the page
// handed it, and sends the sound's samples straight to whoever plays them.
import { CONTRACT } from './contract.js';
import { TO_PAGE, TO_WORKER, localMoment } from './messages.js';
import { putChanges } from './paint.js';

const AREA = CONTRACT.area;
const PICTURE_BYTES = AREA.width * AREA.height * 4;
const LAST_GAME_PATH = '/last-game.vmxr';

let module = null;
let running = false;
let screen = null;  // the canvas the page handed over, or null where the page draws
let soundPort = null;

function post(message, transfer = []) {
  self.postMessage(message, transfer);
}

// A module that cannot be loaded or started is said so to the page, which
// tells the player; nothing is left waiting in silence.
// reason: for the player; detail: for the log.
function fail(reason, detail) {
  post({ type: TO_PAGE.log, line: String(detail) });
  post({ type: TO_PAGE.failed, reason });
}

function cString(text) {
  const bytes = new TextEncoder().encode(text);
  const address = module._malloc(bytes.length + 1);
  module.HEAPU8.set(bytes, address);
  module.HEAPU8[address + bytes.length] = 0;
  return address;
}

// ---- What the module calls between the fibers' turns ----------------------

function frame(at, changesAt) {
  if (screen === null) {
    // The page draws: the picture goes to it whole, as a buffer of its own.
    const pixels = module.HEAPU8.slice(at, at + PICTURE_BYTES).buffer;
    post({ type: TO_PAGE.frame, pixels }, [pixels]);
    return;
  }
  // This module's memory is its own, and never grows: the picture is put
  // from where it lies, only where it changed.
  const start = performance.now();
  const image = new ImageData(new Uint8ClampedArray(module.HEAPU8.buffer, at, PICTURE_BYTES), AREA.width, AREA.height);
  const changes = new Int32Array(module.HEAPU8.buffer, changesAt, 1 + 4 * module.HEAP32[changesAt >> 2]);
  putChanges(screen.context, image, changes);
  screen.ms += performance.now() - start;
  screen.frames += 1;
  if (screen.frames === 1)
    post({ type: TO_PAGE.firstFrame });
}

function sound(samplesAt, from, count, capacity) {
  if (soundPort === null)
    return;
  const chunk = new Int16Array(count);
  const ring = new Int16Array(module.HEAP16.buffer, samplesAt, capacity);
  for (let i = 0; i < count; i += 1)
    chunk[i] = ring[(from + i) % capacity];
  soundPort.postMessage({ samples: chunk }, [chunk.buffer]);
}

let gamesOffered = 0;
function glance(at, games) {
  const values = new Float64Array(module.HEAPF64.buffer, at, CONTRACT.glance.length);
  const seen = {};
  CONTRACT.glance.forEach((field, index) => {
    seen[field.name] = field.flag ? values[index] === 1 : values[index];
  });
  post({ type: TO_PAGE.glance, glance: seen, drawn: screen && { frames: screen.frames, ms: screen.ms } });
  // Once a game ends, the run's replay up to that end goes to the page,
  // which offers it for download.
  if (games !== gamesOffered) {
    gamesOffered = games;
    const path = cString(LAST_GAME_PATH);
    const size = module._web_write_last_game(path);
    module._free(path);
    if (size > 0)
      post({ type: TO_PAGE.replay, bytes: module.FS.readFile(LAST_GAME_PATH), games });
  }
}

// Where a watched replay stands, once a seek or a step is over; heard: the
// page's messages about its pace so far, so that it knows which this is.
let paceHeard = 0;
function watch(paused, speed, seeking, atMs) {
  post({ type: TO_PAGE.watch, paused: paused === 1, speed, seeking: seeking === 1, atMs, heard: paceHeard });
}

function pace(message) {
  paceHeard += 1;
  if (typeof message.speed === 'number')
    module._web_watch_speed(message.speed);
  if (typeof message.paused === 'boolean')
    module._web_watch_pause(message.paused ? 1 : 0);
  // A moment the game has passed is had by playing the replay again.
  if (typeof message.seekMs === 'number' && module._web_watch_seek(message.seekMs) !== 0)
    post({ type: TO_PAGE.watch, passed: message.seekMs, heard: paceHeard });
  if (message.step)
    module._web_watch_step();
}

// ---- Starting ---------------------------------------------------------------

async function load() {
  let create;
  try {
    create = (await import('./vmxbrikon.js')).default;
  } catch (error) {
    fail('the game\'s files could not be loaded', error);
    return null;
  }
  try {
    return await create({
      locateFile: (name) => name,
      // The game's diagnostics are lines on its standard error, not faults
      // of the page: they go to the page's log as they are.
      print: (line) => post({ type: TO_PAGE.log, line }),
      printErr: (line) => post({ type: TO_PAGE.log, line }),
      // A module that cannot be fetched or compiled ends here.
      onAbort: (what) => fail('the game\'s module is missing or damaged', what),
    });
  } catch (error) {
    fail('the game\'s module is missing or damaged', error);
    return null;
  }
}

async function start(options) {
  module = await load();
  if (module === null)
    return;
  Object.assign(module, { vmxFrame: frame, vmxSound: sound, vmxGlance: glance, vmxWatch: watch });
  let text = options.args;
  if (options.script) {
    // A test's timed presses, as the simulator reads them from a file.
    module.FS.writeFile('/script.txt', options.script);
    text += ' --script /script.txt';
  }
  if (options.replay) {
    // A replay to play back, from ?replay=URL or a file dropped on the page.
    module.FS.writeFile('/replay.vmxr', options.replay);
    text += ' --replay /replay.vmxr';
    // Run through unseen, as fast as it goes: how long is it?
    if (options.measure)
      text += ' --headless --mute';
  }
  const args = cString(text);
  const best = cString(options.best);
  const status = module._web_start(args, best);
  module._free(args);
  module._free(best);
  if (status !== 0) {
    post({ type: TO_PAGE.refused });
    return;
  }
  running = true;
  if (options.watch)
    pace(options.watch);
  if (options.demo && !options.virtualTime)
    module._web_set_demo(1, performance.now());
  post({ type: TO_PAGE.ready });
  await module.ccall('web_run', null, [], [], { async: true });
  running = false;
  post({ type: TO_PAGE.ended, status: module._web_poll() });
}

// ---- The page's messages ------------------------------------------------------

// The canvas as it is, for the page's tests (and anyone curious).
function answerPicture(id) {
  const pixels = screen.context.getImageData(0, 0, AREA.width, AREA.height).data.buffer;
  post({ type: TO_PAGE.picture, id, pixels }, [pixels]);
}

function startSound(message) {
  if (module._web_start_sound(message.sampleRate, message.leadMs) !== 0)
    return;
  soundPort = message.port;
  soundPort.onmessage = (event) => module._web_sound_report(event.data.read);
}

const handlers = {
  // The game's session takes a press or a drag of the player's own over
  // from the demo itself.
  [TO_WORKER.press]: (m, at) => module._web_press(m.source, m.key, m.button, at),
  [TO_WORKER.release]: (m, at) => module._web_release(m.source, m.key, at),
  [TO_WORKER.steer]: (m, at) => module._web_steer(m.x, at),
  [TO_WORKER.demo]: (m, at) => module._web_set_demo(m.on ? 1 : 0, at),
  [TO_WORKER.away]: (m, at) => module._web_hidden(at),
  [TO_WORKER.sound]: (m) => startSound(m),
  [TO_WORKER.watch]: (m) => pace(m),
  [TO_WORKER.files]: (m) => {
    // The files of a folder (a test's screenshots), by name.
    const files = {};
    for (const name of module.FS.readdir(m.dir)) {
      if (name !== '.' && name !== '..')
        files[name] = module.FS.readFile(m.dir + '/' + name);
    }
    post({ type: TO_PAGE.files, id: m.id, files });
  },
};

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === TO_WORKER.start) {
    if (message.canvas)
      screen = { context: message.canvas.getContext('2d', { alpha: false }), frames: 0, ms: 0 };
    start(message.options);
    return;
  }
  if (message.type === TO_WORKER.picture && screen) {
    answerPicture(message.id);
    return;
  }
  // Until the game runs, and once it has ended, nothing else means anything
  // but the files it left.
  const handler = handlers[message.type];
  if (!handler || (!running && message.type !== TO_WORKER.files) || module === null)
    return;
  handler(message, typeof message.at === 'number' ? localMoment(message.at) : performance.now());
};
