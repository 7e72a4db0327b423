"""The Python module against the programs on the same files: what convert
writes, what measure reports, what grey, read and read_stack give, and the
messages of broken slices. CTest runs it with the build's programs and
module (SLABTONE_BINARY, SLABTONE_WINDOW_BINARY, SLABTONE_MAKE_TEST_SLICES,
PYTHONPATH)."""

import os
import shutil
import signal
import subprocess
import threading

import numpy
import pytest

import slabtone

SLABTONE = os.environ["SLABTONE_BINARY"]
WINDOW = os.environ["SLABTONE_WINDOW_BINARY"]
MAKE_TEST_SLICES = os.environ["SLABTONE_MAKE_TEST_SLICES"]


@pytest.fixture(scope="module")
def made(tmp_path_factory):
    """The test kit's slices: rec0001..rec0006 (slice 5 narrower) and
    broken-*.tif."""
    folder = tmp_path_factory.mktemp("made")
    subprocess.run([MAKE_TEST_SLICES, str(folder)], check=True)
    return folder


def stack_in(made, folder, numbers=range(1, 7)):
    folder.mkdir(exist_ok=True)
    for n in numbers:
        shutil.copy(made / f"rec{n:04d}.tif", folder / f"rec{n:04d}.tif")
    return folder


def run(program, arguments, folder):
    return subprocess.run([program, *map(str, arguments)], cwd=folder, capture_output=True)


def outputs(folder):
    """Every file but the slices read: the ro files, and any temporary one."""
    return {p.name: p.read_bytes() for p in folder.iterdir() if not p.name.startswith("rec")}


# (name, first, last, lacmin, lacmax, crop, broken slice or None)
CONVERSIONS = [
    ("whole", 1, 6, 0.0, 60.0, None, None),
    ("cropped", 1, 4, -0.5, 40.0, (3, 5, 70, 50), None),
    ("inverted", 3, 6, 60.0, 0.0, None, None),
    ("failing_in_the_middle", 1, 6, 0.0, 60.0, None, 4),
    ("crop_outside_slice_5", 1, 6, 0.0, 60.0, (0, 0, 90, 10), None),
    ("empty_range", 3, 2, 0.0, 60.0, None, None),
]


@pytest.mark.parametrize("name,first,last,lacmin,lacmax,crop,broken", CONVERSIONS,
                         ids=[c[0] for c in CONVERSIONS])
def test_convert_writes_what_slabtone_writes(made, tmp_path, name, first, last, lacmin, lacmax,
                                            crop, broken):
    program = stack_in(made, tmp_path / "program")
    module = stack_in(made, tmp_path / "module")
    if broken:
        for folder in (program, module):
            shutil.copy(made / "broken-lzw-no-clear.tif", folder / f"rec{broken:04d}.tif")
    arguments = [first, last, repr(lacmin), repr(lacmax), *(crop or ())]
    expected = run(SLABTONE, arguments, program)

    stored = []
    error = None
    try:
        slabtone.convert(first, last, lacmin, lacmax, crop=crop, folder=str(module),
                         progress=stored.append)
    except slabtone.SliceError as raised:
        error = raised
    assert outputs(module) == outputs(program)
    assert bool(outputs(module)) == (name != "empty_range")
    if expected.returncode:
        assert error is not None and str(error) + "\n" == expected.stderr.decode()
    else:
        assert error is None and expected.stderr == b""
    printed = [line.split(b"(")[0] for line in expected.stdout.split(b"\r")[:-1]]
    assert [f"rec{n:04d}.tif".encode() for n in stored] == printed


# Slices under other names and with a calibration of the run's:
# (pattern, output_pattern, calibration).
NAMED = [("scan_%03d.tif", None, None),
         ("scan_%03d.tif", "grey-%i.tif", (800.0, -0.25)),
         (None, "out/%05d.tif", (1000.0, 0.1))]


