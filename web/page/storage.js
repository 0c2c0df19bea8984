// The browser's storage, which may be missing, blocked (cookies refused)
// or full: every use is guarded, and the game goes on without it. The best
// score lives here, and only ever goes up.
const STORE_BEST = 'vmxbrikon.best';

function store(kind) {
  try {
    return window[kind] || null;
  } catch (error) {
    return null;  // reading the property itself throws where storage is blocked
  }
}

export function storageGet(key, kind = 'localStorage') {
  try {
    const area = store(kind);
    return area ? area.getItem(key) : null;
  } catch (error) {
    return null;
  }
}

// Answers whether the value was kept.
export function storageSet(key, value, kind = 'localStorage') {
  try {
    const area = store(kind);
    if (!area)
      return false;
    area.setItem(key, value);
    return true;
  } catch (error) {
    return false;
  }
}

export function storageRemove(key, kind = 'localStorage') {
  try {
    const area = store(kind);
    if (area)
      area.removeItem(key);
  } catch (error) {
    // Nothing kept, nothing to remove.
  }
}

// Whether anything can be kept at all (storage may be blocked or full).
let usable = null;
export function storageUsable() {
  if (usable === null) {
    usable = storageSet('vmxbrikon.probe', '1');
    storageRemove('vmxbrikon.probe');
  }
  return usable;
}

// The kept best as a number: a line that is not a plain non-negative
// number is no best at all.
export function keptBest() {
  const line = storageGet(STORE_BEST) || '';
  const match = /^\s*\+?(\d{1,9})\s*$/.exec(line);
  return match ? Number(match[1]) : 0;
}

// Every tab keeps the larger of what is kept now and what its game made,
// so a tab opened earlier never lowers a best another tab set. Answers
// whether the best went up.
export function keepBest(score) {
  if (!(score > keptBest()))
    return false;
  return storageSet(STORE_BEST, `${score}\n`);
}

// Another tab changed the best.
export function onBestChanged(listener) {
  window.addEventListener('storage', (event) => {
    if (event.key === STORE_BEST)
      listener();
  });
}
