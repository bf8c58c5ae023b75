"""A short training loop on scenes rendered on the fly: a tiny network
learns disparity from stereo pairs (an example of the tovimar.torch
dataset, not a stereo method).

    PYTHONPATH=build/python python3 examples/python/train_disparity.py --steps 200
"""

import argparse

import torch
from torch import nn

from tovimar.torch import RandomScenes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=200)
    parser.add_argument("--size", type=int, nargs=2, default=(192, 256), metavar=("H", "W"))
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()

    data = RandomScenes(preset="flying", seeds=range(10_000), frames=4, size=args.size)
    loader = torch.utils.data.DataLoader(data, batch_size=4, num_workers=args.workers)
    net = nn.Sequential(nn.Conv2d(6, 16, 5, padding=2), nn.ReLU(), nn.Conv2d(16, 16, 5, padding=2), nn.ReLU(),
                        nn.Conv2d(16, 1, 5, padding=2))
    optimiser = torch.optim.Adam(net.parameters(), lr=1e-3)
    for step, batch in enumerate(loader):
        if step == args.steps:
            break
        predicted = net(torch.cat([batch["left"], batch["right"]], dim=1))[:, 0]
        valid = batch["valid"]
        loss = (predicted - batch["disparity"])[valid].abs().mean()
        optimiser.zero_grad()
        loss.backward()
        optimiser.step()
        if step % 10 == 0 or step == args.steps - 1:
            print("step %d: mean disparity error %.3f px" % (step, loss.item()), flush=True)


if __name__ == "__main__":
    main()
