// The goggles' display on the page: a canvas that the game's worker draws
// on, where the browser can hand a canvas to a worker, or that this thread
// draws each picture the worker sends. Its box is reserved before the first
// picture, so nothing on the page moves when the game starts.
import { CONTRACT } from './contract.js';
import { TO_WORKER } from './messages.js';
import { vmx } from './vmx.js';

const AREA = CONTRACT.area;
const params = new URLSearchParams(location.search);

let canvas = document.getElementById('screen');
canvas.width = AREA.width;
canvas.height = AREA.height;

// WebKit's own engine (Chromium's still names itself after it, with a
// frozen AppleWebKit/537.36 and a Chrome/ of its own) now and then loses
// its web process while a worker draws on a canvas handed to it: the
// worker's or the compositor's thread stops on one of the engine's own
// checks, one watched replay in ten or so. It draws here instead.
const ua = navigator.userAgent;
const webkitEngine = /AppleWebKit\//.test(ua) && !/AppleWebKit\/537\.36|Chrome\/|Chromium\//.test(ua);
// ?draw=page keeps the drawing here, as a browser without a canvas for its
// workers does; ?draw=worker hands it to the worker wherever it can be.
const asked = params.get('draw');
export const drawInWorker = asked !== 'page' && (asked === 'worker' || !webkitEngine) &&
  typeof canvas.transferControlToOffscreen === 'function' &&
  typeof OffscreenCanvasRenderingContext2D === 'function';
vmx.drawnBy = drawInWorker ? 'worker' : 'page';

const context2d = drawInWorker ? null : canvas.getContext('2d', { alpha: false });
const image = drawInWorker ? null : context2d.createImageData(AREA.width, AREA.height);
let pending = null;
let drawAsked = false;

export function currentCanvas() {
  return canvas;
}

// A canvas is handed to a worker once: each game's worker gets a new one,
// in the place of the last. null where this thread draws.
export function canvasForWorker() {
  if (!drawInWorker)
    return null;
  if (canvas.dataset.handedOver) {
    const fresh = canvas.cloneNode(false);
    delete fresh.dataset.handedOver;
    canvas.replaceWith(fresh);
    canvas = fresh;
  }
  canvas.dataset.handedOver = 'yes';
  return canvas.transferControlToOffscreen();
}

function draw() {
  drawAsked = false;
  if (pending === null)
    return;
  const start = performance.now();
  image.data.set(new Uint8Array(pending));
  pending = null;
  context2d.putImageData(image, 0, 0);
  vmx.drawMs += performance.now() - start;
  vmx.framesDrawn += 1;
}

// A whole picture from the worker, where this thread draws: put in the next
// animation frame, the newest of those that came meanwhile.
export function showPicture(pixels) {
  pending = pixels;
  if (!drawAsked) {
    drawAsked = true;
    requestAnimationFrame(draw);
  }
}

// The picture on the canvas: a promise of its RGBA bytes, wherever it is drawn.
let nextId = 1;
const waiting = new Map();
export function picture(worker) {
  if (!drawInWorker) {
    // The newest picture, even before its animation frame has come.
    draw();
    return Promise.resolve(context2d.getImageData(0, 0, AREA.width, AREA.height).data);
  }
  const id = nextId++;
  return new Promise((resolve) => {
    waiting.set(id, (pixels) => resolve(new Uint8ClampedArray(pixels)));
    worker.postMessage({ type: TO_WORKER.picture, id });
  });
}

export function pictureArrived(id, pixels) {
  const resolve = waiting.get(id);
  waiting.delete(id);
  if (resolve)
    resolve(pixels);
}

// The playfield column under a pointer.
export function areaX(clientX) {
  const box = canvas.getBoundingClientRect();
  const x = Math.round(((clientX - box.left) / box.width) * AREA.width);
  return Math.max(0, Math.min(AREA.width - 1, x));
}
