"""slabtone for Python: stacks of CT slices as numpy arrays.

A stack is a folder of 16-bit slices rec0001.tif, rec0002.tif, ... whose
ImageDescription carries a record of eight numbers; fields 3 and 4
calibrate the samples: LAC = sample / field 3 + field 4. slabtone reads
them with its own strict reader, converts them to 8-bit slices ro0001.tif,
... through a window of linear attenuation coefficients (LAC), exact to the
last bit, and measures a stack's LAC distribution. This module does all of
that as the programs slabtone and slabtone-window do, on every core that
the memory allows, and with the same files and messages:

    import slabtone
    s = slabtone.read("rec0001.tif")          # s.samples, s.lac(), ...
    m = slabtone.measure(1, 8)                # m.lacmin, m.lacmax, ...
    slabtone.convert(1, 8, m.lacmin, m.lacmax)

Failures raise SliceError, whose str() is the line slabtone prints
("rec0005.tif : file not found.").
"""

from __future__ import annotations

import operator
from typing import Callable, Optional, Tuple

import numpy

from . import _slabtone

__version__: str = _slabtone.__version__

__all__ = [
    "Measurement",
    "Slice",
    "SliceError",
    "convert",
    "grey",
    "measure",
    "read",
    "read_stack",
]

Crop = Tuple[int, int, int, int]


class SliceError(Exception):
    """A slice (or an output file) that stops the work.

    filename is the file as a run names it ("rec0005.tif", without the
    folder), message one of slabtone's messages ("file not found."), and
    str() the line the programs print: "rec0005.tif : file not found.".
    """

    def __init__(self, filename: str, message: str) -> None:
        super().__init__(f"{filename} : {message}")
        self.filename = filename
        self.message = message


def _slice_number(value: object, name: str) -> int:
    number = operator.index(value)  # TypeError for what is not an integer
    if not -(2**31) <= number < 2**31:
        raise ValueError(f"{name} must fit in 32 bits, as slabtone's slice numbers do")
    return number


def _crop(crop: Optional[Crop]) -> Optional[Crop]:
    if crop is None:
        return None
    values = tuple(crop)
    if len(values) != 4:
        raise ValueError("crop must be (x1, y1, x2, y2)")
    return tuple(_slice_number(v, "each crop coordinate") for v in values)  # type: ignore[return-value]


def _range(first: object, last: object) -> Tuple[int, int]:
    first = _slice_number(first, "first")
    last = _slice_number(last, "last")
    if first > last:
        raise ValueError(f"the range {first}..{last} holds no slice: first must not exceed last")
    return first, last


def _pattern(pattern: Optional[str], name: str) -> str:
    if pattern is None:
        return ""
    if not isinstance(pattern, str):
        raise TypeError(f"{name} must be a str, such as 'recon_%05d.tiff'")
    if not pattern:
        raise ValueError(f"{name} must not be empty (None: the default names)")
    return pattern


def _calibration(calibration: Optional[Tuple[float, float]]) -> Optional[Tuple[float, float]]:
    if calibration is None:
        return None
    values = tuple(calibration)
    if len(values) != 2:
        raise ValueError("calibration must be (scale, offset)")
    scale, offset = float(values[0]), float(values[1])
    if scale == 0:
        raise ValueError("the calibration's scale must not be 0")
    return scale, offset


def _folder(folder: object) -> str:
    import os

    return os.fspath(folder)  # type: ignore[arg-type]