@pytest.mark.parametrize("pattern,output_pattern,calibration", NAMED)
def test_patterns_and_calibration_write_what_slabtone_writes(made, tmp_path, pattern,
                                                             output_pattern, calibration):
    sides = {}
    for side in ("program", "module"):
        folder = tmp_path / side
        (folder / "out").mkdir(parents=True)
        for n in range(1, 7):
            name = (pattern or "rec%04d.tif") % n
            shutil.copy(made / f"rec{n:04d}.tif", folder / name)
        sides[side] = folder
    options = []
    if pattern:
        options += ["--input", pattern]
    if output_pattern:
        options += ["--output", output_pattern]
    if calibration:
        options += ["--calibration", repr(calibration[0]), repr(calibration[1])]
    expected = run(SLABTONE, [*options, 1, 6, "0", "60"], sides["program"])
    assert expected.returncode == 0, expected.stderr
    slabtone.convert(1, 6, 0, 60, folder=str(sides["module"]), pattern=pattern,
                     output_pattern=output_pattern, calibration=calibration)

    def written(folder):
        inputs = {(pattern or "rec%04d.tif") % n for n in range(1, 7)}
        return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*")
                if p.is_file() and p.name not in inputs}

    assert written(sides["module"]) == written(sides["program"])
    assert len(written(sides["module"])) == 6
    if pattern:
        assert numpy.array_equal(
            slabtone.read_stack(1, 4, folder=str(sides["module"]), pattern=pattern),
            slabtone.read_stack(1, 4, folder=str(stack_in(made, tmp_path / "plain"))))


def test_wrong_names_raise_before_anything_is_written(made, tmp_path):
    folder = stack_in(made, tmp_path)
    with pytest.raises(ValueError):
        slabtone.convert(1, 2, 0, 60, folder=str(folder), pattern="rec.tif")
    with pytest.raises(ValueError):
        slabtone.read_stack(1, 2, folder=str(folder), pattern="rec%s.tif")
    with pytest.raises(ValueError):
        slabtone.convert(1, 2, 0, 60, folder=str(folder), calibration=(0, 1))
    # Slice 1's output would be slice 1's input.
    with pytest.raises(slabtone.SliceError) as error:
        slabtone.convert(1, 2, 0, 60, folder=str(folder), output_pattern="./rec%04d.tif")
    assert str(error.value) == "rec0001.tif : output would replace an input."
    assert outputs(folder) == {}


def typed_tiff(path, samples, sample_format):
    """A little-endian slice of one strip: samples (a 2-D numpy array)
    with this SampleFormat, and a tomopy-like JSON description."""
    import struct
    height, width = samples.shape
    strip = samples.astype(samples.dtype.newbyteorder("<")).tobytes()
    text = b'{"shape": [%d, %d]}\0' % (height, width)
    entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, samples.itemsize * 8),
               (259, 3, 1, 1), (262, 3, 1, 1), (270, 2, len(text), 8 + len(strip)),
               (273, 4, 1, 8), (277, 3, 1, 1), (278, 4, 1, height), (279, 4, 1, len(strip)),
               (339, 3, 1, sample_format)]
    data = strip + text + b"\0" * (len(text) % 2)
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        field = struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value)
        ifd += struct.pack("<HHI", tag, kind, count) + field
    path.write_bytes(b"II" + struct.pack("<HI", 42, 8 + len(data)) + data + ifd + b"\0" * 4)


@pytest.mark.parametrize("dtype,sample_format,calibration", [
    (numpy.float32, 3, None), (numpy.float32, 3, (0.5, 0.25)), (numpy.int16, 2, (1000.0, 0.5))])
def test_float_and_signed_slices_as_slabtone_converts_them(tmp_path, dtype, sample_format,
                                                          calibration):
    values = numpy.array([[-0.5, 0.0, 0.501, 1.0], [2.0, numpy.inf, -numpy.inf, numpy.nan]])
    if dtype == numpy.int16:
        values = numpy.array([[-32768, -500, 0, 501], [1500, 2000, 32767, 7]])
    samples = values.astype(dtype)
    typed_tiff(tmp_path / "s1.tif", samples, sample_format)
    if dtype == numpy.float32:
        with pytest.raises(slabtone.SliceError, match="too many bits per sample"):
            slabtone.read(tmp_path / "s1.tif")
    else:  # the strict reader never looks at SampleFormat: the bits, unsigned
        assert numpy.array_equal(slabtone.read(tmp_path / "s1.tif").samples,
                                 samples.view(numpy.uint16))
    s = slabtone.read(tmp_path / "s1.tif", strict=False)
    assert s.samples.dtype == dtype and s.samples.flags.owndata
    assert numpy.array_equal(s.samples, samples, equal_nan=True)
    if dtype == numpy.float32:
        assert s.calibration == (1.0, 0.0)
        assert numpy.array_equal(s.lac(), samples.astype(numpy.float64), equal_nan=True)
    options = ["--calibration", repr(calibration[0]), repr(calibration[1])] if calibration else []
    result = run(SLABTONE, ["--input", "s%d.tif", *options, 1, 1, "0", "2"], tmp_path)
    assert result.returncode == 0, result.stderr
    written = slabtone.read(tmp_path / "ro0001.tif").samples
    scale, offset = calibration or s.calibration
    assert numpy.array_equal(slabtone.grey(s.samples, scale, offset, 0, 2), written)


