"""Shared helpers of the module's tests: the programs under test and readers
of the files they write (BMP, PFM, PNG, .flo)."""

import os
import struct
import subprocess
import zlib

import numpy as np
import pytest

import tovimar

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def program(name):
    """The built program: $TOVIMAR_RENDER or $TOVIMAR_SCENEGEN (set by ctest)."""
    variable = "TOVIMAR_" + name.split("-")[1].upper()
    path = os.environ.get(variable)
    if not path:
        pytest.skip(variable + " is not set")
    return path


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


def read_bmp(path):
    """RGB (H, W, 3) of a 24-bit BMP (bottom row first, rows padded to 4 bytes)."""
    data = open(path, "rb").read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * height, offset).reshape(height, stride)[:, : width * 3]
    return rows.reshape(height, width, 3)[::-1, :, ::-1]


def read_pfm(path):
    """A PFM's values, top row first ((H, W) or (H, W, 3))."""
    data = open(path, "rb").read()
    parts = data.split(b"\n", 3)
    width, height = map(int, parts[1].split())
    scale = float(parts[2])
    channels = 3 if parts[0] == b"PF" else 1
    values = np.frombuffer(parts[3], "<f4" if scale < 0 else ">f4", width * height * channels)
    return values.reshape((height, width, channels) if channels == 3 else (height, width))[::-1]


def read_png(path):
    """A grey PNG's samples (H, W): 8-bit as uint8, 16-bit as uint16."""
    data = open(path, "rb").read()
    pos, idat, width, height, depth = 8, b"", 0, 0, 8
    while pos < len(data):
        length, kind = struct.unpack_from(">I4s", data, pos)
        body = data[pos + 8 : pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack_from(">IIBB", body)
            assert depth in (8, 16) and colour == 0, "only 8- and 16-bit grey PNGs"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    step = depth // 8  # bytes per pixel: the filters look that far back
    stride = width * step
    out = np.zeros((height, stride), np.uint8)
    prev = np.zeros(stride, np.int32)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = np.frombuffer(raw, np.uint8, stride, y * (stride + 1) + 1).astype(np.int32)
        row = np.zeros(stride, np.int32)
        for x in range(stride):
            a = row[x - step] if x >= step else 0
            b = prev[x]
            c = prev[x - step] if x >= step else 0
            if kind == 0:
                p = 0
            elif kind == 1:
                p = a
            elif kind == 2:
                p = b
            elif kind == 3:
                p = (a + b) // 2
            else:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            row[x] = (line[x] + p) & 255
        out[y] = row
        prev = row
    return out if step == 1 else out.view(">u2").astype(np.uint16)


def read_flo(path):
    data = open(path, "rb").read()
    assert data[:4] == b"PIEH"
    width, height = struct.unpack_from("<ii", data, 4)
    return np.frombuffer(data, "<f4", width * height * 2, 12).reshape(height, width, 2)