class Slice:
    """One slice as slabtone's reader delivers it.

    samples: array (height, width), row 0 at the top, in the file's own
    type: uint16 for unsigned samples (8-bit ones too), int16 for signed
    ones (8-bit ones too) and float32 for float ones (strict=False only).
    description: the ImageDescription text ("" when there is none), one
    character per byte.
    bits_per_sample: 1 to 16 (narrower samples hold their value in the
    low bits).
    calibration: (scale, offset), fields 3 and 4 of the description record
    as slabtone applies them (the offset in single precision), or None when
    the description holds fewer than four numbers; (1.0, 0.0) for float
    samples, which are LAC values themselves.
    """

    def __init__(self, path: str, samples: numpy.ndarray, description: Optional[str],
                 bits_per_sample: int, calibration: Optional[Tuple[float, float]]) -> None:
        self.path = path
        self.samples = samples
        self.description = description if description is not None else ""
        self.bits_per_sample = bits_per_sample
        self.calibration = calibration

    def lac(self) -> numpy.ndarray:
        """Every sample's LAC, float64: sample / scale + offset, as slabtone
        computes it. Raises SliceError ("calibration not found in image
        description.") when the slice has no calibration."""
        if self.calibration is None:
            raise SliceError(self.path, "calibration not found in image description.")
        scale, offset = self.calibration
        if self.samples.dtype == numpy.uint16:
            return _slabtone.lac(self.samples, scale, offset)
        # Divide, then add, each in double precision, as slabtone does.
        return self.samples.astype(numpy.float64) / scale + numpy.float64(numpy.float32(offset))

    def __repr__(self) -> str:
        height, width = self.samples.shape
        return f"<slabtone.Slice {self.path!r} {width} x {height}, {self.bits_per_sample} bits>"


def read(path: str, strict: bool = True) -> Slice:
    """Reads one slice file as slabtone reads every slice: one gray channel
    of 0 to 16 bits, contiguous strips, uncompressed, LZW or PackBits,
    either byte order. Raises SliceError with slabtone's message for any
    other file.

    strict=False reads it as slabtone reads a stack named by --input:
    BigTIFF files, signed (8, 16 bits) and float (32 bits) samples and
    Deflate strips too, the floating-point predictor included."""
    path = _folder(path)
    samples, description, bits, calibration = _slabtone.read(path, bool(strict))
    return Slice(path, samples, description, bits, calibration)


def read_stack(first: int, last: int, folder: str = ".", crop: Optional[Crop] = None,
               pattern: Optional[str] = None) -> numpy.ndarray:
    """The samples of slices first..last of folder as one array (slices,
    height, width), read on every core the memory allows: uint16 (as
    slabtone reads rec%04d.tif), or with pattern in the slices' own type
    (uint16, int16 for signed samples, float32 for floats); a slice of
    another type than the first raises SliceError ("sample format differs
    from the first slice.").

    crop is (x1, y1, x2, y2), zero-based and inclusive, cut from every
    slice. Without it every slice must have the first one's size: a slice
    of another raises SliceError naming it ("image size differs from the
    first slice."). An empty range (first > last) raises ValueError.

    pattern names the slices instead of rec%04d.tif and reads them as
    slabtone's --input does (BigTIFF, signed and float samples, Deflate):
    exactly one %d, %i, %0Nd or %Nd (N from 1 to 10), and %% for a percent
    sign ("recon_%05d.tiff"); another text raises ValueError."""
    first, last = _range(first, last)
    return _slabtone.read_stack(first, last, _folder(folder), _crop(crop),
                                _pattern(pattern, "pattern"))


def convert(first: int, last: int, lacmin: float, lacmax: float, crop: Optional[Crop] = None,
            folder: str = ".", progress: Optional[Callable[[int], object]] = None,
            pattern: Optional[str] = None, output_pattern: Optional[str] = None,
            calibration: Optional[Tuple[float, float]] = None) -> None:
    """Converts slices first..last of folder into 8-bit slices: exactly what
    `slabtone first last lacmin lacmax [x1 y1 x2 y2]` writes when run in
    that folder, byte for byte.

    lacmin becomes grey value 0 and lacmax 255; crop is (x1, y1, x2, y2),
    zero-based and inclusive. progress(slice_number) is called on this
    thread after each slice is stored, in order. The first slice that fails
    raises its SliceError; the slices before it are stored, no later one
    is touched. Ctrl+C stops after the slice being stored, with no
    half-written file, and raises KeyboardInterrupt.

    pattern and output_pattern name the slices read and written instead of
    rec%04d.tif and ro%04d.tif, as slabtone's --input and --output do; a
    slice whose output would replace an input of the range stops the run
    before anything is read or written (SliceError "output would replace an
    input."). calibration=(scale, offset) calibrates every slice with
    LAC = sample / scale + offset (the offset taken as the float nearest
    it) instead of its record, as slabtone's --calibration does."""
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable")
    _slabtone.convert(_slice_number(first, "first"), _slice_number(last, "last"),
                      float(lacmin), float(lacmax), _crop(crop), _folder(folder), progress,
                      _pattern(pattern, "pattern"), _pattern(output_pattern, "output_pattern"),
                      _calibration(calibration))


