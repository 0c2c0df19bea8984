// The game's worker: loads the module (the game, the emulated goggles and
// the simulator's session), starts the game on threads of its own, and
// carries messages between them and the page. Keeping the module here, off
// the page's thread, means the file calls the game's threads make are
// served by this otherwise idle thread, never delayed by the page's drawing.
'use strict';

// A module that cannot be loaded or started is said so to the page, which
// tells the player; nothing is left waiting in silence.
// reason: for the player; detail: for the log.
function fail(reason, detail) {
  self.postMessage({ type: 'log', line: String(detail) });
  self.postMessage({ type: 'failed', reason });
}

// The page picks the module: the one with threads, or the cooperative one
// (its threads are fibers taking turns) where memory cannot be shared.
const COOP = new URLSearchParams(self.location.search).get('build') === 'coop';
const MODULE_NAME = COOP ? 'vmxbrikon-coop.js' : 'vmxbrikon.js';

try {
  importScripts('contract.js', 'picture.js', MODULE_NAME);
} catch (error) {
  fail('the game\'s files could not be loaded', error);
}

const POLL_MS = 50;
const AREA = CONTRACT.area;
const { indexMask: INDEX_MASK, fresh: FRESH, any: ANY } = CONTRACT.frameWord;

let module = null;
let demo = false;
let running = false;
let ended = false;  // the game has ended: no more pictures come

function post(message) {
  self.postMessage(message);
}

function cString(text) {
  const size = module.lengthBytesUTF8(text) + 1;
  const address = module._malloc(size);
  module.stringToUTF8(text, address, size);
  return address;
}

let glanceAt = 0;

// The game's glance, its fields named and ordered by the contract.
function glance() {
  module._web_glance(glanceAt);
  const values = new Float64Array(module.HEAPF64.buffer, glanceAt, CONTRACT.glance.length);
  const seen = {};
  CONTRACT.glance.forEach((field, index) => {
    seen[field.name] = field.flag ? values[index] === 1 : values[index];
  });
  return seen;
}

// Once a game ends, the run's replay up to that end goes to the page, which
// offers it for download.
let gamesEnded = 0;
const LAST_GAME_PATH = '/last-game.vmxr';

function offerLastGame() {
  const ended = module._web_games_ended();
  if (ended === gamesEnded)
    return;
  gamesEnded = ended;
  const path = cString(LAST_GAME_PATH);
  const size = module._web_write_last_game(path);
  module._free(path);
  if (size > 0) {
    const bytes = module.FS.readFile(LAST_GAME_PATH);
    post({ type: 'replay', bytes, games: ended });
  }
}

// ---- The picture, where the page handed this worker its canvas ----------

// The pictures are drawn here, as they are made: the page's thread does
// nothing for a frame, and a frame costs only what changed in it.
let screen = null;

function takeCanvas(canvas) {
  const context = canvas.getContext('2d', { alpha: false });
  screen = { context, image: new ImageData(AREA.width, AREA.height), frames: 0, ms: 0 };
}

function painted(start) {
  screen.ms += performance.now() - start;
  screen.frames += 1;
  if (screen.frames === 1)
    post({ type: 'first-frame' });
}

// The buffer a picture lies in, and the rectangles that came with it.
function frameBuffers() {
  const memory = module.HEAPU8.buffer;
  return [0, 1, 2].map((index) => ({
    view: new Uint8Array(memory, module._web_frame_buffer(index), AREA.width * AREA.height * 4),
    changes: new Int32Array(memory, module._web_frame_changes(index),
                            1 + 4 * module._web_frame_changes_capacity()),
  }));
}

// Sleeps on the frame handover's word (the same rules as the game's own
// viewer, starting from buffer 2) and draws each picture as it comes. A
// browser that cannot wait on the word looks every animation frame; a wake
// that never came is made up for after WAKE_CHECK_MS.
const WAKE_CHECK_MS = 100;
function watchFrames() {
  const word = new Int32Array(module.HEAPU8.buffer, module._web_frame_word(), 1);
  const buffers = frameBuffers();
  let showing = 2;
  const look = () => {
    if (ended)
      return;
    let seen = Atomics.load(word, 0);
    if ((seen & FRESH) !== 0) {
      const start = performance.now();
      showing = Atomics.exchange(word, 0, showing | ANY) & INDEX_MASK;
      paintChanges(screen.context, screen.image, buffers[showing].view, buffers[showing].changes);
      painted(start);
      seen = showing | ANY;
    }
    if (Atomics.waitAsync) {
      const result = Atomics.waitAsync(word, 0, seen, WAKE_CHECK_MS);
      if (result.async)
        result.value.then(look);
      else
        setTimeout(look);  // another picture already: after what else waits
    } else if (self.requestAnimationFrame) {
      self.requestAnimationFrame(look);
    } else {
      setTimeout(look, 16);
    }
  };
  look();
}

// The picture as it is on the canvas, for the page's tests (and anyone
// curious): its RGBA bytes.
function answerPicture(id) {
  const pixels = screen.context.getImageData(0, 0, AREA.width, AREA.height).data.buffer;
  self.postMessage({ type: 'picture', id, pixels }, [pixels]);
}

function poll() {
  const status = module._web_poll();
  offerLastGame();
  post({ type: 'glance', glance: glance(), drawn: screen && { frames: screen.frames, ms: screen.ms } });
  if (status >= 0) {
    ended = true;
    post({ type: 'ended', status });
    return;
  }
  setTimeout(poll, POLL_MS);
}

