// Start: the summary, the test API (window.slabtone: the exact arithmetic,
// the state and what a test waits for), and the first redraw.

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
  shortestText,
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
