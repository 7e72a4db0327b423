// The crop, the command and the readouts, and every event: the window's
// fields and handles, drawing a crop on a preview, the pointer over a
// view, copying the command.

function cropText(c) {
  return `${c.x1} ${c.y1} ${c.x2} ${c.y2}`;
}

function command() {
  const words = ["slabtone"];
  if (data.options) words.push(data.options);
  words.push(data.range[0], data.range[1], state.lacMin.text, state.lacMax.text);
  if (state.crop) words.push(cropText(state.crop));
  return words.join(" ");
}

function placeCropBoxes() {
  const shown = state.refused || state.crop;
  for (const p of previews) {
    if (!shown) {
      p.cropBox.hidden = true;
      continue;
    }
    const sx = 100 / p.width;
    const sy = 100 / p.height;
    const right = Math.min(shown.x2 + 1, p.width);
    const bottom = Math.min(shown.y2 + 1, p.height);
    p.cropBox.hidden = shown.x1 >= p.width || shown.y1 >= p.height;
    p.cropBox.classList.toggle("refused", shown === state.refused);
    p.cropBox.style.left = `${shown.x1 * sx}%`;
    p.cropBox.style.top = `${shown.y1 * sy}%`;
    p.cropBox.style.width = `${(right - shown.x1) * sx}%`;
    p.cropBox.style.height = `${(bottom - shown.y1) * sy}%`;
  }
}

// "sample v · LAC l · grey n" of the pixel under the pointer, after
// `where` it lies; nothing when the pointer is elsewhere.
function showSample(view, where, calibration) {
  if (!view.pointer) {
    view.readout.textContent = "";
    return;
  }
  const { i, j } = view.pointer;
  const bits = view.samples[j * view.columns + i];
  const v = floatStack ? bits : sampleValue(bits);
  const c = calibration(i, j);
  const lac = sampleLac(v, c.lacScale, c.lacOffset);
  const level = grey(v, c.lacScale, c.lacOffset, state.lacMin.value, windowScale());
  view.readout.textContent =
    `${where(i, j)} · sample ${v} · LAC ${lacText(lac, data.shortest)} · grey ${level}`;
}

function updateReadout(p) {
  showSample(p, (i, j) => `x ${i * p.step}, y ${j * p.step}`, () => p.calibration);
}

function updatePlaneReadout(plane) {
  showSample(plane, (i, j) => `slice ${plane.sliceAt(i, j)}, ${plane.placeAt(i, j)}`,
             plane.calibrationAt);
}

for (const [name, field] of Object.entries(fields)) {
  field.addEventListener("change", () => {
    const value = field.valueAsNumber;
    if (Number.isNaN(value)) {
      field.value = (name === "lacmin" ? state.lacMin : state.lacMax).text;
      return;
    }
    setWindowEnd(name, value);
    // The field shows the value as slabtone will read it.
    field.value = (name === "lacmin" ? state.lacMin : state.lacMax).text;
    const low = Math.min(state.lacMin.value, state.lacMax.value);
    const high = Math.max(state.lacMin.value, state.lacMax.value);
    if (low < axis.low || high > axis.high) {
      fitAxis();
      requestRedraw("axis");
    }
  });
}

$("proposed").addEventListener("click", () => {
  state.lacMin = windowEnd(parseC(data.proposed.lacmin), data.shortest);
  state.lacMax = windowEnd(parseC(data.proposed.lacmax), data.shortest);
  fitAxis();
  requestRedraw("axis");
  requestRedraw("window");
});

histogram.addEventListener("pointerdown", (event) => {
  const rect = histogram.getBoundingClientRect();
  const x = event.clientX - rect.left;
  const toMin = Math.abs(x - handleX("lacmin"));
  const toMax = Math.abs(x - handleX("lacmax"));
  if (Math.min(toMin, toMax) > 10) return;
  state.dragging = toMin < toMax ? "lacmin" : "lacmax";
  histogram.setPointerCapture(event.pointerId);
  requestRedraw();
});
histogram.addEventListener("pointermove", (event) => {
  const rect = histogram.getBoundingClientRect();
  const x = event.clientX - rect.left;
  if (!state.dragging) {
    const near = Math.min(Math.abs(x - handleX("lacmin")), Math.abs(x - handleX("lacmax")));
    histogram.style.cursor = near <= 10 ? "ew-resize" : "default";
    return;
  }
  setWindowEnd(state.dragging, lacOf(x));
});
const endDrag = () => {
  if (!state.dragging) return;
  state.dragging = null;
  requestRedraw();
};
histogram.addEventListener("pointerup", endDrag);
histogram.addEventListener("pointercancel", endDrag);
window.addEventListener("resize", () => requestRedraw("axis"));

