// Exact arithmetic: what the C library and slabtone compute, bit for bit.
// No DOM here: scripts may call these directly (window.slabtone).
//
// The page's scripts are joined, in the order programs/CMakeLists.txt gives,
// into one function: what one declares the next ones see.

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

// The shortest text that reads back as x, as C++'s std::to_chars writes
// it: the digits JavaScript finds shortest, in fixed or scientific
// notation, whichever is shorter (fixed on a tie), the exponent with at
// least two digits ("1e-07").
function shortestText(x) {
  if (Number.isNaN(x)) return "nan";
  if (!Number.isFinite(x)) return x < 0 ? "-inf" : "inf";
  if (x === 0) return Object.is(x, -0) ? "-0" : "0";
  const [mantissa, exponentText] = x.toExponential().split("e");
  const sign = x < 0 ? "-" : "";
  const digits = mantissa.replace("-", "").replace(".", "");
  const exponent = Number(exponentText);
  const scientific =
    sign + digits[0] + (digits.length > 1 ? "." + digits.slice(1) : "") + "e" +
    (exponent < 0 ? "-" : "+") + String(Math.abs(exponent)).padStart(2, "0");
  let fixed;
  if (exponent >= digits.length - 1) fixed = digits + "0".repeat(exponent - digits.length + 1);
  else if (exponent >= 0) fixed = digits.slice(0, exponent + 1) + "." + digits.slice(exponent + 1);
  else fixed = "0." + "0".repeat(-exponent - 1) + digits;
  fixed = sign + fixed;
  return fixed.length <= scientific.length ? fixed : scientific;
}

// A LAC value as the report prints it: "%f", or the shortest text for a
// stack named by --input or calibrated by --calibration.
function lacText(x, shortest) {
  return shortest ? shortestText(x) : formatFixed(x, 6);
}

// A window end as slabtone reads it from the command: the value printed
// as the report prints it and read back with atof.
function windowEnd(x, shortest = false) {
  const text = lacText(x, shortest);
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
