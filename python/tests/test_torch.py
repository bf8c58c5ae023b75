"""The PyTorch dataset: the same samples whatever the number of workers, and
a clear error where a fork made rendering impossible."""

import hashlib
import json
import os
import subprocess
import sys

import pytest

torch = pytest.importorskip("torch")

import tovimar  # noqa: E402
from tovimar.torch import RandomScenes  # noqa: E402


def dataset():
    return RandomScenes(seeds=range(3), frames=3, size=(24, 32), crop=(16, 20), flow=True,
                        scene_options={"objects": (2, 4)})


def digests(workers):
    """SHA-256 of each sample's tensors, by "seed/frame"."""
    out = {}
    for s in torch.utils.data.DataLoader(dataset(), batch_size=None, num_workers=workers):
        h = hashlib.sha256()
        for name in ("left", "right", "disparity", "valid", "flow", "flow_valid"):
            h.update(name.encode() + s[name].numpy().tobytes() + str(tuple(s[name].shape)).encode())
        out["%d/%d" % (s["seed"], s["frame"])] = h.hexdigest()
    return out


def test_samples_do_not_depend_on_the_number_of_workers():
    # A fresh process: its workers are forked before it renders anything itself.
    script = ("import json, sys; sys.path.insert(0, %r); import test_torch as t; "
              "print(json.dumps([t.digests(2), t.digests(1), t.digests(0)]))" % os.path.dirname(__file__))
    result = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True, text=True, timeout=300)
    two, one, none = json.loads(result.stdout)
    assert sorted(none) == ["%d/%d" % (seed, frame) for seed in range(3) for frame in range(2)]
    assert two == none and one == none


def test_a_worker_forked_after_rendering_raises():
    list(tovimar.Renderer(16, 12).render("EGO; 0;0;0;0;0;0\n", camera="left"))
    with pytest.raises(RuntimeError, match="forked from one that had rendered"):
        list(torch.utils.data.DataLoader(dataset(), batch_size=None, num_workers=1))
