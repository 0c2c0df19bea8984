// Replays on the page: a replay to play back from ?replay=URL or from a
// file dropped on the page, and the file name a saved one gets. The game
// side (recording, playing, refusing a file that does not fit) is the
// simulator's, in the worker's module.
import { TO_PAGE, TO_WORKER } from './messages.js';
import { storageGet, storageRemove, storageSet } from './storage.js';

// A dropped replay waits here while the page loads again to play it (the
// game's module runs one game per load), with the name of its file.
const DROPPED_REPLAY = 'vmxbrikon.dropped-replay';
const DROPPED_NAME = 'vmxbrikon.dropped-name';
const DROPPED_MARK = 'dropped';

function bytesToBase64(bytes) {
  let text = '';
  for (let i = 0; i < bytes.length; i += 0x8000)
    text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
  return btoa(text);
}

function base64ToBytes(text) {
  const raw = atob(text);
  const bytes = new Uint8Array(raw.length);
  for (let i = 0; i < raw.length; ++i)
    bytes[i] = raw.charCodeAt(i);
  return bytes;
}

// The replay the address asks for: null without ?replay; { bytes, name };
// or an Error saying why it cannot be had.
export async function replayToPlay(params) {
  const source = params.get('replay');
  if (source === null)
    return null;
  if (source === DROPPED_MARK) {
    const kept = storageGet(DROPPED_REPLAY, 'sessionStorage');
    const name = storageGet(DROPPED_NAME, 'sessionStorage') || 'the dropped replay';
    storageRemove(DROPPED_REPLAY, 'sessionStorage');
    storageRemove(DROPPED_NAME, 'sessionStorage');
    return kept === null ? new Error('the dropped replay is gone; drop it again')
                         : { bytes: base64ToBytes(kept), name };
  }
  const name = decodeURIComponent(source.split('/').pop() || source);
  try {
    const response = await fetch(source);
    if (!response.ok)
      return new Error(`${source}: ${response.status} ${response.statusText}`);
    return { bytes: new Uint8Array(await response.arrayBuffer()), name };
  } catch (error) {
    return new Error(`${source}: ${error.message}`);
  }
}

// A file name for a replay saved at date: vmxbrikon-2026-12-08-1912.vmxr.
export function replayFileName(date) {
  const two = (n) => String(n).padStart(2, '0');
  return `vmxbrikon-${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())}-` +
         `${two(date.getHours())}${two(date.getMinutes())}.vmxr`;
}

// A replay file dropped anywhere on the page is played: the page loads
// again with it. onRefused(text) tells the player when it cannot be.
export function watchReplayDrops(onRefused) {
  window.addEventListener('dragover', (event) => {
    event.preventDefault();
    event.dataTransfer.dropEffect = 'copy';
  });
  window.addEventListener('drop', async (event) => {
    event.preventDefault();
    const file = event.dataTransfer.files[0];
    if (!file)
      return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    if (!storageSet(DROPPED_REPLAY, bytesToBase64(bytes), 'sessionStorage')) {
      onRefused(`${file.name} cannot be kept here while the page loads again to play it ` +
                '(too large, or this browser keeps nothing for the page); give it as ?replay=URL');
      return;
    }
    storageSet(DROPPED_NAME, file.name, 'sessionStorage');
    const address = new URL(location.href);
    address.searchParams.set('replay', DROPPED_MARK);
    location.assign(address.href);
  });
}

// The address of a game of one's own, without the replay.
export function addressWithoutReplay() {
  const address = new URL(location.href);
  address.searchParams.delete('replay');
  address.hash = '';
  return address.href;
}

// How long a replay's game lasts, in ms of its time: the replay run through
// unseen, as fast as a worker of its own can, to its end.
export function measureReplay(bytes) {
  return new Promise((resolve) => {
    const worker = new Worker('worker.js', { type: 'module' });
    let lastMs = 0;
    const done = (ms) => {
      worker.terminate();
      resolve(ms);
    };
    worker.onmessage = (event) => {
      const message = event.data;
      if (message.type === TO_PAGE.glance)
        lastMs = message.glance.elapsedMs;
      else if (message.type === TO_PAGE.ended)
        done(lastMs);
      else if (message.type === TO_PAGE.refused || message.type === TO_PAGE.failed)
        done(0);
    };
    worker.onerror = () => done(0);
    worker.postMessage({
      type: TO_WORKER.start,
      options: { args: '', script: '', best: '', demo: false, virtualTime: false, replay: bytes, measure: true },
    });
  });
}
