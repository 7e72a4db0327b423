// The histogram: counts on a log scale, with the window's two handles.

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
  const ctx = bars.getContext("2d");
  ctx.scale(ratio, ratio);
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
  ctx.fillStyle = "#3b6ea5";
  for (let c = 0; c < columns; c++) {
    if (binned[c] === 0) continue;
    const y = yOf(binned[c]);
    ctx.fillRect(margin.left + c, y, 1, margin.top + plotHeight - y);
  }
  ctx.strokeStyle = "#1d232b";
  ctx.fillStyle = "#1d232b";
  ctx.lineWidth = 1;
  ctx.font = "11px 'DejaVu Sans', sans-serif";
  ctx.beginPath();
  ctx.moveTo(margin.left, margin.top);
  ctx.lineTo(margin.left, margin.top + plotHeight + 0.5);
  ctx.lineTo(margin.left + plotWidth(), margin.top + plotHeight + 0.5);
  ctx.stroke();
  ctx.textAlign = "center";
  const step = tickStep(axis.high - axis.low);
  for (let tick = Math.ceil(axis.low / step) * step; tick <= axis.high; tick += step) {
    const x = Math.round(xOf(tick)) + 0.5;
    ctx.beginPath();
    ctx.moveTo(x, margin.top + plotHeight);
    ctx.lineTo(x, margin.top + plotHeight + 5);
    ctx.stroke();
    const label = Math.abs(tick) < step * 1e-9 ? 0 : tick;
    ctx.fillText(String(Number(label.toPrecision(6))), x, margin.top + plotHeight + 17);
  }
  ctx.fillText("linear attenuation coefficient (LAC)", margin.left + plotWidth() / 2, height - 4);
  ctx.textAlign = "right";
  for (let d = 0; d <= decades; d++) {
    const y = yOf(10 ** d - 1);
    ctx.fillText(d < 4 ? String(10 ** d) : "10" + superscript(d), margin.left - 6, y + 4);
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
  const ctx = histogram.getContext("2d");
  ctx.setTransform(1, 0, 0, 1, 0, 0);
  ctx.clearRect(0, 0, histogram.width, histogram.height);
  ctx.scale(ratio, ratio);
  const height = histogram.clientHeight;
  const plotHeight = height - margin.top - margin.bottom;
  const left = Math.min(handleX("lacmin"), handleX("lacmax"));
  const right = Math.max(handleX("lacmin"), handleX("lacmax"));
  ctx.fillStyle = "#fff1c1";
  ctx.fillRect(left, margin.top, Math.max(right - left, 1), plotHeight);
  ctx.setTransform(1, 0, 0, 1, 0, 0);
  ctx.drawImage(bars, 0, 0);
  ctx.scale(ratio, ratio);
  ctx.font = "bold 11px 'DejaVu Sans', sans-serif";
  for (const which of ["lacmin", "lacmax"]) {
    const x = Math.round(handleX(which)) + 0.5;
    const active = state.dragging === which;
    ctx.strokeStyle = "#c0392b";
    ctx.lineWidth = active ? 3 : 2;
    ctx.beginPath();
    ctx.moveTo(x, margin.top - 6);
    ctx.lineTo(x, margin.top + plotHeight);
    ctx.stroke();
    const label = which === "lacmin" ? "min" : "max";
    const w = ctx.measureText(label).width + 10;
    ctx.fillStyle = "#c0392b";
    ctx.fillRect(x - w / 2, 2, w, 16);
    ctx.fillStyle = "#fff";
    ctx.textAlign = "center";
    ctx.fillText(label, x, 14);
  }
}
