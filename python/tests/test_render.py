"""The module's frames against the files of tovimar-render, its errors and
its memory over many frames."""

import json
import os
import pathlib
import resource
import subprocess
import sys
import threading
import warnings

import numpy as np
import pytest

import tovimar
from conftest import SOURCE, program, read_bmp, read_flo, read_pfm, read_png, run

# Planes (each drawing steps the shared random state), noise, fog, motion.
PLANES_NOISE = os.path.join(SOURCE, "tests", "golden", "scenes", "planes_noise.txt")
WIDTH, HEIGHT = 96, 72


@pytest.mark.parametrize("camera", ["both", "right"])
def test_frames_equal_the_command_lines_files(tmp_path, camera):
    run([program("tovimar-render"), "-q", "-o", str(tmp_path), "-r", "%dx%d" % (WIDTH, HEIGHT), "-c", camera,
         "--outputs", "classic,pfm,depth,masks,flow" if camera == "both" else "classic,pfm,depth,flow",
         PLANES_NOISE])
    folder = tmp_path / "0"
    meta = json.load(open(folder / "meta.json"))
    outputs = ["depth", "segmentation", "flow"] + (["mask"] if camera == "both" else [])
    renderer = tovimar.Renderer(WIDTH, HEIGHT)
    # The renderer's contexts go on from scene to scene: an earlier scene changes nothing.
    list(renderer.render(MOVING, camera=camera, outputs=outputs))
    frames = list(renderer.render(PLANES_NOISE, camera=camera, outputs=outputs))
    assert [f["frame"] for f in frames] == [0, 1, 2]
    for f in frames:
        n = "%04d" % f["frame"]
        for side, prefix, image in (("left", "l", "left"), ("right", "", "right")):
            if side not in f:
                assert camera == "right"
                continue
            c = f[side]
            np.testing.assert_array_equal(c["image"], read_bmp(folder / ("%s_%s.bmp" % (image, n))))
            np.testing.assert_array_equal(c["disparity"], read_pfm(folder / ("%sdisp_%s.pfm" % (prefix, n))))
            np.testing.assert_array_equal(c["depth"], read_pfm(folder / ("%sdepth_%s.pfm" % (prefix, n))))
            seg = read_bmp(folder / ("seg_%s_%s.bmp" % (side[0], n)))
            np.testing.assert_array_equal(c["segmentation"], seg[:, :, 0])
            if camera == "both":
                np.testing.assert_array_equal(c["mask"], read_png(folder / ("%smask_%s.png" % (prefix, n))))
            if f["frame"] < 2:
                np.testing.assert_array_equal(c["flow"], read_flo(folder / ("%sflow_%s.flo" % (prefix, n))))
                np.testing.assert_array_equal(c["flow_mask"], read_png(folder / ("%sflowmask_%s.png" % (prefix, n))))
                np.testing.assert_array_equal(c["disparity_change"],
                                              read_pfm(folder / ("%sdispchange_%s.pfm" % (prefix, n))))
            else:
                assert "flow" not in c  # the last frame has none
            record = meta["runs"][side]["frames"][f["frame"]]
            np.testing.assert_allclose(np.array(record["pose"]).reshape(4, 4), c["pose"], rtol=0, atol=1e-12)
            k = meta["intrinsics"]
            np.testing.assert_array_equal(c["K"], [[k["fx"], 0, k["cx"]], [0, k["fy"], k["cy"]], [0, 0, 1]])
            assert c["baseline"] == 0.2 and c["noise"] == 3.5


# A sphere and a box that move on their own while the camera moves too.
MOVING = """SPHERE; id 7; texture: -1; colour: 1;0.5;0.2; position: -0.4;2;0;0;0;0; dim: 0.35
CUBOID; id 300; texture: 5; colour: 1;1;1; position: 0.5;2.5;0.1;0;0;20; dim: 0.3;0.3;0.3
QUAD; id 5; texture: 10; colour: 1;1;1; vertices: -6;5;-4; 6;5;-4; 6;5;4; -6;5;4
EGO; 0;0;0;0;0;0
EGO; 0.02;0;0.05;0;0;1
EGO; 0.02;0;0.05;0;0;1
MOVE; 7; 0.05;0;0.02;0;0;0
MOVE; 7; 0.05;0;0.02;0;0;0
MOVE; 7; 0.05;0;0.02;0;0;0
MOVE; 300; 0;0;0;0;0;8
MOVE; 300; 0;0;0;0;0;8
MOVE; 300; 0;0;0;0;0;8
"""


