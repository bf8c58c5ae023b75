"""Tovimar in Python: synthetic stereo sequences with exact ground truth,
rendered in memory as numpy arrays.

    import tovimar
    scene = tovimar.generate_scene("flying", seed=1, frames=5)
    renderer = tovimar.Renderer(width=512, height=384)
    for frame in renderer.render(scene, camera="both", outputs=("mask", "flow")):
        left, right = frame["left"], frame["right"]
        left["image"], left["disparity"], left["mask"], left["flow"]

Every array equals what ``tovimar-render`` writes for the same scene and
settings. A renderer serves one thread at a time (another thread's call
raises tovimar.Error); rendering releases the GIL. Scene and run errors raise ``tovimar.Error`` with the message the
command line prints (``scene:line:`` first for a scene line); bad arguments
raise ValueError or TypeError.
"""

import json
import os
import re
import warnings

from . import _tovimar

Error = _tovimar.Error
# One camera's ground truth of a folder tovimar-render wrote, in any layout:
# Folder(path, "left").frames, .layout, .load(frame) -> (disparity, NaN where
# there is none; occlusion classes 0 none, 1 occluded, 2 visible, or None
# without masks), .image_pair(frame) -> (left path, right path),
# .flow_frames (the frames with flow to the next frame), .load_flow(frame) ->
# (flow (H, W, 2), NaN where there is none; classes at the next frame, or
# None without flow masks).
Folder = _tovimar.Folder
# A camera image file (8-bit RGB PNG or BMP) as an (H, W, 3) uint8 array.
read_rgb = _tovimar.read_rgb

__all__ = ["Error", "Folder", "Renderer", "evaluate", "generate_scene", "parse", "read_rgb", "OUTPUTS"]

# Mesa's state does not survive a fork (its threads stay in the parent): before
# a fork the renderers that nothing needs end their rendering contexts and the
# EGL display is closed, so that the child, and later this process, make their
# own.
os.register_at_fork(before=_tovimar._release_for_fork)

# The products a frame can carry besides image, disparity and valid (always there).
OUTPUTS = ("image_clean", "depth", "segmentation", "ids16", "mask", "flow")


def _scene_text(scene, path):
    """(text, name) of a scene, as the bytes the compiled part takes: ``path``
    (or a ``scene`` that is an os.PathLike) is read as tovimar-render reads a
    scene file; a ``scene`` string is its text, unless it is one line without
    ';' (which every scene line holds), which is taken as a file's path."""
    if path is not None:
        if scene is not None:
            raise TypeError("give the scene as its text or as path=, not both")
        if not isinstance(path, (str, bytes, os.PathLike)):
            raise TypeError("path must be a str, bytes or os.PathLike, not %s" % type(path).__name__)
        return _read_scene_file(path, guessed=False)
    if isinstance(scene, os.PathLike):
        return _read_scene_file(scene, guessed=False)
    if isinstance(scene, bytes):
        return scene, b"<scene>"
    if not isinstance(scene, str):
        raise TypeError("a scene is its text or the path of its file, not %s" % type(scene).__name__)
    if scene and not any(c in scene for c in ";\r\n"):
        return _read_scene_file(scene, guessed=True)
    return _encoded(scene, "the scene text"), b"<scene>"


def _read_scene_file(path, guessed):
    path = os.fsdecode(os.fspath(path))
    try:
        return _tovimar.read_scene_file(os.fsencode(path)), _shown(path)
    except Error:
        if guessed and not os.path.lexists(path):
            raise Error("no such scene file: %s (a string without ';' or a line break is taken as a file's "
                        "path; scene text has ';' in each line)" % _shown(path).decode()) from None
        raise


def _shown(path):
    """A path as messages show it (a byte that is not UTF-8 as \\xNN)."""
    return path.encode("utf-8", "backslashreplace")


