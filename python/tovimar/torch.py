"""PyTorch datasets over Tovimar scenes, rendered on the fly (RandomScenes) or
read from the folders tovimar-render wrote (RenderedFolder); torch is
imported when this module is.

    from tovimar.torch import RandomScenes
    data = RandomScenes(preset="flying", seeds=range(1000), frames=8, size=(384, 512), crop=(256, 320))
    loader = torch.utils.data.DataLoader(data, batch_size=4, num_workers=2)

Each seed is one scene (``tovimar.generate_scene(preset, seed, frames=...)``);
its frames are rendered on the fly. The seeds are shared among the loader's
workers by position (seed i goes to worker i mod workers), and every sample,
its crop included, depends only on its seed and frame: the samples do not
depend on the number of workers (their order does, as with any iterable
dataset). Each worker makes its own renderer, so its own OpenGL contexts,
when it starts iterating, after the fork (also when the main process
rendered before: its idle renderers end their contexts before a fork).
"""

import json
import os

import numpy as np
import torch
from torch.utils.data import Dataset, IterableDataset, get_worker_info

import tovimar

__all__ = ["RandomScenes", "RenderedFolder", "CONVENTIONS", "NO_FLOW", "SPLITS"]

# What a sample holds, by the field's training code:
#   "tovimar"      images 0..1, disparity positive (the default);
#   "raft-stereo"  as RAFT-Stereo's and IGEV-Stereo's loaders give it: images
#                  0..255, ``flow`` (1, H, W) the negated disparity (their
#                  models predict x-displacement, negative for the left view),
#                  ``valid`` float 0/1;
#   "raft"         as RAFT's loaders give it: images 0..255, ``flow`` (2, H, W)
#                  to the next frame, ``valid`` float 0/1 (RandomScenes and
#                  RenderedFolder with flow=True only).
CONVENTIONS = ("tovimar", "raft-stereo", "raft")


def _checked_convention(convention, has_flow):
    if convention not in CONVENTIONS:
        raise ValueError("convention must be one of %s, not %r" % (", ".join(CONVENTIONS), convention))
    if convention == "raft" and not has_flow:
        raise ValueError("convention 'raft' gives the flow to the next frame: it needs flow=True")
    return convention


def _in_convention(sample, convention):
    """The sample as `convention` has it (see CONVENTIONS)."""
    if convention == "tovimar":
        return sample
    sample["left"] = sample["left"] * 255.0
    sample["right"] = sample["right"] * 255.0
    if convention == "raft-stereo":
        sample["flow"] = -sample["disparity"].unsqueeze(0)
        sample["valid"] = sample["valid"].float()
    else:
        sample["valid"] = sample["flow_valid"].float()
    return sample


def _tensor_image(rgb):
    return torch.from_numpy(np.ascontiguousarray(rgb.transpose(2, 0, 1))).float().div_(255.0)


class RandomScenes(IterableDataset):
    """Samples of random scenes: dicts of tensors ``left``, ``right`` (3, H, W
    float in 0..1), ``disparity`` (H, W float32, the left view's),
    ``valid`` (H, W bool), ``seed`` and ``frame``; with ``flow=True`` also
    ``flow`` (2, H, W) and ``flow_valid`` (H, W bool) of the left view to the
    next frame (the last frame of each scene, which has none, is left out).

    size: (height, width) rendered; crop: (height, width) cut at a place
    drawn from the seed and frame (None: the whole frame). scene_options go
    to tovimar.generate_scene; renderer_options to tovimar.Renderer;
    convention: what the samples hold, for the training code they feed
    (see CONVENTIONS)."""

    def __init__(self, preset="flying", seeds=range(100), frames=4, size=(384, 512), crop=None, flow=False,
                 scene_options=None, renderer_options=None, convention="tovimar"):
        super().__init__()
        self.convention = _checked_convention(convention, flow)
        self.preset = preset
        self.seeds = list(seeds)
        self.frames = int(frames)
        self.size = (int(size[0]), int(size[1]))
        if crop is not None:
            crop = (int(crop[0]), int(crop[1]))
            if not (0 < crop[0] <= self.size[0] and 0 < crop[1] <= self.size[1]):
                raise ValueError("the crop %r does not fit in the size %r" % (crop, self.size))
        self.crop = crop
        self.flow = bool(flow)
        self.scene_options = dict(scene_options or {})
        self.renderer_options = dict(renderer_options or {})
        if self.frames < 1:
            raise ValueError("frames must be 1 or more")

    def __len__(self):
        return len(self.seeds) * (self.frames - 1 if self.flow else self.frames)

    def _seeds_of_this_worker(self):
        info = get_worker_info()
        if info is None:
            return self.seeds
        return self.seeds[info.id :: info.num_workers]

    def __iter__(self):
        # Made here, in the worker, after the fork.
        renderer = tovimar.Renderer(height=self.size[0], width=self.size[1], **self.renderer_options)
        outputs = ("flow",) if self.flow else ()
        for seed in self._seeds_of_this_worker():
            scene = tovimar.generate_scene(self.preset, seed=seed, frames=self.frames, **self.scene_options)
            for frame in renderer.render(scene, camera="both", outputs=outputs):
                left, right = frame["left"], frame["right"]
                if self.flow and "flow" not in left:
                    continue
                yield self._sample(seed, frame["frame"], left, right)

    def _sample(self, seed, number, left, right):
        sample = {
            "left": left["image"],
            "right": right["image"],
            "disparity": left["disparity"],
            "valid": left["valid"],
        }
        if self.flow:
            sample["flow"] = left["flow"]
            sample["flow_valid"] = left["flow_mask"] != 0
        if self.crop is not None:
            h, w = self.size
            ch, cw = self.crop
            place = np.random.default_rng([seed, number])
            y, x = int(place.integers(0, h - ch + 1)), int(place.integers(0, w - cw + 1))
            sample = {k: v[y : y + ch, x : x + cw] for k, v in sample.items()}
        out = {
            "left": _tensor_image(sample["left"]),
            "right": _tensor_image(sample["right"]),
            "disparity": torch.from_numpy(np.ascontiguousarray(sample["disparity"])),
            "valid": torch.from_numpy(np.ascontiguousarray(sample["valid"])),
            "seed": seed,
            "frame": number,
        }
        if self.flow:
            out["flow"] = torch.from_numpy(np.ascontiguousarray(sample["flow"].transpose(2, 0, 1)))
            out["flow_valid"] = torch.from_numpy(np.ascontiguousarray(sample["flow_valid"]))
        return _in_convention(out, self.convention)


