// The state and the one redraw. Events change the state and ask for a
// redraw; the redraw (one per animation frame, however many asked) reads
// it, rebuilds the grey tables only when the window changed, and paints.

const state = {
  lacMin: windowEnd(parseC(data.proposed.lacmin), data.shortest),
  lacMax: windowEnd(parseC(data.proposed.lacmax), data.shortest),
  crop: null, // {x1, y1, x2, y2}, full-resolution and inclusive
  refused: null, // a rectangle that does not lie inside every slice
  cropBefore: null, // the crop to go back to when a new one is refused
  dragging: null, // "lacmin" or "lacmax" while a handle moves
};
const stats = { redraws: 0, lastRedrawMs: 0, maxRedrawMs: 0 };
// Every frame painted, full or not: a test waits for the frame after its
// action instead of for a state that may already hold.
let frames = 0;

let windowChanged = true;
let axisChanged = true;
let scheduled = false;
function requestRedraw(what) {
  if (what === "window") windowChanged = true;
  if (what === "axis") axisChanged = true;
  if (!scheduled) {
    scheduled = true;
    requestAnimationFrame(redraw);
  }
}

const $ = (id) => document.getElementById(id);
const fields = { lacmin: $("lacmin"), lacmax: $("lacmax") };

function redraw() {
  scheduled = false;
  const start = performance.now();
  if (axisChanged || !bars || bars.width !== Math.round(histogram.clientWidth * (window.devicePixelRatio || 1))) {
    drawBars();
    axisChanged = false;
  }
  const fullRedraw = windowChanged;
  if (windowChanged) {
    windowChanged = false;
    rebuildTables();
    paintPreviews();
    paintPlanes();
    for (const plane of planes) updatePlaneReadout(plane);
    const { toZero, to255, about } = fractions();
    $("to-zero").textContent = about + percent(toZero);
    $("to-255").textContent = about + percent(to255);
    for (const p of previews) updateReadout(p);
  }
  drawHistogram();
  for (const [name, end] of [["lacmin", state.lacMin], ["lacmax", state.lacMax]]) {
    if (document.activeElement !== fields[name] || state.dragging) fields[name].value = end.text;
  }
  $("command").textContent = command();
  $("crop").textContent = state.crop ? cropText(state.crop) : "none (drag on a slice to draw one)";
  placeCropBoxes();
  document.body.dataset.applied = `${state.lacMin.text} ${state.lacMax.text}`;
  frames += 1;
  document.body.dataset.frame = String(frames);
  if (fullRedraw) {
    const ms = performance.now() - start;
    stats.redraws += 1;
    stats.lastRedrawMs = ms;
    stats.maxRedrawMs = Math.max(stats.maxRedrawMs, ms);
  }
}

function setWindowEnd(which, value) {
  const end = windowEnd(value, data.shortest);
  if (which === "lacmin") state.lacMin = end;
  else state.lacMax = end;
  requestRedraw("window");
}
