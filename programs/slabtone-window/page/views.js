// The previews and the planes: each pixel one real sample, as slabtone
// converts it, painted through a table of the 65536 grey values of its
// slice's calibration.

const previewsSection = $("previews");

function ordinal(n) {
  const tens = n % 100;
  const suffix = tens >= 11 && tens <= 13 ? "th" : ["th", "st", "nd", "rd"][n % 10] || "th";
  return `${n}${suffix}`;
}
const tables = new Map(); // calibration -> 65536 grey values for the window

// A figure for one view: its canvas of columns x rows in a box, the
// caption and a readout line, put into `section`; the view keeps what it
// paints and reads. Returns the box, for what is drawn over the canvas.
function addView(view, section, className, caption) {
  const figure = document.createElement("figure");
  const box = document.createElement("div");
  box.className = "preview-box";
  const canvas = document.createElement("canvas");
  canvas.className = className;
  canvas.width = view.columns;
  canvas.height = view.rows;
  box.append(canvas);
  const readout = document.createElement("div");
  readout.className = "readout";
  figure.append(box, caption, readout);
  section.append(figure);
  view.canvas = canvas;
  view.context = canvas.getContext("2d", { willReadFrequently: false });
  view.image = view.context.createImageData(view.columns, view.rows);
  view.pixels = new Uint32Array(view.image.data.buffer);
  view.readout = readout;
  view.pointer = null;
  return box;
}

for (const p of previews) {
  const caption = document.createElement("figcaption");
  const title = document.createElement("strong");
  title.textContent = `Slice ${p.slice}`;
  const every = p.step === 1 ? "every sample" : `every ${ordinal(p.step)} sample`;
  caption.append(title, ` · ${p.width} × ${p.height} · ${every} · `);
  const description = document.createElement("span");
  // Text from the slice file: shown as text, never as markup.
  description.textContent =
    p.description === null ? "no description" : `description “${p.description}”`;
  caption.append(description);
  const box = addView(p, previewsSection, "preview", caption);
  p.canvas.dataset.slice = String(p.slice);
  p.canvas.dataset.step = String(p.step);
  const cropBox = document.createElement("div");
  cropBox.className = "crop-box";
  cropBox.hidden = true;
  box.append(cropBox);
  p.cropBox = cropBox;
}

// Where the planes cut each preview, and, counted inside the circles
// only, each slice's reconstruction circle.
for (const p of previews) {
  const box = p.canvas.parentElement;
  if (planeData && planeData.y < p.height) {
    const line = document.createElement("div");
    line.className = "cut cut-row";
    line.style.top = `${((planeData.y + 0.5) / p.height) * 100}%`;
    box.append(line);
  }
  if (planeData && planeData.x < p.width) {
    const line = document.createElement("div");
    line.className = "cut cut-column";
    line.style.left = `${((planeData.x + 0.5) / p.width) * 100}%`;
    box.append(line);
  }
  if (data.insideCircle) {
    // Centre ((w-1)/2, (h-1)/2) and radius min(w, h)/2, in samples; a
    // sample covers [x, x + 1).
    const r = Math.min(p.width, p.height) / 2;
    const circle = document.createElement("div");
    circle.className = "circle";
    circle.style.left = `${((p.width / 2 - r) / p.width) * 100}%`;
    circle.style.top = `${((p.height / 2 - r) / p.height) * 100}%`;
    circle.style.width = `${((2 * r) / p.width) * 100}%`;
    circle.style.height = `${((2 * r) / p.height) * 100}%`;
    box.append(circle);
  }
}

const planesSection = $("planes");
planesSection.hidden = planes.length === 0;
for (const plane of planes) {
  const caption = document.createElement("figcaption");
  const title = document.createElement("strong");
  const n = planeData.slices.length;
  const first = planeData.slices[0];
  const last = planeData.slices[n - 1];
  const every = n > 1 ? planeData.slices[1] - first : 1;
  const slices = every === 1 ? `slices ${first} to ${last}` : `every ${ordinal(every)} slice, ${first} to ${last}`;
  if (plane.kind === "xz") {
    title.textContent = `Row y = ${planeData.y} across the slices`;
    caption.append(title, ` · ${slices} top to bottom`);
  } else {
    title.textContent = `Column x = ${planeData.x} across the slices`;
    caption.append(title, ` · ${slices} left to right`);
  }
  const step = planeData.step === 1 ? "every sample" : `every ${ordinal(planeData.step)} sample`;
  caption.append(` · ${step}`);
  const box = addView(plane, planesSection, "ortho", caption);
  const canvas = plane.canvas;
  canvas.dataset.plane = plane.kind;
  if (plane.kind === "xz") canvas.dataset.y = String(planeData.y);
  else canvas.dataset.x = String(planeData.x);
  canvas.dataset.step = String(planeData.step);
  canvas.dataset.slices = planeData.slices.join(",");
  // The previewed slices, where the plane crosses them.
  for (const p of previews) {
    const at = planeData.slices.indexOf(p.slice);
    if (at < 0) continue;
    const mark = document.createElement("div");
    mark.className = plane.kind === "xz" ? "cut cut-row slice-mark" : "cut cut-column slice-mark";
    const share = `${((at + 0.5) / planeData.slices.length) * 100}%`;
    if (plane.kind === "xz") mark.style.top = share;
    else mark.style.left = share;
    mark.title = `slice ${p.slice}`;
    box.append(mark);
  }
}
if (data.insideCircle) {
  $("population").textContent = "the samples inside the reconstruction circles";
}

