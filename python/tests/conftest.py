"""Shared helpers of the module's tests: the programs under test and readers
of the files they write (BMP, PFM, PNG, .flo)."""

import os
import subprocess

import cv2
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


# The files are read as the field's tools read them: OpenCV.
def read_bmp(path):
    """RGB (H, W, 3) of a 24-bit BMP."""
    return cv2.imread(str(path), cv2.IMREAD_UNCHANGED)[:, :, ::-1]


def read_pfm(path):
    """A one-channel PFM's values (H, W), top row first."""
    return cv2.imread(str(path), cv2.IMREAD_UNCHANGED)


def read_png(path):
    """A grey PNG's samples (H, W): 8-bit as uint8, 16-bit as uint16."""
    return cv2.imread(str(path), cv2.IMREAD_UNCHANGED)


def read_flo(path):
    return cv2.readOpticalFlow(str(path))
