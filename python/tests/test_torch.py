"""The PyTorch datasets: the same samples whatever the number of workers,
also when the main process rendered before forking them, and the frames of
written folders read back as they were rendered."""

import hashlib
import json
import os
import subprocess
import sys

import numpy as np
import pytest

torch = pytest.importorskip("torch")

import tovimar  # noqa: E402
from conftest import SOURCE, program, run  # noqa: E402
from tovimar.torch import RandomScenes, RenderedFolder  # noqa: E402

PLANES_NOISE = os.path.join(SOURCE, "tests", "golden", "scenes", "planes_noise.txt")


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


def test_conventions_give_what_the_fields_models_take():
    options = dict(seeds=range(2), frames=2, size=(24, 32), flow=True, scene_options={"objects": (2, 4)})
    plain = list(RandomScenes(**options))
    stereo = list(RandomScenes(convention="raft-stereo", **options))
    flow = list(RandomScenes(convention="raft", **options))
    assert len(plain) == len(stereo) == len(flow) == 2
    for p, s, r in zip(plain, stereo, flow):
        assert torch.equal(s["left"], p["left"] * 255) and torch.equal(r["right"], p["right"] * 255)
        assert s["flow"].shape == (1, 24, 32) and torch.equal(s["flow"][0], -p["disparity"])
        assert s["valid"].dtype == torch.float32 and torch.equal(s["valid"].bool(), p["valid"])
        assert torch.equal(r["flow"], p["flow"]) and torch.equal(r["valid"].bool(), p["flow_valid"])
        # RAFT's loss, (valid * |prediction - truth|).mean(), stays finite:
        # where there is no ground truth the flow is far from any flow, not inf.
        assert torch.isfinite(r["flow"]).all()
        assert torch.isfinite((r["valid"][None] * (torch.zeros_like(r["flow"]) - r["flow"]).abs()).mean())
    # Where nothing was drawn the flow is marked as RAFT's loaders mark it,
    # |flow| >= 1000, and stays finite.
    frame = next(iter(tovimar.Renderer(32, 24).render(
        "SPHERE;7;-1;200;40;40;0;4;0;0;0;0;0.3\nEGO;0;0;0;0;0;0\nEGO;0;0.1;0;0;0;0\n", camera="left",
        outputs=("flow",))))["left"]
    undrawn = frame["flow_mask"] == 0
    assert undrawn.any() and (np.abs(frame["flow"][undrawn]) >= 1000).all() and np.isfinite(frame["flow"]).all()
    with pytest.raises(ValueError, match="needs flow=True"):
        RandomScenes(convention="raft")
    with pytest.raises(ValueError, match="convention must be one of"):
        RenderedFolder(SOURCE, convention="middlebury")


def test_samples_do_not_depend_on_the_number_of_workers():
    # A fresh process: its workers are forked before it renders anything itself.
    script = ("import json, sys; sys.path.insert(0, %r); import test_torch as t; "
              "print(json.dumps([t.digests(2), t.digests(1), t.digests(0)]))" % os.path.dirname(__file__))
    result = subprocess.run([sys.executable, "-c", script], check=True, capture_output=True, text=True, timeout=300)
    two, one, none = json.loads(result.stdout)
    assert sorted(none) == ["%d/%d" % (seed, frame) for seed in range(3) for frame in range(2)]
    assert two == none and one == none


def test_workers_forked_after_the_main_process_rendered_render_anew():
    script = ("import json, sys; sys.path.insert(0, %r); import test_torch as t, tovimar; "
              "list(tovimar.Renderer(16, 12).render('EGO; 0;0;0;0;0;0\\n')); "
              "print(json.dumps([t.digests(2), t.digests(0)]))" % os.path.dirname(__file__))
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    two, none = json.loads(result.stdout)
    assert len(none) == 6 and two == none