def evaluate(ground_truth, predictions, task="stereo", camera="left", invalid="fill", scale=256.0):
    """The figures tovimar-eval gives (its --json, as a dict) of a sequence
    folder written in any layout against a folder of predictions: ``task``
    "stereo" (disparities), "flow" (flow to the next frame) or "sceneflow"
    (``predictions``/flow, disp_0 and disp_1, as KITTI's submissions);
    ``invalid`` "fill" or "exclude"; ``scale``: what 16-bit PNG disparities
    are multiplied by. Raises tovimar.Error naming a folder that cannot be
    read; a frame that cannot be scored has its "error" in the result."""
    if task not in ("stereo", "flow", "sceneflow"):
        raise ValueError("task must be 'stereo', 'flow' or 'sceneflow', not %r" % (task,))
    if invalid not in ("fill", "exclude"):
        raise ValueError("invalid must be 'fill' or 'exclude', not %r" % (invalid,))
    scale = float(scale)
    if not scale > 0 or scale == float("inf"):
        raise ValueError("scale must be a positive number, not %r" % (scale,))
    return json.loads(_tovimar._evaluate(os.fspath(ground_truth), os.fspath(predictions), task, camera, invalid,
                                         scale))


def parse(scene=None, *, path=None):
    """The scene as a dict, as ``tovimar-render --dump`` prints it (file,
    prefs, solidObjects, egoFrames, errors; errors with their line numbers).
    ``scene``: its text (str or bytes) or its file (an os.PathLike, or a
    one-line str without ';'); ``path=``: its file."""
    text, name = _scene_text(scene, path)
    return json.loads(_tovimar.scene_dump(text, name))


def _whole(value, name):
    """value, when it is a whole number (not a bool); TypeError naming it else."""
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be a whole number, not %s" % (name, type(value).__name__))
    return value


def _encoded(text, name):
    """text as UTF-8 bytes; ValueError naming the argument where it holds a
    lone surrogate, which is no character and has no UTF-8 form."""
    try:
        return text.encode("utf-8")
    except UnicodeEncodeError as e:
        raise ValueError("%s holds %r at position %d, a lone surrogate, which is not a character"
                         % (name, text[e.start], e.start)) from None


def _argument_names(message, flags):
    """The generator's message with its options named as generate_scene's arguments."""
    return re.sub(r"--([a-z][a-z-]*)", lambda m: flags.get(m.group(1), m.group(0)), message)


def generate_scene(preset="flying", seed=0, index=0, frames=10, **options):
    """The text of scene ``index``, byte for byte the file ``tovimar-scenegen``
    writes with the same options (``room_width=(3, 5)`` is ``--room-width 3,5``;
    ``textures=True`` is ``--textures``, which does not change the text)."""
    _whole(seed, "seed")
    _whole(frames, "frames")
    if not 0 <= _whole(index, "index") < _tovimar.MAX_SCENE_COUNT:
        raise ValueError("index must be 0 to %d, not %d"
                         % (_tovimar.MAX_SCENE_COUNT - 1, index))
    if not isinstance(preset, str):
        raise TypeError("preset must be a string, not %s" % type(preset).__name__)
    flags = {"preset": "preset", "seed": "seed", "frames": "frames"}
    args = [b"--preset", _encoded(preset, "preset"), b"--seed", str(seed).encode(), b"--frames",
            str(frames).encode()]
    for key, value in options.items():
        flag = key.replace("_", "-")
        flags[flag] = key
        if isinstance(value, bool):
            if value:
                args.append(_encoded("--" + flag, key))
            continue
        if isinstance(value, (tuple, list)):
            if len(value) != 2:
                raise ValueError("%s: a range is two numbers (min, max)" % key)
            try:
                value = "%r,%r" % (float(value[0]), float(value[1]))
            except (TypeError, ValueError, OverflowError):
                raise ValueError("%s: a range is two numbers (min, max), not %r" % (key, value)) from None
        elif isinstance(value, float):
            value = repr(value)
        args += [_encoded("--" + flag, key), _encoded(str(value), key)]
    try:
        return _tovimar.generate_scene(args, index)
    except ValueError as e:
        raise ValueError(_argument_names(str(e), flags)) from None


