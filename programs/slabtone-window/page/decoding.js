// The data the program wrote into the page, decoded once into typed
// arrays: the counts per calibration, the previews, the planes, and every
// sample's LAC for the histogram.

const data = JSON.parse(document.getElementById("slabtone-data").textContent);
const sampleType = data.sampleType || "uint16";
const floatStack = sampleType === "float32";
// The value of a 16-bit sample's bits: a signed stack's samples are
// counted and carried by their bits.
const sampleValue = sampleType === "int16" ? (v) => (v << 16) >> 16 : (v) => v;

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
  return { values: Float64Array.from(values, sampleValue), counts: Float64Array.from(counts) };
}

// A float stack's values come in 65536 bins by the high 16 bits of their
// order key; each bin is drawn at its lowest value.
function floatOfKey(key) {
  word.setUint32(0, key >= 0x80000000 ? key - 0x80000000 : 0xffffffff - key);
  return word.getFloat32(0);
}
function floatBinsOf(base64) {
  const { values, counts } = binsOf(base64);
  const lowest = values.map((bin) => floatOfKey(Math.max(bin * 65536, 0x007fffff)));
  return { values: lowest, counts };
}

const calibrations = data.calibrations.map((c) => ({
  lacScale: parseC(c.lac_scale),
  lacOffset: Math.fround(parseC(c.lac_offset)),
  ...(floatStack ? floatBinsOf(data.floatBins) : binsOf(c.bins)),
}));
let totalSamples = 0;
for (const c of calibrations) for (const n of c.counts) totalSamples += n;
// A float stack's NaN values have no bin; they become 0.
const floatNaN = data.floatNaN || 0;
totalSamples += floatNaN;

function samplesOf(base64) {
  const bytes = bytesOf(base64);
  const samples = new Uint16Array(bytes.length >> 1);
  for (let i = 0; i < samples.length; i++) samples[i] = bytes[2 * i] | (bytes[2 * i + 1] << 8);
  return samples;
}

function floatsOf(base64) {
  const bytes = bytesOf(base64);
  const view = new DataView(bytes.buffer);
  const values = new Float32Array(bytes.length >> 2);
  for (let i = 0; i < values.length; i++) values[i] = view.getFloat32(4 * i, true);
  return values;
}

const previews = data.previews.map((p) => ({
  ...p,
  samples: floatStack ? floatsOf(p.samples) : samplesOf(p.samples),
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
    samples: floatStack ? floatsOf(planeData.xz) : samplesOf(planeData.xz),
    calibrationAt: (i, j) => sliceCalibrations[j],
    sliceAt: (i, j) => planeData.slices[j],
    placeAt: (i, j) => `x ${i * planeData.step}, y ${planeData.y}`,
  });
  planes.push({
    kind: "yz",
    columns: n,
    rows: planeData.rows,
    samples: floatStack ? floatsOf(planeData.yz) : samplesOf(planeData.yz),
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
