// The page: boots the game in its worker and wires the rest together. The
// game itself runs in worker.js; the modules here each do one job: the
// picture (picture.js), the player's inputs (input.js), the sound
// (sound.js), the bar and notices (bar.js), storage and the best score
// (storage.js), replays (replay.js), the worker's link (link.js).
import { vmx } from './vmx.js';
import { clearNotice, noticeShown, showBest, tell, helpOpen, wireBar } from './bar.js';
import { buildSound, resumeSound } from './sound.js';
import { letGo, wireInput } from './input.js';
import { currentWorker, demoOn, onFirstFrame, onStarted, send, setDemo, startGame } from './link.js';
import { picture } from './picture.js';
import { onBestChanged } from './storage.js';
import { addressWithoutReplay, measureReplay, replayToPlay, watchReplayDrops } from './replay.js';
import { replayLength, startWatching, stopWatching, watchKey, watchSays, watchedReplay, wireWatch } from './watch.js';
import { copyLink, linkedReplay } from './share.js';

const params = new URLSearchParams(location.search);
const simArgs = params.get('sim') || '';
const options = {
  simArgs,
  script: params.get('script') || '',
  virtualTime: /(^|\s)--virtual-time(\s|$)/.test(simArgs),
};
// The game should be on screen by then; if not, the player is told.
// ?start-wait=MS sets another wait (the tests' own).
const START_WAIT_MS = Number(params.get('start-wait')) || 20000;

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

// Kept for playing offline, once the game is on screen: the copying must
// not slow down the start.
function registerServiceWorker() {
  if (!('serviceWorker' in navigator) || !window.isSecureContext)
    return;
  navigator.serviceWorker.register('sw.js').catch((error) => {
    vmx.logs.push('no service worker: ' + error);
  });
}

function firstFrame() {
  if (vmx.firstFrameMs !== null)
    return;
  vmx.firstFrameMs = performance.now();
  registerServiceWorker();
}

// A game, and a watch over its start: a game that has not started in time
// is said so, unless it has started or ended meanwhile, or another game
// has taken its place.
function play(replay = null) {
  if (!startGame(options, replay))
    return;
  if (replay) {
    startWatching(replay, { send, restart: (from) => play(Object.assign({}, replay, { watch: from })) });
    if (!replay.watch)
      measureReplay(replay.bytes).then(replayLength);
  } else {
    stopWatching();
  }
  const game = vmx.games;
  setTimeout(() => {
    if (vmx.games === game && !vmx.started && vmx.ended === null && !noticeShown())
      tell('The game has not started. Reload the page; if it still does not start, this browser may not run it.',
        { kind: 'start' });
  }, START_WAIT_MS);
}

// After a replay (played or refused), the way back is a game of one's own,
// at an address that no longer asks for the replay.
function playOwnGame() {
  if (params.has('replay') || location.hash)
    history.replaceState(null, '', addressWithoutReplay());
  play(null);
}

// The replay being watched as a link: copied where the browser lets the
// page, and in the address bar either way.
async function shareReplay() {
  const replay = watchedReplay();
  if (!replay)
    return;
  const link = await copyLink(replay.bytes);
  history.replaceState(null, '', link);
  vmx.link = link;
  watchSays(`Link copied (${link.length} characters)`);
}

async function boot() {
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
  vmx.picture = () => picture(currentWorker());
  buildSound();
  // A replay's keys come before the game's, which do nothing in a replay.
  window.addEventListener('keydown', (event) => {
    if (!helpOpen() && watchKey(event))
      event.stopImmediatePropagation();
  }, true);
  wireWatch({ leave: playOwnGame, share: shareReplay });
  wireInput({ send, pressed: resumeSound, helpOpen, toggleFullScreen });
  wireBar({
    onDemo: () => setDemo(!demoOn()),
    onAgain: playOwnGame,
    away: letGo,
    toggleFullScreen,
  });
  onFirstFrame(firstFrame);
  // A slow start that has come after all takes back the watch's notice.
  onStarted(() => clearNotice('start'));
  onBestChanged(() => showBest());
  showBest();
  if (params.has('demo'))
    setDemo(true);
  watchReplayDrops((text) => tell(text, { again: vmx.started ? null : 'Play a game' }));
  const replay = await linkedReplay(location.hash) || await replayToPlay(params);
  if (replay instanceof Error) {
    tell('The replay cannot be played: ' + replay.message, { again: 'Play a game' });
    return;
  }
  play(replay);
}

// A link to a replay opened where the page is already open changes only
// the fragment: the page loads again to play it (one game per load).
window.addEventListener('hashchange', () => {
  if (location.hash.startsWith('#watch='))
    location.reload();
});

window.vmxBooted = true;
boot();
