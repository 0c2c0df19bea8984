// Putting the game's pictures on a canvas, for whichever thread draws them:
// the worker on a canvas the page handed it, or the page itself where the
// browser cannot hand a canvas over.
// Only what differs from the picture taken before is put: the rectangles
// the game's side sends with each picture (a count, then left, top, right,
// bottom for each). visit(left, top, width, height) for each.
function eachChange(changes, visit) {
  const count = changes[0];
  for (let i = 0; i < count; i += 1) {
    const left = changes[1 + 4 * i];
    const top = changes[2 + 4 * i];
    const right = changes[3 + 4 * i];
    const bottom = changes[4 + 4 * i];
    if (right > left && bottom > top)
      visit(left, top, right - left, bottom - top);
  }
}

// image already holds the whole picture.
export function putChanges(context, image, changes) {
  eachChange(changes, (left, top, width, height) => {
    context.putImageData(image, 0, 0, left, top, width, height);
  });
}

// view: the picture's RGBA bytes in memory shared with the game, which a
// canvas cannot take pixels from; what changed is copied into image (of
// the whole area, keeping the picture between frames) and put from there.
export function paintChanges(context, image, view, changes) {
  const rowBytes = image.width * 4;
  eachChange(changes, (left, top, width, height) => {
    for (let y = top; y < top + height; y += 1) {
      const start = y * rowBytes + left * 4;
      image.data.set(view.subarray(start, start + width * 4), start);
    }
    context.putImageData(image, 0, 0, left, top, width, height);
  });
}