class Renderer:
    """Renders scenes in memory. ``textures``: a texture folder (None: the
    scene's own set beside its file, else the bundled one); ``background``:
    RGB 0..255; ``palette``: segmentation maps in palette colours;
    ``models``: folders where a MESH line's file is looked for when it is
    not beside the scene file (as tovimar-render --models).

    A renderer serves one thread at a time: its OpenGL contexts, made at the
    first render, live on threads of its own, so any thread may use it in
    turn, but a call while another thread renders, or a render() while
    another thread's render() has frames left, raises tovimar.Error.

    Before os.fork, a renderer that nothing needs (no render() iterator
    with frames left) ends its contexts, and the child and this process
    make new ones at their next render(); an iterator inherited by a child,
    or rendering in a child forked during a render(), raises tovimar.Error."""

    def __init__(self, width=512, height=384, textures=None, background=(0, 255, 255), antialias=False,
                 palette=False, models=()):
        for name, value in (("width", width), ("height", height)):
            if isinstance(value, bool) or not isinstance(value, int):
                raise TypeError("%s must be a whole number of pixels" % name)
            if not 1 <= value <= _tovimar.MAX_FRAME_SIDE:
                raise ValueError("%s: the frame size %dx%d is not 1 to %d pixels a side"
                                 % (name, width, height, _tovimar.MAX_FRAME_SIDE))
        background = tuple(background)
        if len(background) != 3 or not all(isinstance(c, int) and not isinstance(c, bool) for c in background):
            raise TypeError("background is three whole numbers (red, green, blue)")
        for c in background:
            if not 0 <= c <= 255:
                raise ValueError("background: a colour value %d is not 0 to 255" % c)
        if textures is not None:
            textures = os.fspath(textures)
            if not os.path.isfile(os.path.join(textures, "tex0.bmp")):
                raise ValueError("the texture folder '%s' has no tex0.bmp" % textures)
        self.width, self.height = width, height
        self.palette = bool(palette)
        if isinstance(models, (str, bytes, os.PathLike)):
            models = (models,)
        models = [os.fspath(m) for m in models]
        for folder in models:
            if not os.path.isdir(folder):
                raise ValueError("models: '%s' is not a folder" % (folder,))
        self._core = _tovimar.Renderer(width, height, os.fsencode(textures or ""), background, bool(antialias),
                                       self.palette, [os.fsencode(m) for m in models])

    def render(self, scene=None, camera="both", outputs=(), *, path=None):
        """Iterates the frames of the scene, given as in tovimar.parse (its
        text, or its file as ``path=`` or an os.PathLike). Each frame is a dict: ``frame`` (its
        number) and ``left`` and/or ``right``, each a dict of numpy arrays:
        ``image`` (H, W, 3 uint8 RGB, noise included), ``disparity`` (float32,
        the PFM's values; the far plane's disparity where nothing was drawn),
        ``valid`` (bool), and ``K`` (3x3), ``pose`` (4x4 camera-to-world,
        OpenCV axes), ``baseline``, ``focal_length``, ``noise``. ``outputs``
        adds: ``image_clean`` (before noise), ``depth`` (float32),
        ``segmentation`` (uint8 ids, 255 where none; RGB with palette),
        ``ids16`` (uint16 ids 0..65534, 65535 where nothing is labelled),
        ``mask`` (uint8 255 visible / 128 occluded / 0 no truth; camera
        "both"), ``flow`` (``flow`` H, W, 2 float32 as the .flo, 1e10 where
        unknown; ``flow_mask``; ``disparity_change``; absent on the last
        frame)."""
        if isinstance(outputs, str):
            outputs = tuple(o for o in outputs.split(",") if o)
        products = _tovimar.Products()
        for name in outputs:
            if name in ("image", "disparity", "valid"):
                continue
            if name not in OUTPUTS:
                raise ValueError("unknown output '%s' (known: image, disparity, valid, %s)"
                                 % (name, ", ".join(OUTPUTS)))
            setattr(products, name, True)
        if camera not in ("left", "right", "both"):
            raise ValueError("camera must be 'left', 'right' or 'both', not %r" % (camera,))
        text, name = _scene_text(scene, path)
        run = self._core.start(text, name, camera, products)
        self._warn()
        return _Frames(self, run)

    def _warn(self):
        for message in self._core.take_messages():
            warnings.warn(message, stacklevel=3)


class _Frames:
    """The frames of one render(); len() is the scene's frame count."""

    def __init__(self, renderer, run):
        self._renderer = renderer
        self._run = run

    def __iter__(self):
        return self

    def __len__(self):
        return len(self._run)

    def __next__(self):
        try:
            return next(self._run)
        finally:
            self._renderer._warn()
