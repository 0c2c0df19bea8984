// Replays on the page: once a game ends, a link to download the run's
// replay up to that end; a replay to play back from ?replay=URL or from a
// file dropped on the page. The game side (recording, playing, refusing a
// file that does not fit) is the simulator's, in the worker's module.
'use strict';

// A dropped replay waits here while the page loads again to play it (the
// game's module runs one game per load).
const DROPPED_REPLAY = 'vmxbrikon.dropped-replay';
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

// The replay the address asks for: null without ?replay; the bytes; or an
// Error saying why it cannot be had.
async function replayToPlay(params) {
  const source = params.get('replay');
  if (source === null)
    return null;
  if (source === DROPPED_MARK) {
    const kept = sessionStorage.getItem(DROPPED_REPLAY);
    sessionStorage.removeItem(DROPPED_REPLAY);
    return kept === null ? new Error('the dropped replay is gone; drop it again')
                         : base64ToBytes(kept);
  }
  try {
    const response = await fetch(source);
    if (!response.ok)
      return new Error(`${source}: ${response.status} ${response.statusText}`);
    return new Uint8Array(await response.arrayBuffer());
  } catch (error) {
    return new Error(`${source}: ${error.message}`);
  }
}

// A file name for a replay saved now: vmxbrikon-2026-12-08-1912.vmxr.
function replayFileName(date) {
  const two = (n) => String(n).padStart(2, '0');
  return `vmxbrikon-${date.getFullYear()}-${two(date.getMonth() + 1)}-${two(date.getDate())}-` +
         `${two(date.getHours())}${two(date.getMinutes())}.vmxr`;
}

// Shows (or updates) the link to the last game's replay in the bar.
function offerReplay(bytes) {
  let link = document.getElementById('replay-save');
  if (link === null) {
    link = document.createElement('a');
    link.id = 'replay-save';
    link.className = 'bar-link';
    // A narrow bar shows the short word, as it does for Full screen.
    link.innerHTML = '<span class="wide">Save replay</span><span class="narrow">Replay</span>';
    link.title = 'The game you just played, to watch again or to send';
    document.getElementById('bar').appendChild(link);
  } else {
    URL.revokeObjectURL(link.href);
  }
  link.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  link.download = replayFileName(new Date());
  return link;
}

// A replay file dropped anywhere on the page is played: the page loads
// again with it. onRefused(text) tells the player when it cannot be.
function watchReplayDrops(onRefused) {
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
    try {
      sessionStorage.setItem(DROPPED_REPLAY, bytesToBase64(bytes));
    } catch (error) {
      onRefused(`${file.name} is too large to drop here; give it as ?replay=URL`);
      return;
    }
    const address = new URL(location.href);
    address.searchParams.set('replay', DROPPED_MARK);
    location.assign(address.href);
  });
}