def test_read_stack_and_measure_take_float_and_signed_stacks(tmp_path):
    rng = numpy.random.default_rng(3)
    floats = rng.normal(0.02, 0.01, (3, 20, 30)).astype(numpy.float32)
    floats[1, 0, :3] = [numpy.nan, -numpy.inf, 0.000412]
    for n in range(3):
        typed_tiff(tmp_path / f"recon_{n:05d}.tiff", floats[n], 3)
    stack = slabtone.read_stack(0, 2, folder=str(tmp_path), pattern="recon_%05d.tiff")
    assert stack.dtype == numpy.float32 and numpy.array_equal(stack, floats, equal_nan=True)
    cropped = slabtone.read_stack(0, 2, folder=str(tmp_path), pattern="recon_%05d.tiff",
                                  crop=(2, 1, 9, 4))
    assert numpy.array_equal(cropped, floats[:, 1:5, 2:10])
    # Measured exactly as slabtone-window measures it, the command with --input.
    m = slabtone.measure(0, 2, 1, 99, folder=str(tmp_path), pattern="recon_%05d.tiff")
    report, command = report_of(tmp_path, ["--input", "recon_%05d.tiff", 0, 2, "1", "99"])
    assert m.command == command and command.startswith("slabtone --input recon_%05d.tiff 0 2 ")
    lacs = numpy.sort(floats[~numpy.isnan(floats)].astype(numpy.float64))
    assert m.minimum == lacs[0] == -numpy.inf and m.maximum == lacs[-1]
    assert m.median == lacs[int(numpy.ceil(0.5 * lacs.size)) - 1]
    assert (m.lacmin, m.lacmax) == (lacs[int(numpy.ceil(0.01 * lacs.size)) - 1],
                                    lacs[int(numpy.ceil(0.99 * lacs.size)) - 1])
    assert report["minimum LAC"] == "-inf" and float(report["median LAC"]) == m.median
    grey = slabtone.grey(floats, 1.0, 0.0, m.lacmin, m.lacmax)
    assert m.to_0 == numpy.count_nonzero(grey == 0) / floats.size
    assert m.to_255 == numpy.count_nonzero(grey == 255) / floats.size
    # Signed slices in their own type; one of another type stops the stack.
    signed = rng.integers(-3000, 3000, (2, 20, 30)).astype(numpy.int16)
    typed_tiff(tmp_path / "recon_00003.tiff", signed[0], 2)
    typed_tiff(tmp_path / "lab1.tif", signed[0], 2)
    typed_tiff(tmp_path / "lab2.tif", signed[1], 2)
    stack = slabtone.read_stack(1, 2, folder=str(tmp_path), pattern="lab%d.tif")
    assert stack.dtype == numpy.int16 and numpy.array_equal(stack, signed)
    m = slabtone.measure(1, 2, folder=str(tmp_path), pattern="lab%d.tif", calibration=(1000, 0))
    assert m.minimum == signed.min() / 1000 and m.command.startswith(
        "slabtone --input lab%d.tif --calibration 1000 0 1 2 ")
    for call in (slabtone.read_stack, slabtone.measure):
        with pytest.raises(slabtone.SliceError) as error:
            call(2, 3, folder=str(tmp_path), pattern="recon_%05d.tiff")
        assert str(error.value) == "recon_00003.tiff : sample format differs from the first slice."


def test_float_stacks_as_tifffile_writes_them_for_tomopy(tmp_path):
    """dxchange writes tomopy's slices with tifffile: float32, numbered from
    0, a JSON description; tifffile also writes Deflate (zlib)."""
    import tifffile
    volume = numpy.random.default_rng(8).normal(0.02, 0.01, (3, 40, 50)).astype(numpy.float32)
    volume[0, 0, :3] = [numpy.nan, numpy.inf, -numpy.inf]
    for n in range(3):
        tifffile.imwrite(tmp_path / f"recon_{n:05d}.tiff", volume[n])
        tifffile.imwrite(tmp_path / f"zip_{n:05d}.tiff", volume[n], compression="zlib")
    assert tifffile.TiffFile(tmp_path / "zip_00000.tiff").pages[0].compression == 8
    for pattern, output in [("recon_%05d.tiff", "ro%04d.tif"), ("zip_%05d.tiff", "z%d.tif")]:
        result = run(SLABTONE, ["--input", pattern, "--output", output, 0, 2, "-0.01", "0.05"],
                     tmp_path)
        assert result.returncode == 0, result.stderr
        for n in range(3):
            written = slabtone.read(tmp_path / (output % n)).samples
            assert numpy.array_equal(written, slabtone.grey(volume[n], 1.0, 0.0, -0.01, 0.05))
            assert numpy.array_equal(written, tifffile.imread(tmp_path / (output % n)))
        report, command = report_of(tmp_path, ["--input", pattern, 0, 2, "--html", "page.html"])
        assert command.startswith(f"slabtone --input {pattern} 0 2 ")
        assert report["minimum LAC"] == "-inf" and report["maximum LAC"] == "inf"