def test_moving_objects_flow_and_ids_equal_the_command_lines_files(tmp_path):
    scene = tmp_path / "moving.txt"
    scene.write_text(MOVING)
    run([program("tovimar-render"), "-q", "-o", str(tmp_path), "-r", "%dx%d" % (WIDTH, HEIGHT),
         "--outputs", "pfm,flow,ids16", str(scene)])
    folder = tmp_path / "0"
    frames = list(tovimar.Renderer(WIDTH, HEIGHT).render(str(scene), camera="both", outputs=("flow", "ids16")))
    for f in frames:
        n = "%04d" % f["frame"]
        for side, prefix in (("left", "l"), ("right", "")):
            c = f[side]
            np.testing.assert_array_equal(c["ids16"], read_png(folder / ("%sids16_%s.png" % (prefix, n))))
            if f["frame"] < 2:
                np.testing.assert_array_equal(c["flow"], read_flo(folder / ("%sflow_%s.flo" % (prefix, n))))
    assert (frames[0]["left"]["ids16"] == 300).any() and (frames[0]["left"]["ids16"] == 7).any()

    # The evaluator's figures from Python: the run's own files score 0.
    for kind, prefix, task in (("flow", "lflow_", "flow"), ("disp", "ldisp_", "stereo")):
        predictions = tmp_path / kind
        predictions.mkdir()
        for name in os.listdir(folder):
            if name.startswith(prefix):
                (predictions / name).write_bytes((folder / name).read_bytes())
        figures = tovimar.evaluate(folder, predictions, task=task)
        assert figures["total"]["regions"]["all"]["epe"] == 0, task
    with pytest.raises(tovimar.Error, match="missing"):
        tovimar.evaluate(tmp_path / "missing", tmp_path / "flow", task="flow")
    with pytest.raises(ValueError, match="task must be"):
        tovimar.evaluate(folder, tmp_path / "flow", task="disparity")


def test_flow_figures_equal_an_independent_computation(tmp_path):
    """EPE and Fl of a perturbed prediction, computed here with numpy from the
    files, equal the evaluator's to 1e-6; its error quantiles to their bin."""
    scene = tmp_path / "moving.txt"
    scene.write_text(MOVING)
    run([program("tovimar-render"), "-q", "-o", str(tmp_path), "-r", "%dx%d" % (WIDTH, HEIGHT), "-c", "left",
         "--outputs", "pfm,flow", str(scene)])
    folder = tmp_path / "0"
    predictions = tmp_path / "pred"
    predictions.mkdir()
    errors, fl, visible_errors = [], [], []
    for frame in (0, 1):
        truth = read_flo(folder / ("lflow_%04d.flo" % frame)).astype(np.float64)
        mask = read_png(folder / ("lflowmask_%04d.png" % frame))
        y, x = np.mgrid[0:HEIGHT, 0:WIDTH]
        offset = np.stack([np.sin(x * 0.7 + frame) * 4, np.cos(y * 0.3) * 2], axis=-1)
        prediction = (truth + offset).astype(np.float32)
        with open(predictions / ("flow_%04d.flo" % frame), "wb") as f:
            f.write(b"PIEH" + np.array([WIDTH, HEIGHT], "<i4").tobytes() + prediction.astype("<f4").tobytes())
        has_truth = (np.abs(truth) < 1e9).all(axis=-1)
        e = np.linalg.norm(prediction.astype(np.float64) - truth, axis=-1)[has_truth]
        length = np.linalg.norm(truth, axis=-1)[has_truth]
        errors.append(e)
        fl.append((e > 3) & (e > 0.05 * length))
        visible_errors.append(np.linalg.norm(prediction.astype(np.float64) - truth, axis=-1)[has_truth & (mask == 255)])
    figures = tovimar.evaluate(folder, predictions, task="flow")["total"]["regions"]
    e, outliers, visible = np.concatenate(errors), np.concatenate(fl), np.concatenate(visible_errors)
    assert 0 < outliers.mean() < 1
    assert abs(figures["all"]["epe"] - e.mean()) < 1e-6
    assert abs(figures["all"]["fl"] - 100 * outliers.mean()) < 1e-6
    assert figures["all"]["pixels"] == e.size
    assert abs(figures["nonoccluded"]["epe"] - visible.mean()) < 1e-6
    # The quantiles over the sequence: within half a 1/256 px bin of the sorted errors' element ceil(q n) - 1.
    ordered = np.sort(e)
    for name, q in (("a50", 0.50), ("a90", 0.90), ("a95", 0.95), ("a99", 0.99)):
        assert abs(figures["all"][name] - ordered[int(np.ceil(q * e.size - 1e-9)) - 1]) <= 1 / 512 + 1e-6, name


