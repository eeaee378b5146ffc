#!/usr/bin/python3
"""The competition's log and exp arguments on real frames, for corvane_math_bench.

    competition_arguments.py FRAMES OUT [--learn N] [--every M] [--frames F]
                             [--size WxH]

FRAMES is a printf pattern of image files (in%06d.jpg, numbered from 1) or a
video. The subtractor (corvane.BackgroundSubtractor, one thread, default
parameters) learns N frames (default 300); then, before each M-th of the next
F frames (default every 100th of 400), the model is read back and every
neuron's effective variance s = Sigma2 + MinimumVariance and exponent
(-1.5 ln(2 pi) - 1.5 log s) - (0.5 d^2) / s against that frame are appended to
OUT.log.bin and OUT.exp.bin (little-endian doubles, in the update's order:
pixels column-major, a pixel's neurons together). NumPy's log stands in for
the correctly rounded one in the exponents: a last bit off changes neither
the distribution nor the timing. --size resizes every frame (e.g. 640x480).

Also prints, per sampled frame, what the arguments offer for reuse: the share
of neurons at their pixel's variance cap (whose s is the same for the
pixel's capped neurons), the share of distinct values of s within a pixel and
within the update's blocks of whole pixels (at most 512 values down a
column), and the share of exponents at or below the underflow bound (exp
exactly +0).

Run with PYTHONPATH=build/release/python (or an installed module).
"""
import argparse
import sys

import numpy as np


def frames(pattern, size):
    import cv2
    if "%" in pattern:
        i = 1
        while True:
            image = cv2.imread(pattern % i)
            if image is None:
                return
            yield image if size is None else cv2.resize(image, size)
            i += 1
    capture = cv2.VideoCapture(pattern)
    while True:
        ok, image = capture.read()
        if not ok:
            return
        yield image if size is None else cv2.resize(image, size)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("frames")
    parser.add_argument("out")
    parser.add_argument("--learn", type=int, default=300)
    parser.add_argument("--every", type=int, default=100)
    parser.add_argument("--frames", type=int, default=400, dest="count")
    parser.add_argument("--size", default=None)
    args = parser.parse_args()
    size = tuple(int(v) for v in args.size.split("x")) if args.size else None
    import corvane
    subtractor = corvane.BackgroundSubtractor()
    subtractor.threads = 1
    logs, exps = [], []
    print("| frame | K | at the cap | distinct in a pixel | distinct in a block | exp is +0 |")
    print("|---|---|---|---|---|---|")
    for t, image in enumerate(frames(args.frames, size)):
        if t >= args.learn + args.count:
            break
        if t >= args.learn and (t - args.learn) % args.every == 0:
            model = subtractor.model
            K = model["Sigma2"].shape[0]
            sigma2 = model["Sigma2"].reshape(-1, order="F").reshape(-1, K)  # N x K
            N = sigma2.shape[0]
            H, W = image.shape[:2]
            cap = model["MaximumVariance"].reshape(-1, order="F")
            floor = float(np.ravel(model["MinimumVariance"])[0])
            mu = model["Mu"].reshape(-1, order="F").reshape(N, K, 3)
            rgb = image[:, :, ::-1].astype(np.float64)  # the model's channels are R, G, B
            x = np.stack([rgb[:, :, c].reshape(-1, order="F") for c in range(3)], axis=1)
            d2 = ((mu - x[:, None, :]) ** 2).sum(axis=2)
            s = sigma2 + floor
            exponent = (-2.756815599614018 - 1.5 * np.log(s)) - (0.5 * d2) / s
            ordered = np.sort(s, axis=1)
            inPixel = (1 + (np.diff(ordered, axis=1) != 0).sum(axis=1)).sum() / s.size
            perBlock = max(1, 512 // K)
            distinct = 0
            for c in range(W):
                column = s[c * H:(c + 1) * H]
                for q in range(0, H, perBlock):
                    distinct += np.unique(column[q:q + perBlock]).size
            print("| %d | %d | %.3f | %.3f | %.3f | %.4f |" % (
                t + 1, K, (sigma2 == cap[:, None]).mean(), inPixel, distinct / s.size,
                (exponent <= -745.13321910194122).mean()), flush=True)
            logs.append(s.ravel())
            exps.append(exponent.ravel())
        subtractor.apply(image)
    if not logs:
        sys.exit("no frame sampled: the input has at most --learn frames")
    np.concatenate(logs).astype("<f8").tofile(args.out + ".log.bin")
    np.concatenate(exps).astype("<f8").tofile(args.out + ".exp.bin")


if __name__ == "__main__":
    main()