# Where the flow has no ground truth, as RandomScenes and the scene-flow
# files have it: finite, and far beyond the |flow| < 1000 that RAFT's loaders
# take as valid.
NO_FLOW = np.float32(1e10)

# The splits a dataset root's splits.json names (tovimar-dataset writes it).
SPLITS = ("train", "test")


def _split_sequences(root, split):
    """The sequence folders of a root: those splits.json gives for split
    (both splits, train first, when split is None), else the root itself or
    its subfolders holding a meta.json, in name order."""
    index = os.path.join(root, "splits.json")
    if os.path.isfile(index):
        with open(index, encoding="utf-8") as f:
            splits = json.load(f)
        if split is not None and split not in SPLITS:
            raise ValueError("split must be one of %s, not %r" % (", ".join(SPLITS), split))
        names = [name for s in ((split,) if split else SPLITS) for name in splits.get(s, [])]
        return [os.path.join(root, name) for name in names]
    if split is not None:
        raise ValueError("%s has no splits.json (the dataset roots tovimar-dataset writes have one): "
                         "it cannot give the split %r" % (root, split))
    if os.path.isfile(os.path.join(root, "meta.json")):
        return [root]
    return sorted(os.path.join(root, name) for name in os.listdir(root)
                  if os.path.isfile(os.path.join(root, name, "meta.json")))


class RenderedFolder(Dataset):
    """Frames that tovimar-render or tovimar-dataset wrote, in any layout
    (classic with PFM or disparity text, Middlebury, KITTI 2015, scene flow):
    a map-style dataset of the left view's samples, dicts of ``left``,
    ``right`` (3, H, W float in 0..1), ``disparity`` (H, W float32, 0 where
    there is no ground truth), ``valid`` (H, W bool), ``sequence`` (the
    folder) and ``frame``; where the layout has occlusion masks, also
    ``non_occluded`` (H, W bool). With ``flow=True`` only the frames with
    flow to the next frame, each also with ``flow`` (2, H, W float32, u
    right and v down in px; NO_FLOW where there is none) and ``flow_valid``
    (H, W bool).

    root: a sequence folder (the one holding meta.json), a folder of them,
    such as an output root (its subfolders holding a meta.json, in name
    order), or a dataset root of tovimar-dataset (its splits.json names the
    sequences of each split; the test split's keep their ground truth).
    split: "train" or "test" of a dataset root (None: both, train first).
    The files are read as the evaluator reads them (KITTI's 16-bit
    disparities divided by 256). convention: "tovimar", "raft-stereo" or,
    with flow, "raft" (see CONVENTIONS)."""

    def __init__(self, root, convention="tovimar", split=None, flow=False):
        super().__init__()
        self.flow = bool(flow)
        self.convention = _checked_convention(convention, self.flow)
        root = os.fspath(root)
        sequences = _split_sequences(root, split)
        if not sequences:
            raise ValueError("%s holds no sequence folder (no meta.json in it or in its subfolders)" % root)
        self.items = []
        for sequence in sequences:
            folder = os.path.join(sequence, "")
            data = tovimar.Folder(folder, "left")
            self.items += [(folder, frame) for frame in (data.flow_frames if self.flow else data.frames)]
        self._folders = {}  # opened in each process when first used

    def __getstate__(self):
        state = dict(self.__dict__)
        state["_folders"] = {}
        return state

    def __len__(self):
        return len(self.items)

    def __getitem__(self, index):
        folder, frame = self.items[index]
        data = self._folders.get(folder)
        if data is None:
            data = self._folders[folder] = tovimar.Folder(folder, "left")
        disparity, occlusion = data.load(frame)  # NaN wherever there is no ground truth
        valid = ~np.isnan(disparity)
        left, right = data.image_pair(frame)
        size = (disparity.shape[1], disparity.shape[0])  # a pair of another size is refused unread
        sample = {
            "left": _tensor_image(tovimar.read_rgb(left, size)),
            "right": _tensor_image(tovimar.read_rgb(right, size)),
            "disparity": torch.from_numpy(np.where(valid, disparity, np.float32(0))),
            "valid": torch.from_numpy(valid),
            "sequence": folder,
            "frame": frame,
        }
        if occlusion is not None:
            sample["non_occluded"] = torch.from_numpy(occlusion == 2)  # 2: visible in both views
        if self.flow:
            flow, _ = data.load_flow(frame)
            flow_valid = ~np.isnan(flow).any(axis=2)
            flow = np.where(flow_valid[:, :, None], flow, NO_FLOW)
            sample["flow"] = torch.from_numpy(np.ascontiguousarray(flow.transpose(2, 0, 1)))
            sample["flow_valid"] = torch.from_numpy(flow_valid)
        return _in_convention(sample, self.convention)