def test_model_folders_are_searched_for_mesh_files(tmp_path):
    models = tmp_path / "models"
    models.mkdir()
    corners = [(x, y, z) for x in (-1, 1) for y in (-1, 1) for z in (-1, 1)]
    faces = [(1, 3, 4, 2), (5, 6, 8, 7), (1, 2, 6, 5), (3, 7, 8, 4), (1, 5, 7, 3), (2, 4, 8, 6)]
    (models / "cube.obj").write_text("".join("v %d %d %d\n" % c for c in corners) +
                                     "".join("f %d %d %d %d\n" % f for f in faces))
    scene = tmp_path / "scene.txt"
    scene.write_text("MESH;7;-1;200;40;40;0;3;0;0;0;0;0.5;cube.obj\nEGO;0;0;0;0;0;0\n")
    with pytest.raises(tovimar.Error, match="MESH: cannot use the model 'cube.obj'.*does not exist"):
        list(tovimar.Renderer(32, 24).render(path=scene, camera="left"))
    frames = list(tovimar.Renderer(32, 24, models=[models]).render(path=scene, camera="left", outputs=("ids16",)))
    assert len(frames) == 1 and (frames[0]["left"]["ids16"] == 7).any()
    with pytest.raises(ValueError, match="is not a folder"):
        tovimar.Renderer(32, 24, models=[tmp_path / "missing"])


def test_scene_text_and_dump_equal_the_programs(tmp_path):
    run([program("tovimar-scenegen"), "--out", str(tmp_path), "--preset", "room", "--seed", "7", "--count", "3",
         "--frames", "4", "--noise", "0.5,1", "--quiet"])
    text = tovimar.generate_scene("room", seed=7, index=2, frames=4, noise=(0.5, 1))
    assert text.encode() == (tmp_path / "scene_000002.txt").read_bytes()
    dumped = json.loads(__import__("subprocess").run([program("tovimar-render"), "--dump", PLANES_NOISE],
                                                     check=True, capture_output=True).stdout)
    assert tovimar.parse(PLANES_NOISE) == dumped


def test_bad_input_raises():
    renderer = tovimar.Renderer(32, 24)
    with pytest.raises(ValueError, match="camera"):
        renderer.render(PLANES_NOISE, camera="middle")
    with pytest.raises(ValueError, match="unknown output 'disp'"):
        renderer.render(PLANES_NOISE, outputs=("disp",))
    with pytest.raises(ValueError, match="both cameras"):
        renderer.render(PLANES_NOISE, camera="left", outputs=("mask",))
    with pytest.raises(ValueError, match="frame size"):
        tovimar.Renderer(0, 24)
    with pytest.raises(TypeError):
        tovimar.Renderer("wide", 24)
    with pytest.raises(TypeError):
        renderer.render(42)
    # A scene line the parser reports: a warning led by its line, as the command line prints it.
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        frames = list(renderer.render("SPHERE; id 1; texture: 99; colour: 1;1;1; position: 0;2;0;0;0;0; dim: 0.5\n"
                                      "EGO; 0;0;0;0;0;0\n", camera="left"))
    assert len(frames) == 1
    assert any(str(w.message).startswith("<scene>:1: ") for w in caught)
    # A run that fails at a frame raises with the scene line that caused it.
    with pytest.raises(tovimar.Error, match=r"^<scene>:\d: EGO: the camera motion is no longer a finite number"):
        list(renderer.render("SPHERE; id 1; texture: -1; colour: 1;1;1; position: 0;2;0;0;0;0; dim: 0.5\n"
                             + ("EGO; 1%s;0;0;0;0;0\n" % ("0" * 307)) * 3, camera="left"))
    # The renderer goes on after a failed run, and an internal check raises instead of ending the interpreter.
    assert [f["frame"] for f in renderer.render(PLANES_NOISE, camera="left")] == [0, 1, 2]
    with pytest.raises(tovimar.Error, match="internal check failed: Assertion failed: false"):
        tovimar._tovimar._fail_internal_check()


