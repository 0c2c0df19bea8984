// The messages between the page and the game's worker, named once for both
// sides: each side posts { type: MESSAGE.x, ... } and switches on the same
// names, so a message one side renames cannot go unheard by the other.
export const TO_WORKER = Object.freeze({
  start: 'start',        // options, canvas (where the worker draws)
  press: 'press',        // source, key, button, at
  release: 'release',    // source, key, at
  steer: 'steer',        // x (-1: let go), at
  demo: 'demo',          // on, at
  away: 'away',          // at: nobody is watching
  sound: 'sound',        // sampleRate, leadMs, port
  picture: 'picture',    // id: the canvas's pixels, please
  files: 'files',        // id, dir: a folder's files, please
  watch: 'watch',        // paused, speed, seekMs or step: a replay's pace
});

export const TO_PAGE = Object.freeze({
  log: 'log',            // line: the game's standard error
  failed: 'failed',      // reason: the module did not load
  refused: 'refused',    // the game refused its options
  ready: 'ready',        // the game runs
  firstFrame: 'first-frame',
  frame: 'frame',        // pixels: where the page draws
  picture: 'picture',    // id, pixels
  files: 'files',        // id, files
  glance: 'glance',      // glance, drawn
  replay: 'replay',      // bytes, games
  ended: 'ended',        // status
  watch: 'watch',        // paused, speed, seeking, atMs, or passed: a replay's pace
});

// A moment as both sides can read it: the page's and the worker's clocks
// start at different times, so moments cross as milliseconds since the
// epoch of performance.timeOrigin.
export function sharedMoment(localMs = performance.now()) {
  return performance.timeOrigin + localMs;
}

export function localMoment(sharedMs) {
  return sharedMs - performance.timeOrigin;
}