async function start(options) {
  if (typeof createVmxbrikon !== 'function')
    return;
  try {
    module = await load();
  } catch (error) {
    fail('the game\'s module is missing or damaged', error);
    return;
  }
  begin(options);
}

function load() {
  return createVmxbrikon({
    locateFile: (name) => name,
    // The threads' workers load the module from here too.
    mainScriptUrlOrBlob: new URL(MODULE_NAME, self.location.href).href,
    // The game's diagnostics are lines on its standard error, not faults
    // of the page: they go to the page's log as they are.
    print: (line) => post({ type: 'log', line }),
    printErr: (line) => post({ type: 'log', line }),
    // A module that cannot be fetched or compiled ends here.
    onAbort: (what) => fail('the game\'s module is missing or damaged', what),
  });
}

function begin(options) {
  glanceAt = module._malloc(CONTRACT.glance.length * 8);
  demo = options.demo;
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
  }
  const args = cString(text);
  const best = cString(options.best);
  const status = module._web_start(args, best);
  module._free(args);
  module._free(best);
  if (status !== 0) {
    post({ type: 'refused' });
    return;
  }
  running = true;
  if (demo && !options.virtualTime)
    module._web_set_demo(1);
  if (COOP) {
    runCooperative();
    return;
  }
  if (screen)
    watchFrames();
  const buffers = [0, 1, 2].map((index) => module._web_frame_buffer(index));
  post({
    type: 'ready',
    memory: module.HEAPU8.buffer,
    frameWord: module._web_frame_word(),
    buffers,
    changes: [0, 1, 2].map((index) => module._web_frame_changes(index)),
    changesCapacity: module._web_frame_changes_capacity(),
  });
  poll();
}

// The cooperative module runs the game's fibers from here on, giving this
// worker's event loop the time while they sleep; each new picture comes
// out as a buffer of its own, handed to the page without a copy.
function runCooperative() {
  const bytes = AREA.width * AREA.height * 4;
  // The memory never grows, so the buffers stay where they are.
  const buffers = screen ? frameBuffers() : null;
  module.vmxFrame = (at) => {
    if (screen) {
      // This module's memory is its own: the picture is put from where it lies.
      const start = performance.now();
      const buffer = buffers.find((each) => each.view.byteOffset === at);
      const image = new ImageData(new Uint8ClampedArray(buffer.view.buffer, at, bytes), AREA.width, AREA.height);
      putChanges(screen.context, image, buffer.changes);
      painted(start);
      return;
    }
    const pixels = module.HEAPU8.slice(at, at + bytes).buffer;
    self.postMessage({ type: 'frame', pixels }, [pixels]);
  };
  post({ type: 'ready' });
  poll();
  module.ccall('web_run', null, [], [], { async: true });
}

// The cooperative module's sound: the worklet cannot see this module's
// memory, so the samples that each top-up of the ring writes are sent to
// it over a channel of their own, and it answers how far it has read,
// which the ring's next top-up goes by.
function sendSound(port) {
  const samples = module._web_sound_samples();
  const written = module._web_sound_written() >> 2;
  const read = module._web_sound_read() >> 2;
  const capacity = module._web_sound_capacity();
  let sent = module.HEAPU32[written];
  port.postMessage({ capacity });
  port.onmessage = (event) => {
    module.HEAPU32[read] = event.data.read;
  };
  post({ type: 'sound' });
  module.vmxSound = () => {
    const now = module.HEAPU32[written];
    const count = (now - sent) >>> 0;
    const chunk = new Int16Array(count);
    for (let i = 0; i < count; i += 1)
      chunk[i] = module.HEAP16[(samples >> 1) + ((sent + i) % capacity)];
    sent = now;
    port.postMessage({ samples: chunk }, [chunk.buffer]);
  };
}

// A press or a drag of the player's own takes over from the demo.
function takeOver() {
  if (!demo)
    return;
  demo = false;
  module._web_set_demo(0);
  post({ type: 'demo', on: false });
}

self.onmessage = (event) => {
  const message = event.data;
  if (message.type === 'picture') {
    answerPicture(message.id);
    return;
  }
  // Until the game runs, only the start means anything.
  if (message.type !== 'start' && !running)
    return;
  switch (message.type) {
    case 'start':
      if (message.canvas)
        takeCanvas(message.canvas);
      start(message.options);
      break;
    case 'press':
      takeOver();
      module._web_press(message.source, message.key, message.button);
      break;
    case 'release':
      module._web_release(message.source, message.key);
      break;
    case 'steer':
      if (message.x >= 0)
        takeOver();
      module._web_steer(message.x);
      break;
    case 'demo':
      demo = message.on;
      module._web_set_demo(demo ? 1 : 0);
      post({ type: 'demo', on: demo });
      break;
    case 'away':
      module._web_hidden();
      break;
    case 'sound':
      if (COOP) {
        if (module._web_start_sound(message.sampleRate) === 0)
          sendSound(message.port);
        break;
      }
      if (module._web_start_sound(message.sampleRate) === 0) {
        post({
          type: 'sound',
          samples: module._web_sound_samples(),
          written: module._web_sound_written(),
          read: module._web_sound_read(),
          capacity: module._web_sound_capacity(),
        });
      }
      break;
    case 'files': {
      // The files of a folder (a test's screenshots), by name.
      const files = {};
      for (const name of module.FS.readdir(message.dir)) {
        if (name !== '.' && name !== '..')
          files[name] = module.FS.readFile(message.dir + '/' + name);
      }
      post({ type: 'files', id: message.id, files });
      break;
    }
  }
};