def grey(samples: numpy.ndarray, scale: float, offset: float, lacmin: float, lacmax: float
         ) -> numpy.ndarray:
    """The grey values (uint8, the shape of samples) that slabtone writes
    for these samples under the calibration (scale, offset) and the window
    [lacmin, lacmax]. The offset is taken in single precision, as slabtone
    holds it. samples are uint16, int16 or float32 (each taken as it is),
    or other whole numbers 0 to 65535."""
    array = numpy.asarray(samples)
    if array.dtype in (numpy.int16, numpy.float32):
        return _slabtone.grey(numpy.ascontiguousarray(array), float(scale), float(offset),
                              float(lacmin), float(lacmax))
    if array.dtype != numpy.uint16:
        if array.dtype.kind not in "iub":
            raise TypeError("samples must be uint16, int16 or float32 (or whole numbers)")
        if array.size and (array.min() < 0 or array.max() > 65535):
            raise ValueError("samples must lie in 0..65535")
        array = array.astype(numpy.uint16)
    return _slabtone.grey(numpy.ascontiguousarray(array), float(scale), float(offset),
                          float(lacmin), float(lacmax))


class Measurement:
    """The LAC distribution of a range and the window proposed from it, as
    slabtone-window reports them.

    lacmin, lacmax: the proposed window as slabtone reads it back from the
    printed command; minimum, median, maximum: LAC values; samples,
    slices: counts; to_0, to_255: fractions (0..1) of the samples that the
    window converts to 0 and to 255; command: the last line of
    slabtone-window ("slabtone 1 8 -0.090600 3.196900")."""

    def __init__(self, slices: int, result: dict) -> None:
        self.slices = slices
        self.samples: int = result["samples"]
        self.lacmin: float = result["lacmin"]
        self.lacmax: float = result["lacmax"]
        self.minimum: float = result["minimum"]
        self.median: float = result["median"]
        self.maximum: float = result["maximum"]
        self.to_0: float = result["to_black"] / self.samples
        self.to_255: float = result["to_white"] / self.samples
        self.command: str = result["command"]
        self._values: numpy.ndarray = result["values"]
        self._counts: numpy.ndarray = result["counts"]

    def histogram(self) -> Tuple[numpy.ndarray, numpy.ndarray]:
        """(counts, edges) of the exact distribution: counts[i] samples have
        the LAC value edges[i], the i-th distinct value in increasing order;
        edges has one more entry (the next double after the largest value),
        so that bin i is [edges[i], edges[i+1]) as numpy.histogram's."""
        edges = numpy.append(self._values, numpy.nextafter(self._values[-1], numpy.inf))
        return self._counts.copy(), edges

    def __repr__(self) -> str:
        return f"<slabtone.Measurement {self.command!r}>"


def measure(first: int, last: int, low: float = 0.5, high: float = 99.5, folder: str = ".",
            inside_circle: bool = False, pattern: Optional[str] = None,
            calibration: Optional[Tuple[float, float]] = None) -> Measurement:
    """Measures the LAC distribution of slices first..last of folder, read
    and calibrated as slabtone reads them, and proposes the window from the
    low and high percentiles (0 <= low < high <= 100), as slabtone-window
    does. With inside_circle, only the samples inside each slice's
    reconstruction circle count. Raises SliceError for the first slice that
    cannot be read or has no calibration, and ValueError for an empty range
    (first > last) or one with no sample that has a LAC value.

    pattern and calibration as convert's: slices named otherwise (read as
    slabtone's --input reads them; float slices are LAC values) and a
    calibration instead of the records'; the command then holds them, and
    its values are in the shortest form that reads back exactly. Of a float
    stack, histogram() has one value per bin of its values, not every
    value; the figures stay exact."""
    low, high = float(low), float(high)
    if not 0 <= low < high <= 100:
        raise ValueError("the percentiles must satisfy 0 <= low < high <= 100")
    first, last = _range(first, last)
    result = _slabtone.measure(first, last, low, high, _folder(folder), bool(inside_circle),
                               _pattern(pattern, "pattern"), _calibration(calibration))
    return Measurement(last - first + 1, result)