@pytest.mark.parametrize("call, message", [
    # The generator's limits, named as the arguments (not as its command line's options).
    (lambda: tovimar.generate_scene(index=-1), r"^index must be 0 to 999999, not -1$"),
    (lambda: tovimar.generate_scene(index=2**70), r"^index must be 0 to 999999"),
    (lambda: tovimar.generate_scene(seed=2**64), r"^seed: '18446744073709551616' is not a whole number"),
    (lambda: tovimar.generate_scene(frames=0), r"^frames: '0' is not a count 1\.\.100000$"),
    (lambda: tovimar.generate_scene(objects=(5, 1000)), r"^objects: the range must lie within"),
    (lambda: tovimar.generate_scene(objects=(5, 10**400)), r"^objects: a range is two numbers"),
    (lambda: tovimar.generate_scene(no_such=1), r"^unknown option no_such$"),
    # Numbers too large for the compiled part.
    (lambda: tovimar.Renderer(2**70, 24), r"^width: the frame size \d+x24 is not 1 to 8192 pixels a side$"),
    (lambda: tovimar.Renderer(32, 0), r"^height: the frame size 32x0 is not"),
    (lambda: tovimar.Renderer(32, 24, background=(0, 2**64, 0)), r"^background: a colour value \d+ is not 0 to 255$"),
    # Lone surrogates, which have no UTF-8 form.
    (lambda: tovimar.generate_scene("fl\udcffying"), r"^preset holds '\\udcff' at position 2, a lone surrogate"),
    (lambda: tovimar.generate_scene(room_width="\ud800"), r"^room_width holds '\\ud800'"),
    (lambda: tovimar.parse("EGO; 0;0;0;0;0;0 \ud800"), r"^the scene text holds '\\ud800' at position 17"),
    (lambda: tovimar.Renderer(32, 24).render("EGO; 0;0;0;0;0;0 \udc80"), r"^the scene text holds '\\udc80'"),
])
def test_bad_arguments_raise_value_errors_naming_them(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_scene_paths_are_read_as_the_command_line_reads_them_and_a_mistyped_one_raises(tmp_path):
    text = open(PLANES_NOISE).read()
    by_text = tovimar.parse(text)
    named = dict(by_text, file=PLANES_NOISE)
    assert tovimar.parse(path=PLANES_NOISE) == tovimar.parse(pathlib.Path(PLANES_NOISE)) == named
    assert tovimar.parse(PLANES_NOISE) == named  # a one-line string without ';' that names a file
    renderer = tovimar.Renderer(32, 24)
    assert len(renderer.render(path=PLANES_NOISE, camera="left")) == len(renderer.render(text, camera="left")) == 3
    # A mistyped path is no scene text (every scene line holds ';').
    for call in (lambda: tovimar.parse("planes_noise.txt"), lambda: renderer.render("planes_noise.txt")):
        with pytest.raises(tovimar.Error, match=r"^no such scene file: planes_noise\.txt \("):
            call()
    with pytest.raises(tovimar.Error, match="^Cannot open file .*missing.txt: does not exist$"):
        tovimar.parse(tmp_path / "missing.txt")
    # A name that is not UTF-8 is shown with the byte escaped, not a decoding error.
    with pytest.raises(tovimar.Error, match=r"^Cannot open file .*missing\\x80\.txt: does not exist$"):
        tovimar.parse(path=os.fsencode(tmp_path) + b"/missing\x80.txt")
    with pytest.raises(TypeError, match="not both"):
        tovimar.parse(text, path=PLANES_NOISE)
    # Devices, FIFOs and files larger than a scene may be are refused unopened, at once.
    fifo, huge = tmp_path / "fifo.txt", tmp_path / "huge.txt"
    os.mkfifo(fifo)
    with open(huge, "wb") as f:
        f.truncate((64 << 20) + 1)  # sparse
    for path, why in (("/dev/zero", "not a regular file"), (fifo, "not a regular file"),
                      (tmp_path, "not a regular file"), (huge, "it holds 67108865 bytes, more than a scene may")):
        with pytest.raises(tovimar.Error, match="^Cannot open file .*: " + why):
            tovimar.parse(path=path)
    with pytest.raises(tovimar.Error, match="^Cannot open file /dev/zero: not a regular file$"):
        renderer.render("/dev/zero")


def images(frames):
    return [f["left"]["image"].tobytes() + f["right"]["image"].tobytes() for f in frames]


def test_a_renderer_serves_one_thread_at_a_time_and_any_thread_in_turn():
    scenes = {"a": open(PLANES_NOISE).read(), "b": tovimar.generate_scene(seed=1, frames=3, objects=(2, 3))}
    alone = {k: images(tovimar.Renderer(48, 36).render(text)) for k, text in scenes.items()}
    shared = tovimar.Renderer(48, 36)

    def in_thread(task):
        out = []
        thread = threading.Thread(target=lambda: out.append(task()))
        thread.start()
        thread.join(120)
        assert not thread.is_alive()
        return out[0]

    def attempt(call):
        try:
            return call()
        except tovimar.Error as e:
            return e

    # A render() with frames left belongs to its thread; its frames stay its scene's.
    frames = shared.render(scenes["a"])
    first = next(frames)
    refused = in_thread(lambda: attempt(lambda: shared.render(scenes["b"])))
    assert isinstance(refused, tovimar.Error) and "in use by another thread" in str(refused)
    assert images([first] + list(frames)) == alone["a"]
    # Once it has ended, another thread renders with the same contexts, and may drop the renderer.
    assert in_thread(lambda: images(shared.render(scenes["b"]))) == alone["b"]
    assert images(shared.render(scenes["a"])) == alone["a"]
    in_thread(lambda: images(tovimar.Renderer(48, 36).render(scenes["b"])))
    # Two threads at once: each gets its own scene's frames or is refused, never the other's.
    start = threading.Barrier(2)
    results = {}

    def race(key):
        start.wait()
        results[key] = [attempt(lambda: images(shared.render(scenes[key]))) for _ in range(4)]

    threads = [threading.Thread(target=race, args=(key,)) for key in scenes]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(300)
        assert not thread.is_alive()
    for key, outcomes in results.items():
        for outcome in outcomes:
            assert outcome == alone[key] or (isinstance(outcome, tovimar.Error)
                                             and "another thread" in str(outcome)), (key, outcome)


# Run in a process of its own, so that a hang fails the test (timeout) instead of blocking.
FORK_SCRIPT = r"""
import os, sys, tovimar
scene = tovimar.generate_scene(frames=3, seed=2, objects=(2, 3))
def images(frames):
    return [f["left"]["image"].tobytes() + f["right"]["image"].tobytes() for f in frames]
def in_child(task):
    pid = os.fork()
    if pid == 0:
        try:
            task()
        except BaseException as e:
            print("child:", repr(e), flush=True)
            sys.exit(3)
        sys.exit(0)  # a normal exit: the interpreter's and the libraries' finalisers run
    return os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
renderer = tovimar.Renderer(32, 24)
alone = images(renderer.render(scene))
ended = renderer.render(scene)
assert images(ended) == alone
def after_an_ended_render():
    assert next(ended, None) is None
    assert images(tovimar.Renderer(32, 24).render(scene)) == alone
    assert images(renderer.render(scene)) == alone
assert in_child(after_an_ended_render) == 0
live = renderer.render(scene)
first = next(live)
def during_a_render():
    for call, message in ((lambda: next(live), "began in the process this one was forked from"),
                          (lambda: tovimar.Renderer(32, 24).render(scene), "forked from its parent")):
        try:
            call()
        except tovimar.Error as e:
            assert message in str(e), e
        else:
            raise AssertionError("no error")
assert in_child(during_a_render) == 0
assert images([first] + list(live)) == alone  # the parent's render goes on
print("ok")
"""


def test_a_forked_child_renders_anew_refuses_inherited_state_and_exits():
    result = subprocess.run([sys.executable, "-c", FORK_SCRIPT], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0 and result.stdout.endswith("ok\n"), result.stdout + result.stderr


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def test_memory_stays_flat_over_many_frames():
    scene = open(PLANES_NOISE).read().split("EGO")[0] + "EGO; 0.0; 0.0; 0.001; 0.0; 0.0; 0.01\n" * 1000
    renderer = tovimar.Renderer(64, 48)
    frames = renderer.render(scene, camera="both", outputs=("mask", "flow"))
    assert len(frames) == 1000
    sizes = []
    for i, frame in enumerate(frames):
        if i in (200, 999):
            sizes.append(rss_kib())
    # A frame's products at this size are about 40 KiB: a leak of one per
    # frame would add 30 MiB; the allocators settle within a few.
    assert sizes[1] - sizes[0] < 6144, sizes
