#!/usr/bin/python3
"""Milliseconds per frame, side by side in one process on the same frames:

  command   the corvane command's per-frame work (the BGR frame into the
            model's layout, Detector::Process, the mask into row order),
            in C++ without the Python host (corvane_command_step, which the
            build puts beside the package in <build>/python)
  apply     corvane.BackgroundSubtractor.apply, from Python
  mog2      cv2.createBackgroundSubtractorMOG2().apply, OpenCV's defaults

The frames are the sample clip (data/sample/highway-160x120.avi) enlarged to
the size asked for. The three take turns frame by frame (the order rotating),
so that all see the same machine load, on the same thread count
(cv2.setNumThreads for MOG2). The first initial_frames frames (Corvane's
start) are run before timing. Reported: the median wall-clock time per frame,
and apply / command. It also checks that apply's masks are the command's.

  PYTHONPATH=build/release/python /usr/bin/python3 python/bench/apply_bench.py \\
      [--size 640x480] [--frames 150] [--threads 1,2]
"""

import argparse
import os
import statistics
import sys
import time

import cv2
import numpy as np

import corvane
import corvane_command_step


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--video", default=os.path.join(here, "..", "..", "data", "sample",
                                                        "highway-160x120.avi"))
    parser.add_argument("--size", default="640x480", help="W x H the frames are enlarged to")
    parser.add_argument("--frames", type=int, default=150, help="timed frames per method")
    parser.add_argument("--threads", default="1,2", help="thread counts, comma-separated")
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.lower().split("x"))

    capture = cv2.VideoCapture(args.video)
    clip = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        clip.append(cv2.resize(frame, (width, height), interpolation=cv2.INTER_LINEAR))
    if not clip:
        sys.exit(f"cannot read {args.video}")
    warm = corvane.BackgroundSubtractor().parameters["initial_frames"]
    frames = [clip[i % len(clip)] for i in range(warm + args.frames)]

    print(f"| image | threads | command (C++) | apply (Python) | apply / command | MOG2 |")
    print(f"|---|---|---|---|---|---|")
    for threads in (int(t) for t in args.threads.split(",")):
        cv2.setNumThreads(threads)
        step = corvane_command_step.CommandStep(threads)
        sub = corvane.BackgroundSubtractor(threads=threads)
        mog2 = cv2.createBackgroundSubtractorMOG2()
        methods = {
            "command": lambda f: step.process(f),
            "apply": lambda f: sub.apply(f),
            "mog2": lambda f: mog2.apply(f),
        }
        times = {name: [] for name in methods}
        order = list(methods)
        for index, frame in enumerate(frames):
            for name in order:
                start = time.perf_counter()
                result = methods[name](frame)
                elapsed = time.perf_counter() - start
                if name == "apply":
                    mask = result
                if index >= warm:
                    times[name].append(1000 * elapsed)
            if not np.array_equal(mask, step.mask):
                sys.exit(f"frame {index + 1}: apply's mask differs from the command's")
            order = order[1:] + order[:1]
        ms = {name: statistics.median(values) for name, values in times.items()}
        print(f"| {width}x{height} | {threads} | {ms['command']:.1f} | {ms['apply']:.1f} | "
              f"{ms['apply'] / ms['command']:.3f} | {ms['mog2']:.1f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
