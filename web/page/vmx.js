// What the tests (and a curious player's console) can look at: window.vmx.
// Each module of the page fills in its part.
export const vmx = {
  started: false,
  ended: null,
  glance: null,
  notice: '',
  framesDrawn: 0,
  drawMs: 0,
  firstFrameMs: null,  // since the page was asked for
  audioState: 'none',
  soundPath: 'none',   // 'worklet', 'page' (no worklet here) or 'none'
  games: 0,
  logs: [],
  faults: [],  // the page's own uncaught errors
  drawnBy: null,
  lastReplay: null,
  watch: null,  // a replay's pace: paused, speed, seeking, atMs, lengthMs
  link: null,   // the latest link made of a replay
};
window.vmx = vmx;
// Kept for drivers that cannot read a browser's console (WebDriver's
// classic protocol has no log).
window.addEventListener('error', (event) => vmx.faults.push(String(event.message)));
window.addEventListener('unhandledrejection', (event) => vmx.faults.push(`unhandled: ${event.reason}`));
