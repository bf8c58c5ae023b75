"""Speed of the Python module, printed as figures (not a timed test):
  1. a DataLoader over random scenes with 2 workers against 1 worker;
  2. in-process frames per second (both cameras, 512x384, image + disparity +
     mask) against `tovimar-render --outputs png,pfm,masks` writing the same
     products, measured alternately.
    PYTHONPATH=build/python python3 bench/bench_python.py build/cli/tovimar-render [ROUNDS]
The loader part runs first: a process that has rendered cannot fork workers
that render."""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import tovimar

WIDTH, HEIGHT, FRAMES = 512, 384, 20
HERE = os.path.dirname(os.path.abspath(__file__))


def loader_rate(workers, seeds=8, frames=4):
    import torch
    from tovimar.torch import RandomScenes

    data = RandomScenes(seeds=range(seeds), frames=frames, size=(HEIGHT, WIDTH))
    start = time.perf_counter()
    count = sum(1 for _ in torch.utils.data.DataLoader(data, batch_size=None, num_workers=workers))
    return count / (time.perf_counter() - start)


def main():
    render = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    try:
        one, two = [], []
        for _ in range(rounds):  # alternately, so the machine's drift enters both
            one.append(loader_rate(1))
            two.append(loader_rate(2))
        print("DataLoader, both cameras %dx%d, samples/s (median of %d, alternately): 1 worker %.1f, "
              "2 workers %.1f (%.2fx)"
              % (WIDTH, HEIGHT, rounds, statistics.median(one), statistics.median(two),
                 statistics.median(two) / statistics.median(one)))
    except ImportError:
        print("DataLoader: torch is not installed")

    with tempfile.TemporaryDirectory() as work:
        example = open(os.path.join(HERE, "..", "examples", "sceneexample.txt")).read()
        scene = "".join(l + "\n" for l in example.splitlines() if not l.lstrip().startswith("EGO"))
        scene += "EGO; 0.0; 0.0; 0.02; 0.1; 0.5; 0.0\n" * FRAMES
        path = os.path.join(work, "scene.txt")
        open(path, "w").write(scene)
        renderer = tovimar.Renderer(WIDTH, HEIGHT)
        module, program = [], []
        for _ in range(rounds):
            start = time.perf_counter()
            n = sum(1 for _ in renderer.render(path, camera="both", outputs=("mask",)))
            module.append(n / (time.perf_counter() - start))
            out = os.path.join(work, "out")
            subprocess.run(["rm", "-rf", out], check=True)
            start = time.perf_counter()
            subprocess.run([render, "-q", "-o", out, "-r", "%dx%d" % (WIDTH, HEIGHT), "-c", "both",
                            "--outputs", "png,pfm,masks", path], check=True)
            program.append(FRAMES / (time.perf_counter() - start))
        print("both cameras %dx%d, image + disparity + mask, frames/s (median of %d, alternately): "
              "in-process %.1f, tovimar-render %.1f (%.2fx)"
              % (WIDTH, HEIGHT, rounds, statistics.median(module), statistics.median(program),
                 statistics.median(module) / statistics.median(program)))


if __name__ == "__main__":
    main()