def report_of(folder, arguments):
    result = run(WINDOW, arguments, folder)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.decode().splitlines()
    return dict(line.rsplit(": ", 1) for line in lines[:-1]), lines[-1]


# (first, last, low, high, inside_circle)
MEASUREMENTS = [(1, 6, 0.5, 99.5, False), (3, 6, 2.0, 98.0, False), (1, 4, 0.5, 99.5, True)]


@pytest.mark.parametrize("first,last,low,high,inside_circle", MEASUREMENTS)
def test_measure_reports_what_slabtone_window_reports(made, tmp_path, first, last, low, high,
                                                     inside_circle):
    folder = stack_in(made, tmp_path)
    arguments = [first, last, repr(low), repr(high)] + (["--inside-circle"] if inside_circle else [])
    report, command = report_of(folder, arguments)
    m = slabtone.measure(first, last, low, high, folder=str(folder), inside_circle=inside_circle)
    assert m.command == command
    assert (m.lacmin, m.lacmax) == (float(command.split()[3]), float(command.split()[4]))
    assert m.slices == int(report["slices read"])
    population = "samples inside the reconstruction circles" if inside_circle else "samples read"
    assert m.samples == int(report[population])
    for key, value in [("minimum LAC", m.minimum), ("median LAC", m.median),
                       ("maximum LAC", m.maximum)]:
        assert f"{value:.6f}" == report[key]
    assert f"{100 * m.to_0:.3f}% of samples" == report["converted to 0"]
    assert f"{100 * m.to_255:.3f}% of samples" == report["converted to 255"]
    counts, edges = m.histogram()
    assert counts.sum() == m.samples and len(edges) == len(counts) + 1
    assert edges[0] == m.minimum and edges[-2] == m.maximum and numpy.all(numpy.diff(edges) > 0)


def test_read_and_grey_give_the_files_slabtone_writes(made, tmp_path):
    folder = stack_in(made, tmp_path)
    assert run(SLABTONE, [1, 6, "-0.5", "40"], folder).returncode == 0
    # Slices 1, 3 and 5 carry their own calibration.
    for n in (1, 3, 5):
        s = slabtone.read(folder / f"rec{n:04d}.tif")
        assert s.samples.dtype == numpy.uint16 and s.samples.flags.c_contiguous
        assert s.samples.flags.owndata and s.bits_per_sample == 16
        assert s.samples.shape == ((64, 80) if n == 5 else (64, 96))
        written = slabtone.read(folder / f"ro{n:04d}.tif")
        assert written.bits_per_sample == 8
        assert numpy.array_equal(slabtone.grey(s.samples, *s.calibration, -0.5, 40.0),
                                 written.samples)
        scale, offset = s.calibration
        assert numpy.array_equal(s.lac(), s.samples / scale + numpy.float64(numpy.float32(offset)))
    assert slabtone.read(folder / "rec0003.tif").description == "7\t0.3\t800\t-0.25"
    assert slabtone.read(folder / "rec0002.tif").calibration is None


def test_read_stack_is_the_reads_stacked(made, tmp_path):
    folder = stack_in(made, tmp_path)
    reads = [slabtone.read(folder / f"rec{n:04d}.tif").samples for n in range(1, 7)]
    stack = slabtone.read_stack(1, 4, folder=str(folder))
    assert stack.dtype == numpy.uint16 and stack.flags.owndata
    assert numpy.array_equal(stack, numpy.stack(reads[:4]))
    cropped = slabtone.read_stack(1, 6, folder=str(folder), crop=(2, 3, 79, 60))
    assert numpy.array_equal(cropped, numpy.stack([r[3:61, 2:80] for r in reads]))
    with pytest.raises(slabtone.SliceError) as error:
        slabtone.read_stack(1, 6, folder=str(folder))
    assert str(error.value) == "rec0005.tif : image size differs from the first slice."
    with pytest.raises(ValueError):
        slabtone.read_stack(5, 4, folder=str(folder))


