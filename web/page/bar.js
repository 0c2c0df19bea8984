// The bar under the picture and the notices over it: the best score, the
// Demo, Sound, Full screen and Help buttons, the last game's replay links,
// and what the page has to say (a live region that screen readers
// announce), with the way back to a game where there is one.
import { keptBest, storageUsable } from './storage.js';
import { isMuted, setMuted } from './sound.js';
import { linkFor } from './share.js';
import { vmx } from './vmx.js';

const notice = document.getElementById('notice');
const noticeText = document.getElementById('notice-text');
const againButton = document.getElementById('again');
const bestLabel = document.getElementById('best');
const demoButton = document.getElementById('demo');
const muteButton = document.getElementById('mute');
const help = document.getElementById('help');

export function helpOpen() {
  return help.open;
}

let noticeKind = '';

// Says what happened; again: the label of the way back to a game (none:
// there is nothing the player can do here but what the text says); kind:
// a name for this notice, for clearNotice.
export function tell(text, { again = null, kind = '' } = {}) {
  noticeKind = kind;
  noticeText.textContent = text;
  notice.hidden = text === '';
  againButton.hidden = again === null;
  if (again !== null)
    againButton.textContent = again;
  vmx.notice = text;
  if (again !== null)
    againButton.focus();
}

// Takes back a notice of this kind, if it is the one shown.
export function clearNotice(kind) {
  if (noticeKind === kind && !notice.hidden)
    tell('');
}

export function noticeShown() {
  return !notice.hidden;
}

// Written only when it changes: a page laid out again at every glance
// costs more than the game.
export function showBest(demoGame = false) {
  let text = `Best ${keptBest()}`;
  if (demoGame)
    text += ' (demo game: not kept)';
  else if (!storageUsable())
    text += ' (not kept: this browser keeps nothing for the page)';
  if (bestLabel.textContent !== text)
    bestLabel.textContent = text;
}

export function showDemo(on) {
  demoButton.setAttribute('aria-pressed', String(on));
}

function showMuted() {
  const muted = isMuted();
  muteButton.setAttribute('aria-pressed', String(muted));
  muteButton.textContent = muted ? 'Sound off' : 'Sound on';
}

// The bar's buttons. away(): the game waits while the help is read.
export function wireBar({ onDemo, onAgain, away, toggleFullScreen }) {
  showMuted();
  demoButton.addEventListener('click', onDemo);
  muteButton.addEventListener('click', () => {
    setMuted(!isMuted());
    showMuted();
  });
  document.getElementById('full').addEventListener('click', toggleFullScreen);
  document.getElementById('help-open').addEventListener('click', () => {
    away();
    help.showModal();
  });
  // A button clicked with the mouse gives the keyboard back to the game
  // (Space would click it again); one reached with Tab keeps it.
  document.querySelectorAll('#bar button, #notice button, #watch button').forEach((element) => {
    element.addEventListener('pointerup', (event) => {
      if (event.pointerType === 'mouse')
        element.blur();
    });
  });
  againButton.addEventListener('click', () => {
    againButton.blur();
    onAgain();
  });
}

function barLink(id, html, title) {
  let link = document.getElementById(id);
  if (link === null) {
    link = document.createElement('a');
    link.id = id;
    link.className = 'bar-link';
    link.innerHTML = html;
    link.title = title;
    document.getElementById('bar').appendChild(link);
  }
  return link;
}

// The last game's replay, in the bar: to save as a file, and to watch in a
// tab of its own (the game here goes on), where it can be sent as a link.
// The watch link is the replay's own link, so it can be copied from here.
export async function offerReplay(bytes, fileName) {
  // A narrow bar shows the short word, as it does for Full screen.
  const save = barLink('replay-save', '<span class="wide">Save replay</span><span class="narrow">Replay</span>',
    'The game you just played, as a file');
  if (save.href)
    URL.revokeObjectURL(save.href);
  save.href = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  save.download = fileName;
  const watch = barLink('replay-watch', 'Watch', 'The game you just played, again, in a new tab: ' +
    'pause it, seek in it, send it as a link');
  watch.target = '_blank';
  watch.rel = 'noopener';
  watch.href = await linkFor(bytes);
}