function pixelUnder(p, event) {
  const rect = p.canvas.getBoundingClientRect();
  const i = Math.floor(((event.clientX - rect.left) / rect.width) * p.columns);
  const j = Math.floor(((event.clientY - rect.top) / rect.height) * p.rows);
  return { i: Math.min(Math.max(i, 0), p.columns - 1), j: Math.min(Math.max(j, 0), p.rows - 1) };
}

// A rectangle dragged on a preview, in full-resolution inclusive
// coordinates: the samples of every preview pixel it covers.
function rectangleOf(p, a, b) {
  const x1 = Math.min(a.i, b.i) * p.step;
  const y1 = Math.min(a.j, b.j) * p.step;
  const x2 = Math.min((Math.max(a.i, b.i) + 1) * p.step - 1, p.width - 1);
  const y2 = Math.min((Math.max(a.j, b.j) + 1) * p.step - 1, p.height - 1);
  return { x1, y1, x2, y2 };
}

// slabtone cuts the rectangle from every slice and stops at the first
// slice it does not fit.
function refusal(c) {
  const s = data.smallest;
  if (c.x2 > s.width - 1) {
    return `x2 = ${c.x2} lies outside slice ${s.width_slice}, which is ${s.width} samples wide.`;
  }
  if (c.y2 > s.height - 1) {
    return `y2 = ${c.y2} lies outside slice ${s.height_slice}, which is ${s.height} rows high.`;
  }
  return "";
}

let drawing = null; // {p, start}
for (const p of previews) {
  p.canvas.addEventListener("pointerdown", (event) => {
    if (event.button !== 0) return;
    drawing = { p, start: pixelUnder(p, event), moved: false };
    p.canvas.setPointerCapture(event.pointerId);
  });
  p.canvas.addEventListener("pointermove", (event) => {
    p.pointer = pixelUnder(p, event);
    updateReadout(p);
    if (!drawing || drawing.p !== p) return;
    const here = p.pointer;
    if (here.i !== drawing.start.i || here.j !== drawing.start.j) drawing.moved = true;
    if (!drawing.moved) return;
    state.refused = null;
    $("crop-refusal").textContent = "";
    const shown = rectangleOf(p, drawing.start, here);
    // While dragging, the rectangle shows on every slice.
    state.crop = shown;
    requestRedraw();
  });
  p.canvas.addEventListener("pointerup", (event) => {
    if (!drawing || drawing.p !== p) return;
    const { start, moved } = drawing;
    drawing = null;
    if (!moved) return;
    const c = rectangleOf(p, start, pixelUnder(p, event));
    const reason = refusal(c);
    if (reason) {
      state.crop = state.cropBefore || null;
      state.refused = c;
      $("crop-refusal").textContent = "Crop refused: " + reason;
    } else {
      state.crop = c;
      state.refused = null;
      $("crop-refusal").textContent = "";
    }
    state.cropBefore = state.crop;
    requestRedraw();
  });
  p.canvas.addEventListener("pointerleave", () => {
    p.pointer = null;
    updateReadout(p);
  });
}

for (const plane of planes) {
  plane.canvas.addEventListener("pointermove", (event) => {
    plane.pointer = pixelUnder(plane, event);
    updatePlaneReadout(plane);
  });
  plane.canvas.addEventListener("pointerleave", () => {
    plane.pointer = null;
    updatePlaneReadout(plane);
  });
}

function clearCrop() {
  state.crop = null;
  state.cropBefore = null;
  state.refused = null;
  $("crop-refusal").textContent = "";
  requestRedraw();
}
$("clear-crop").addEventListener("click", clearCrop);
window.addEventListener("keydown", (event) => {
  if (event.key === "Escape") clearCrop();
});

$("copy").addEventListener("click", async () => {
  const text = command();
  const status = $("copy-status");
  try {
    await navigator.clipboard.writeText(text);
    status.textContent = "copied";
  } catch {
    const range = document.createRange();
    range.selectNodeContents($("command"));
    const selection = window.getSelection();
    selection.removeAllRanges();
    selection.addRange(range);
    status.textContent = document.execCommand("copy") ? "copied" : "selected: press Ctrl+C";
  }
});
