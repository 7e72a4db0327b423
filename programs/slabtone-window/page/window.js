
"use strict";
(() => {
  // ---- Exact arithmetic: what the C library and slabtone compute, bit for bit.
  // No DOM here: scripts may call these directly (window.slabtone).

  const word = new DataView(new ArrayBuffer(8));

  // printf("%.<digits>f", x) as glibc prints it: the exact binary value of x
  // rounded to `digits` decimals, an exact tie to the even digit (toFixed
  // would round it up); "inf", "-inf", "nan" and "-nan" beyond the numbers.
  function formatFixed(x, digits) {
    word.setFloat64(0, x);
    const bits = word.getBigUint64(0);
    const sign = bits >> 63n ? "-" : "";
    if (Number.isNaN(x)) return sign + "nan";
    if (!Number.isFinite(x)) return sign + "inf";
    const biased = Number((bits >> 52n) & 0x7ffn);
    let mantissa = bits & 0xfffffffffffffn;
    let exponent = -1074;
    if (biased !== 0) {
      mantissa |= 1n << 52n;
      exponent = biased - 1075;
    }
    // |x| * 10^digits = mantissa * 10^digits * 2^exponent, as a fraction.
    let numerator = mantissa * 10n ** BigInt(digits);
    let denominator = 1n;
    if (exponent >= 0) numerator <<= BigInt(exponent);
    else denominator <<= BigInt(-exponent);
    let whole = numerator / denominator;
    const twiceRest = 2n * (numerator % denominator);
    if (twiceRest > denominator || (twiceRest === denominator && (whole & 1n) === 1n)) whole += 1n;
    const text = whole.toString().padStart(digits + 1, "0");
    if (digits === 0) return sign + text;
    return sign + text.slice(0, -digits) + "." + text.slice(-digits);
  }

  // atof of a text that formatFixed wrote (or "%.17g" wrote): correctly
  // rounded, as the C library reads it.
  function parseC(text) {
    if (text === "inf") return Infinity;
    if (text === "-inf") return -Infinity;
    if (text === "nan" || text === "-nan") return NaN;
    return Number(text);
  }

  // A window end as slabtone reads it from the command: the value printed
  // with "%f" and read back with atof.
  function windowEnd(x) {
    const text = formatFixed(x, 6);
    return { text, value: parseC(text) };
  }

  // The conversion of one sample: divide, add, subtract, multiply, each in
  // double precision in this order, truncated toward zero, limited to
  // 0..255; products beyond 32 bits saturate, NaN gives 0.
  function grey(sample, lacScale, lacOffset, lacMin, windowScale) {
    let t = sample / lacScale;
    t = t + lacOffset;
    t = t - lacMin;
    const p = t * windowScale;
    if (!(p < 2147483648)) return p !== p ? 0 : 255;
    if (!(p > -2147483649)) return 0;
    const q = Math.trunc(p);
    return q <= 0 ? 0 : q > 255 ? 255 : q;
  }

  function sampleLac(sample, lacScale, lacOffset) {
    return sample / lacScale + lacOffset;
  }

  // ---- The data the program wrote: decoded once.

  const data = JSON.parse(document.getElementById("slabtone-data").textContent);

  function bytesOf(base64) {
    const text = atob(base64);
    const bytes = new Uint8Array(text.length);
    for (let i = 0; i < text.length; i++) bytes[i] = text.charCodeAt(i);
    return bytes;
  }

  // Nonzero bins of a 65536-bin count: pairs of varints (the sample value
  // as a step from the last one, then its count).
  function binsOf(base64) {
    const bytes = bytesOf(base64);
    const values = [];
    const counts = [];
    let at = 0;
    let value = 0;
    const varint = () => {
      let number = 0;
      let scale = 1;
      for (;;) {
        const byte = bytes[at++];
        number += (byte & 0x7f) * scale;
        if (byte < 0x80) return number;
        scale *= 128;
      }
    };
    while (at < bytes.length) {
      value += varint();
      values.push(value);
      counts.push(varint());
    }
    return { values: Uint16Array.from(values), counts: Float64Array.from(counts) };
  }

  const calibrations = data.calibrations.map((c) => ({
    lacScale: parseC(c.lac_scale),
    lacOffset: Math.fround(parseC(c.lac_offset)),
    ...binsOf(c.bins),
  }));
  let totalSamples = 0;
  for (const c of calibrations) for (const n of c.counts) totalSamples += n;

  function samplesOf(base64) {
    const bytes = bytesOf(base64);
    const samples = new Uint16Array(bytes.length >> 1);
    for (let i = 0; i < samples.length; i++) samples[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    return samples;
  }

  const previews = data.previews.map((p) => ({
    ...p,
    samples: samplesOf(p.samples),
    calibration: calibrations[p.calibration],
  }));

  // The two planes across the slices: xz has a row per slice (its row y),
  // yz a column per slice (its column x); each pixel one sample of its own
  // slice, under that slice's calibration.
  const planeData = data.planes;
  const planes = [];
  if (planeData) {
    const n = planeData.slices.length;
    const sliceCalibrations = planeData.calibrations.map((i) => calibrations[i]);
    planes.push({
      kind: "xz",
      columns: planeData.columns,
      rows: n,
      samples: samplesOf(planeData.xz),
      calibrationAt: (i, j) => sliceCalibrations[j],
      sliceAt: (i, j) => planeData.slices[j],
      placeAt: (i, j) => `x ${i * planeData.step}, y ${planeData.y}`,
    });
    planes.push({
      kind: "yz",
      columns: n,
      rows: planeData.rows,
      samples: samplesOf(planeData.yz),
      calibrationAt: (i) => sliceCalibrations[i],
      sliceAt: (i) => planeData.slices[i],
      placeAt: (i, j) => `x ${planeData.x}, y ${j * planeData.step}`,
    });
  }

  // Every sample's LAC, once, for the histogram.
  const histogramData = (() => {
    const lacs = [];
    const counts = [];
    for (const c of calibrations) {
      for (let i = 0; i < c.values.length; i++) {
        const lac = sampleLac(c.values[i], c.lacScale, c.lacOffset);
        if (Number.isFinite(lac)) {
          lacs.push(lac);
          counts.push(c.counts[i]);
        }
      }
    }
    let low = Infinity;
    let high = -Infinity;
    for (const lac of lacs) {
      low = Math.min(low, lac);
      high = Math.max(high, lac);
    }
    return { lacs: Float64Array.from(lacs), counts: Float64Array.from(counts), low, high };
  })();

  // ---- State. Events change it and ask for a redraw; the redraw reads it.

  const state = {
    lacMin: windowEnd(parseC(data.proposed.lacmin)),
    lacMax: windowEnd(parseC(data.proposed.lacmax)),
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

  // ---- The histogram, counts on a log scale, with the window's two handles.

  const histogram = $("histogram");
  const margin = { left: 58, right: 16, top: 24, bottom: 36 };
  const axis = { low: 0, high: 1 };
  let bars = null; // an offscreen canvas with the bars and axes

  function fitAxis() {
    let low = Math.min(histogramData.low, state.lacMin.value, state.lacMax.value);
    let high = Math.max(histogramData.high, state.lacMin.value, state.lacMax.value);
    if (!Number.isFinite(low) || !Number.isFinite(high)) {
      low = Number.isFinite(histogramData.low) ? histogramData.low : 0;
      high = Number.isFinite(histogramData.high) ? histogramData.high : 1;
    }
    if (!(high > low)) {
      low -= 0.5;
      high += 0.5;
    }
    const pad = (high - low) * 0.03;
    axis.low = low - pad;
    axis.high = high + pad;
  }

  function plotWidth() {
    return histogram.clientWidth - margin.left - margin.right;
  }
  function xOf(lac) {
    return margin.left + ((lac - axis.low) / (axis.high - axis.low)) * plotWidth();
  }
  function lacOf(x) {
    const clamped = Math.min(Math.max(x, margin.left), margin.left + plotWidth());
    return axis.low + ((clamped - margin.left) / plotWidth()) * (axis.high - axis.low);
  }

  // A step of 1, 2 or 5 times a power of ten giving about eight ticks.
  function tickStep(span) {
    const raw = span / 8;
    const power = 10 ** Math.floor(Math.log10(raw));
    for (const factor of [1, 2, 5, 10]) if (raw <= factor * power) return factor * power;
    return 10 * power;
  }

  function drawBars() {
    const ratio = window.devicePixelRatio || 1;
    const width = histogram.clientWidth;
    const height = histogram.clientHeight;
    histogram.width = Math.round(width * ratio);
    histogram.height = Math.round(height * ratio);
    bars = document.createElement("canvas");
    bars.width = histogram.width;
    bars.height = histogram.height;
    const g = bars.getContext("2d");
    g.scale(ratio, ratio);
    const columns = Math.max(1, Math.floor(plotWidth()));
    const binned = new Float64Array(columns);
    const { lacs, counts } = histogramData;
    for (let i = 0; i < lacs.length; i++) {
      const column = Math.floor(((lacs[i] - axis.low) / (axis.high - axis.low)) * columns);
      binned[Math.min(Math.max(column, 0), columns - 1)] += counts[i];
    }
    let most = 1;
    for (const n of binned) most = Math.max(most, n);
    const decades = Math.max(1, Math.ceil(Math.log10(most + 1)));
    const plotHeight = height - margin.top - margin.bottom;
    const yOf = (n) => margin.top + plotHeight - (Math.log10(n + 1) / decades) * plotHeight;
    g.fillStyle = "#3b6ea5";
    for (let c = 0; c < columns; c++) {
      if (binned[c] === 0) continue;
      const y = yOf(binned[c]);
      g.fillRect(margin.left + c, y, 1, margin.top + plotHeight - y);
    }
    g.strokeStyle = "#1d232b";
    g.fillStyle = "#1d232b";
    g.lineWidth = 1;
    g.font = "11px 'DejaVu Sans', sans-serif";
    g.beginPath();
    g.moveTo(margin.left, margin.top);
    g.lineTo(margin.left, margin.top + plotHeight + 0.5);
    g.lineTo(margin.left + plotWidth(), margin.top + plotHeight + 0.5);
    g.stroke();
    g.textAlign = "center";
    const step = tickStep(axis.high - axis.low);
    for (let tick = Math.ceil(axis.low / step) * step; tick <= axis.high; tick += step) {
      const x = Math.round(xOf(tick)) + 0.5;
      g.beginPath();
      g.moveTo(x, margin.top + plotHeight);
      g.lineTo(x, margin.top + plotHeight + 5);
      g.stroke();
      const label = Math.abs(tick) < step * 1e-9 ? 0 : tick;
      g.fillText(String(Number(label.toPrecision(6))), x, margin.top + plotHeight + 17);
    }
    g.fillText("linear attenuation coefficient (LAC)", margin.left + plotWidth() / 2, height - 4);
    g.textAlign = "right";
    for (let d = 0; d <= decades; d++) {
      const y = yOf(10 ** d - 1);
      g.fillText(d < 4 ? String(10 ** d) : "10" + superscript(d), margin.left - 6, y + 4);
    }
  }

  function superscript(n) {
    return [...String(n)].map((digit) => "⁰¹²³⁴⁵⁶⁷⁸⁹"[Number(digit)]).join("");
  }

  function handleX(which) {
    return xOf(which === "lacmin" ? state.lacMin.value : state.lacMax.value);
  }

  function drawHistogram() {
    const ratio = window.devicePixelRatio || 1;
    const g = histogram.getContext("2d");
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.clearRect(0, 0, histogram.width, histogram.height);
    g.scale(ratio, ratio);
    const height = histogram.clientHeight;
    const plotHeight = height - margin.top - margin.bottom;
    const left = Math.min(handleX("lacmin"), handleX("lacmax"));
    const right = Math.max(handleX("lacmin"), handleX("lacmax"));
    g.fillStyle = "#fff1c1";
    g.fillRect(left, margin.top, Math.max(right - left, 1), plotHeight);
    g.setTransform(1, 0, 0, 1, 0, 0);
    g.drawImage(bars, 0, 0);
    g.scale(ratio, ratio);
    g.font = "bold 11px 'DejaVu Sans', sans-serif";
    for (const which of ["lacmin", "lacmax"]) {
      const x = Math.round(handleX(which)) + 0.5;
      const active = state.dragging === which;
      g.strokeStyle = "#c0392b";
      g.lineWidth = active ? 3 : 2;
      g.beginPath();
      g.moveTo(x, margin.top - 6);
      g.lineTo(x, margin.top + plotHeight);
      g.stroke();
      const label = which === "lacmin" ? "min" : "max";
      const w = g.measureText(label).width + 10;
      g.fillStyle = "#c0392b";
      g.fillRect(x - w / 2, 2, w, 16);
      g.fillStyle = "#fff";
      g.textAlign = "center";
      g.fillText(label, x, 14);
    }
  }

  // ---- The previews: each pixel one real sample, as slabtone converts it.

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
  function pixelOf(g) {
    return littleEndian ? 0xff000000 | (g << 16) | (g << 8) | g : ((g << 24) | (g << 16) | (g << 8) | 0xff) >>> 0;
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
    for (const c of used) {
      if (tables.has(c)) continue;
      const table = new Uint8Array(65536);
      for (let v = 0; v < 65536; v++) table[v] = grey(v, c.lacScale, c.lacOffset, lacMin, scale);
      tables.set(c, table);
    }
  }

  function paintPlanes() {
    for (const plane of planes) {
      const { samples, pixels, columns, rows } = plane;
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
    for (const p of previews) {
      const table = tables.get(p.calibration);
      const { samples, pixels } = p;
      for (let i = 0; i < samples.length; i++) pixels[i] = pixelOf(table[samples[i]]);
      p.context.putImageData(p.image, 0, 0);
    }
  }

  // The shares of all samples of the range that become 0 and 255, counted
  // as the report counts them.
  function fractions() {
    const lacMin = state.lacMin.value;
    const scale = windowScale();
    let toZero = 0;
    let to255 = 0;
    for (const c of calibrations) {
      for (let i = 0; i < c.values.length; i++) {
        const g = grey(c.values[i], c.lacScale, c.lacOffset, lacMin, scale);
        if (g === 0) toZero += c.counts[i];
        else if (g === 255) to255 += c.counts[i];
      }
    }
    return { toZero, to255 };
  }

  function percent(count) {
    return formatFixed((100.0 * count) / totalSamples, 3) + "%";
  }

  // ---- Crop, command and readouts.

  function cropText(c) {
    return `${c.x1} ${c.y1} ${c.x2} ${c.y2}`;
  }

  function command() {
    const words = ["slabtone", data.range[0], data.range[1], state.lacMin.text, state.lacMax.text];
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

  // "sample v · LAC l · grey g" of the pixel under the pointer, after
  // `where` it lies; nothing when the pointer is elsewhere.
  function showSample(view, where, calibration) {
    if (!view.pointer) {
      view.readout.textContent = "";
      return;
    }
    const { i, j } = view.pointer;
    const v = view.samples[j * view.columns + i];
    const c = calibration(i, j);
    const lac = sampleLac(v, c.lacScale, c.lacOffset);
    const g = grey(v, c.lacScale, c.lacOffset, state.lacMin.value, windowScale());
    view.readout.textContent =
      `${where(i, j)} · sample ${v} · LAC ${formatFixed(lac, 6)} · grey ${g}`;
  }

  function updateReadout(p) {
    showSample(p, (i, j) => `x ${i * p.step}, y ${j * p.step}`, () => p.calibration);
  }

  function updatePlaneReadout(plane) {
    showSample(plane, (i, j) => `slice ${plane.sliceAt(i, j)}, ${plane.placeAt(i, j)}`,
               plane.calibrationAt);
  }

  // ---- The one redraw.

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
      const { toZero, to255 } = fractions();
      $("to-zero").textContent = percent(toZero);
      $("to-255").textContent = percent(to255);
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
    const end = windowEnd(value);
    if (which === "lacmin") state.lacMin = end;
    else state.lacMax = end;
    requestRedraw("window");
  }

  // ---- Events.

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
    state.lacMin = windowEnd(parseC(data.proposed.lacmin));
    state.lacMax = windowEnd(parseC(data.proposed.lacmax));
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

  // ---- Start.

  const first = data.range[0];
  const last = data.range[1];
  $("summary").textContent =
    `${data.slices} slices (${first} to ${last}), ${totalSamples} samples. ` +
    `Proposed window: the ${data.proposed.low}% and ${data.proposed.high}% LAC, ` +
    `${data.proposed.lacmin} to ${data.proposed.lacmax}. Drag the red handles or type a window; ` +
    `the slices below show exactly the grey values slabtone will write.`;

  window.slabtone = {
    formatFixed,
    parseC,
    windowEnd,
    grey,
    state,
    stats,
    setWindowEnd,
    // Where a handle stands, in CSS pixels from the histogram's top left.
    handlePosition: (which) => ({ x: handleX(which), y: 8 }),
    // The frames painted so far, or null while one is still to come.
    settledFrame: () => (scheduled ? null : frames),
  };

  fitAxis();
  requestRedraw("axis");
  requestRedraw("window");
})();