// A plane of few slices would be a sliver: each is shown at least a
// quarter as deep as it is long, and as a whole within the window.
function sizePlanes() {
  const width = planesSection.clientWidth;
  const height = Math.max(200, window.innerHeight - 80);
  for (const plane of planes) {
    if (plane.kind === "xz") {
      const ratio = plane.columns / Math.max(plane.rows, Math.ceil(plane.columns / 4));
      const w = Math.min(width, height * ratio);
      plane.canvas.style.width = `${w}px`;
      plane.canvas.style.height = `${w / ratio}px`;
    } else {
      const ratio = Math.max(plane.columns, Math.ceil(plane.rows / 4)) / plane.rows;
      const h = Math.min(height, width / ratio);
      plane.canvas.style.height = `${h}px`;
      plane.canvas.style.width = `${h * ratio}px`;
    }
  }
}
sizePlanes();
window.addEventListener("resize", sizePlanes);

const littleEndian = new Uint8Array(new Uint32Array([1]).buffer)[0] === 1;
// The canvas pixel (RGBA bytes in memory) of a grey level.
function pixelOf(level) {
  return littleEndian
    ? 0xff000000 | (level << 16) | (level << 8) | level
    : ((level << 24) | (level << 16) | (level << 8) | 0xff) >>> 0;
}

function windowScale() {
  return 255.0 / (state.lacMax.value - state.lacMin.value);
}

function rebuildTables() {
  tables.clear();
  const lacMin = state.lacMin.value;
  const scale = windowScale();
  const used = previews.map((p) => p.calibration);
  if (planeData) for (const i of planeData.calibrations) used.push(calibrations[i]);
  if (floatStack) return; // each float converted on its own
  for (const c of used) {
    if (tables.has(c)) continue;
    const table = new Uint8Array(65536);
    for (let v = 0; v < 65536; v++) {
      table[v] = grey(sampleValue(v), c.lacScale, c.lacOffset, lacMin, scale);
    }
    tables.set(c, table);
  }
}

function paintPlanes() {
  const lacMin = state.lacMin.value;
  const scale = windowScale();
  for (const plane of planes) {
    const { samples, pixels, columns, rows } = plane;
    if (floatStack) {
      // Each float converted on its own, under its slice's calibration.
      for (let j = 0, k = 0; j < rows; j++) {
        for (let i = 0; i < columns; i++, k++) {
          const c = plane.calibrationAt(i, j);
          pixels[k] = pixelOf(grey(samples[k], c.lacScale, c.lacOffset, lacMin, scale));
        }
      }
      plane.context.putImageData(plane.image, 0, 0);
      continue;
    }
    // A slice's table per row of xz, per column of yz.
    const perSlice = planeData.calibrations.map((i) => tables.get(calibrations[i]));
    for (let j = 0; j < rows; j++) {
      const rowTable = plane.kind === "xz" ? perSlice[j] : null;
      for (let i = 0, k = j * columns; i < columns; i++, k++) {
        pixels[k] = pixelOf((rowTable || perSlice[i])[samples[k]]);
      }
    }
    plane.context.putImageData(plane.image, 0, 0);
  }
}

function paintPreviews() {
  const lacMin = state.lacMin.value;
  const scale = windowScale();
  for (const p of previews) {
    const table = tables.get(p.calibration);
    const { samples, pixels } = p;
    if (floatStack) {
      const c = p.calibration;
      for (let i = 0; i < samples.length; i++) {
        pixels[i] = pixelOf(grey(samples[i], c.lacScale, c.lacOffset, lacMin, scale));
      }
    } else {
      for (let i = 0; i < samples.length; i++) pixels[i] = pixelOf(table[samples[i]]);
    }
    p.context.putImageData(p.image, 0, 0);
  }
}

// The shares of all samples of the range that become 0 and 255, counted
// as the report counts them; of a float stack, the report's for the
// proposed window and else an estimate from its bins ("about").
function fractions() {
  if (floatStack) {
    if (state.lacMin.text === data.proposed.lacmin && state.lacMax.text === data.proposed.lacmax) {
      return { toZero: data.proposed.toZero, to255: data.proposed.to255, about: "" };
    }
    const { toZero, to255 } = binFractions();
    return { toZero: toZero + floatNaN, to255, about: "about " };
  }
  return { ...binFractions(), about: "" };
}

function binFractions() {
  const lacMin = state.lacMin.value;
  const scale = windowScale();
  let toZero = 0;
  let to255 = 0;
  for (const c of calibrations) {
    for (let i = 0; i < c.values.length; i++) {
      const level = grey(c.values[i], c.lacScale, c.lacOffset, lacMin, scale);
      if (level === 0) toZero += c.counts[i];
      else if (level === 255) to255 += c.counts[i];
    }
  }
  return { toZero, to255 };
}

function percent(count) {
  return formatFixed((100.0 * count) / totalSamples, 3) + "%";
}