@pytest.mark.parametrize("layout", ["classic", "middlebury", "kitti", "sceneflow"])
def test_written_folders_of_every_layout_read_back_as_rendered(tmp_path, layout):
    outputs = ["--outputs", "png,pfm,masks"] if layout == "classic" else []
    run([program("tovimar-render"), "-q", "-o", str(tmp_path), "-r", "32x24", "-c", "both", "--layout", layout]
        + outputs + [PLANES_NOISE])
    data = RenderedFolder(tmp_path)
    frames = list(tovimar.Renderer(32, 24).render(PLANES_NOISE, camera="both", outputs=("mask",)))
    assert [f["frame"] for f in frames] == [0, 1, 2]
    # KITTI's indices are the frames that have a next frame.
    if layout == "kitti":
        frames = frames[:-1]
    assert [s["frame"] for s in data] == [f["frame"] for f in frames]
    for f in frames:
        sample, left = data[f["frame"]], f["left"]
        for side in ("left", "right"):
            image = (sample[side] * 255).round().to(torch.uint8).permute(1, 2, 0).numpy()
            np.testing.assert_array_equal(image, f[side]["image"])
        valid = sample["valid"].numpy()
        assert valid.any() and not (valid & ~left["valid"]).any()
        # KITTI keeps round(256 d) in 16 bits.
        tolerance = 0.5 / 256 if layout == "kitti" else 0
        np.testing.assert_allclose(sample["disparity"].numpy()[valid], left["disparity"][valid], rtol=0,
                                   atol=tolerance)
        if layout == "sceneflow":
            assert "non_occluded" not in sample  # the layout has no masks
        else:
            np.testing.assert_array_equal(sample["non_occluded"].numpy(), left["mask"] == 255)
    # An image of another size than the disparity is refused from its header.
    left, _ = tovimar.Folder(str(tmp_path / "0"), "left").image_pair(0)
    import cv2
    assert cv2.imwrite(left, np.zeros((12, 16, 3), np.uint8))
    with pytest.raises(tovimar.Error, match="is 16x12, not 32x24"):
        data[0]


@pytest.mark.parametrize("layout", ["sceneflow", "kitti", "middlebury"])
def test_dataset_roots_read_by_split_with_flow_as_rendered(tmp_path, layout):
    root = tmp_path / "ds"
    run([program("tovimar-dataset"), "--preset", "flying", "--count", "3", "--frames", "3", "--resolution", "32x24",
         "--seed", "2", "--layout", layout, "--splits", "train=0.67,test=0.33", "--out", str(root)])
    train, test = RenderedFolder(root, split="train"), RenderedFolder(root, split="test")
    # The training samples are those of train.txt (KITTI: the frames with a next frame).
    assert len(train) == len((root / "train.txt").read_text().splitlines()) == (4 if layout == "kitti" else 6)
    assert len(test) == len(train) // 2 and len(RenderedFolder(root)) == len(train) + len(test)
    assert {s["sequence"] for s in test}.isdisjoint({s["sequence"] for s in train})
    if layout == "middlebury":
        with pytest.raises(ValueError, match="needs flow=True"):
            RenderedFolder(root, convention="raft")
        return
    # The test split's flow equals the flow rendered in memory from its scene.
    flows = RenderedFolder(root, split="test", flow=True)
    raft = RenderedFolder(root, split="test", flow=True, convention="raft")
    frames = list(tovimar.Renderer(32, 24).render(root / "scenes" / "scene_000002.txt", camera="left",
                                                  outputs=("flow",)))
    assert [s["frame"] for s in flows] == [0, 1]
    for sample, r, frame in zip(flows, raft, frames):
        truth, valid = frame["left"]["flow"], frame["left"]["flow_mask"] != 0
        np.testing.assert_array_equal(sample["flow_valid"].numpy(), valid)
        # KITTI keeps u and v in 1/64 px.
        np.testing.assert_allclose(sample["flow"].numpy().transpose(1, 2, 0)[valid], truth[valid], rtol=0,
                                   atol=0.5 / 64 if layout == "kitti" else 0)
        assert (sample["flow"].permute(1, 2, 0)[~sample["flow_valid"]] == 1e10).all()
        assert torch.isfinite(r["flow"]).all() and torch.equal(r["valid"].bool(), sample["flow_valid"])
    with pytest.raises(ValueError, match="split must be one of"):
        RenderedFolder(root, split="val")
    with pytest.raises(ValueError, match="has no splits.json"):
        RenderedFolder(root / "scenes", split="train")