def test_a_range_with_no_lac_value_is_a_value_error(made, tmp_path):
    """Every sample of slice 3 calibrates to NaN (scale "nan"): no slice is
    at fault, so no SliceError names a program as its file."""
    data = (made / "rec0003.tif").read_bytes()
    assert data.count(b"\t800\t") == 1
    (tmp_path / "rec0003.tif").write_bytes(data.replace(b"\t800\t", b"\tnan\t"))
    with pytest.raises(ValueError, match="no sample"):
        slabtone.measure(3, 3, folder=str(tmp_path))


BROKEN = ["empty", "bad-magic", "no-width", "17-bits", "jpeg", "fill-order-3", "short-strip",
          "long-strip", "lzw-no-clear", "no-calibration"]


@pytest.mark.parametrize("name", BROKEN)
def test_broken_slices_fail_with_slabtones_line(made, tmp_path, monkeypatch, name):
    shutil.copy(made / f"broken-{name}.tif", tmp_path / "rec0001.tif")
    expected = run(SLABTONE, [1, 1, 0, 4], tmp_path)
    assert expected.returncode == 1
    line = expected.stderr.decode().rstrip("\n")
    monkeypatch.chdir(tmp_path)
    if name == "no-calibration":  # a slice the reader accepts, without fields 3 and 4
        s = slabtone.read("rec0001.tif")
        assert s.calibration is None
        with pytest.raises(slabtone.SliceError) as lac_error:
            s.lac()
        assert str(lac_error.value) == line
    else:
        with pytest.raises(slabtone.SliceError) as read_error:
            slabtone.read("rec0001.tif")
        assert str(read_error.value) == line
        assert read_error.value.filename == "rec0001.tif"
        assert line.endswith(read_error.value.message)
    with pytest.raises(slabtone.SliceError) as convert_error:
        slabtone.convert(1, 1, 0, 4)
    assert str(convert_error.value) == line
    assert not os.path.exists("ro0001.tif")


@pytest.mark.parametrize("call,raised", [
    (lambda: slabtone.convert("1", 2, 0, 4), TypeError),
    (lambda: slabtone.convert(1, 2, 0, 4, crop=(1, 2, 3)), ValueError),
    (lambda: slabtone.convert(1, 2**31, 0, 4), ValueError),
    (lambda: slabtone.convert(1, 2, 0, 4, progress=5), TypeError),
    (lambda: slabtone.measure(1, 2, 50, 10), ValueError),
    (lambda: slabtone.measure(5, 1), ValueError),
    (lambda: slabtone.grey([1.5], 1, 0, 0, 4), TypeError),
    (lambda: slabtone.grey([-1], 1, 0, 0, 4), ValueError),
    (lambda: slabtone.read(), TypeError),
])
def test_wrong_arguments_raise_as_python_functions_do(call, raised):
    with pytest.raises(raised):
        call()


def test_ctrl_c_stops_after_the_slice_being_stored(made, tmp_path):
    """SIGINT from another thread during a run of 60 slices: KeyboardInterrupt,
    no temporary file, every stored file complete."""
    one = made / "rec0001.tif"
    folder = tmp_path / "module"
    folder.mkdir()
    for n in range(1, 61):
        shutil.copy(one, folder / f"rec{n:04d}.tif")
    shutil.copytree(folder, tmp_path / "program")
    assert run(SLABTONE, [1, 60, 0, 60], tmp_path / "program").returncode == 0
    expected = outputs(tmp_path / "program")

    def interrupt_soon(n):
        # The signal comes from another thread while this slice's callback
        # runs, so that the run cannot end before it.
        if n == 3:
            sent = threading.Event()
            threading.Timer(0.01, lambda: (os.kill(os.getpid(), signal.SIGINT), sent.set())).start()
            sent.wait(5)

    with pytest.raises(KeyboardInterrupt):
        slabtone.convert(1, 60, 0, 60, folder=str(folder), progress=interrupt_soon)
    written = outputs(folder)
    assert 3 <= len(written) < 60
    assert all(not name.startswith(".") for name in written)
    assert all(expected[name] == data for name, data in written.items())
    assert sorted(written) == [f"ro{n:04d}.tif" for n in range(1, len(written) + 1)]


def test_version_is_the_programs():
    version = subprocess.run([SLABTONE, "--version"], capture_output=True).stdout.decode()
    assert version == f"slabtone {slabtone.__version__}\n"
