"""The Python module against its peers, side by side on the same files:
slabtone.read_stack against tifffile.imread of the same slices (ms per
slice, every variant), and slabtone.convert against the slabtone program
(the module's overhead). Run by bench/python.

Debian 12's tifffile decodes LZW and PackBits only with imagecodecs, which
Debian 12 does not package; for those, Pillow (python3-pil, through libtiff)
is the peer, and the table says so."""

import os
import statistics
import subprocess
import sys
import time

import numpy
import tifffile
from PIL import Image

import slabtone

work, count, program, reps = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
variants = ["raw", "lzw", "packbits"]


def timed(action):
    start = time.perf_counter()
    action()
    return time.perf_counter() - start


def clean(folder):
    for name in os.listdir(folder):
        if name.startswith("ro"):
            os.remove(os.path.join(folder, name))


def files(folder):
    return [os.path.join(folder, f"rec{n:04d}.tif") for n in range(1, count + 1)]


def with_pillow(paths):
    return numpy.stack([numpy.array(Image.open(path)) for path in paths])


# Which peer reads each variant, and the same samples either way, before
# anything is timed.
peer = {}
for variant in variants:
    folder = os.path.join(work, variant)
    ours = slabtone.read_stack(1, count, folder=folder)
    try:
        theirs = tifffile.imread(files(folder))
        peer[variant] = ("tifffile", lambda paths: tifffile.imread(paths))
    except ValueError:  # a codec tifffile has not here
        theirs = with_pillow(files(folder))
        peer[variant] = ("Pillow", with_pillow)
    assert numpy.array_equal(ours, theirs), f"{variant}: the stacks differ"
print(f"read_stack and its peer give the same stacks ({count} slices of 2048 x 2048)")

times = {}
for rep in range(reps + 1):  # round 0 warms the page cache and is not counted
    for variant in variants:
        folder = os.path.join(work, variant)
        tools = {
            "read_stack": lambda: slabtone.read_stack(1, count, folder=folder),
            "tifffile": lambda: peer[variant][1](files(folder)),
            "convert": lambda: slabtone.convert(1, count, 0, 4, folder=folder),
            "program": lambda: subprocess.run([program, "1", str(count), "0", "4"], cwd=folder,
                                              check=True, stdout=subprocess.DEVNULL),
        }
        for name, action in tools.items():
            clean(folder)
            # Each starts with the writes of the one before on disk, so
            # that none pays for another's writeback.
            os.sync()
            seconds = timed(action)
            if rep > 0:
                times.setdefault((variant, name), []).append(seconds * 1000 / count)
        clean(folder)


def cell(variant, name):
    values = sorted(times[(variant, name)])
    return statistics.median(values), values[0], values[-1]


print(f"\nms per slice, median [min-max] of {reps} runs, {os.cpu_count()} cores")
print(f"{'stack':10} {'read_stack':>20} {'peer':>22} {'ratio':>7}   "
      f"{'convert':>20} {'program':>20} {'ratio':>7}")
for variant in variants:
    row = [cell(variant, name) for name in ("read_stack", "tifffile", "convert", "program")]
    text = [f"{m:6.2f} [{lo:.2f}-{hi:.2f}]" for m, lo, hi in row]
    name = peer[variant][0]
    print(f"{variant:10} {text[0]:>20} {name + ' ' + text[1]:>22} {row[1][0] / row[0][0]:6.2f}x   "
          f"{text[2]:>20} {text[3]:>20} {row[2][0] / row[3][0]:6.2f}x")
print("ratio: the peer over read_stack (higher: read_stack faster); "
      "convert over the program (1.00: no overhead)")

# One slice read alone (its samples straight into the array read returns),
# and grey over many small arrays under one calibration and window (its
# table built once): the costs a caller converting array after array pays.
one = files(os.path.join(work, "raw"))[0]
generator = numpy.random.default_rng(7)
arrays = [generator.integers(0, 65536, (512, 512), dtype=numpy.uint16) for _ in range(100)]
slabtone.read(one)
reads, greys = [], []
for rep in range(max(reps, 5) * 4):
    reads.append(timed(lambda: slabtone.read(one)) * 1000)
    greys.append(timed(lambda: [slabtone.grey(a, 1000.0, 0.0, 0.0, 40.0) for a in arrays]) * 1000)
print(f"read of one 2048 x 2048 slice: {statistics.median(reads):.2f} ms "
      f"[{min(reads):.2f}-{max(reads):.2f}]; 100 grey calls on 512 x 512: "
      f"{statistics.median(greys):.2f} ms [{min(greys):.2f}-{max(greys):.2f}] (median [min-max])")
