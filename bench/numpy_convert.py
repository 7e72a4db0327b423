#!/usr/bin/python3
"""The script a tomopy user writes to cast a float stack to 8 bits: each
slice read with tifffile, one global window, astype(uint8), written with
tifffile. bench/floats times it beside slabtone.

Usage: numpy_convert.py FIRST LAST LACMIN LACMAX   (rec%04d.tif -> np%04d.tif)"""
import sys

import numpy
import tifffile

first, last = int(sys.argv[1]), int(sys.argv[2])
low, high = float(sys.argv[3]), float(sys.argv[4])
for n in range(first, last + 1):
    image = tifffile.imread("rec%04d.tif" % n)
    grey = ((image - low) * (255.0 / (high - low))).clip(0, 255).astype(numpy.uint8)
    tifffile.imwrite("np%04d.tif" % n, grey)
