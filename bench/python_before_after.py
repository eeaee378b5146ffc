#!/usr/bin/python3
"""Two builds of the Python module side by side in one process.

    bench/python_before_after.py BEFORE_BUILD AFTER_BUILD [--frames 60]
                                 [--size 640x480] [--video FILE]

BEFORE_BUILD and AFTER_BUILD are build trees (their python/corvane holds
the extension module), say one of the commit before a change and one of
the change. Both extension modules are loaded into this process, and four
subtractors, each build on 1 and on 2 threads, take turns frame by frame
on the same frames (the order rotating), so that all see the same machine
load. Prints the median wall-clock and CPU milliseconds per frame of each
(CPU: the whole process's, every thread), the 2-thread / 1-thread ratio of
each build, the after / before ratio on one thread, and whether the four
gave the same last mask. The first and last lines give the load average.
"""

import argparse
import glob
import importlib.util
import os
import statistics
import time

import cv2
import numpy as np


def load(build):
    found = glob.glob(os.path.join(build, "python", "corvane", "_corvane*.so"))
    if not found:
        raise SystemExit(f"no extension module under {build}/python/corvane")
    where = importlib.util.spec_from_file_location("_corvane", found[0])
    module = importlib.util.module_from_spec(where)
    where.loader.exec_module(module)
    return module


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--frames", type=int, default=60)
    parser.add_argument("--size", default="640x480")
    parser.add_argument("--video", default=os.path.join(here, "..", "data", "sample",
                                                        "highway-160x120.avi"))
    args = parser.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    print("load average before:", " ".join(f"{v:.2f}" for v in os.getloadavg()))
    modules = {"before": load(args.before), "after": load(args.after)}
    capture = cv2.VideoCapture(args.video)
    clip = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        clip.append(cv2.resize(frame, (width, height)))
    subs = {(name, threads): module.BackgroundSubtractor(threads=threads)
            for name, module in modules.items() for threads in (1, 2)}
    keys = list(subs)
    start = 10  # the start (initial_frames 9) and one more, not timed
    for frame in clip[:start]:
        for sub in subs.values():
            sub.apply(frame)
    wall = {key: [] for key in keys}
    cpu = {key: [] for key in keys}
    masks = {}
    for i in range(args.frames):
        frame = clip[(start + i) % len(clip)]
        for key in keys[i % len(keys):] + keys[:i % len(keys)]:
            c, w = time.process_time(), time.perf_counter()
            masks[key] = subs[key].apply(frame)
            wall[key].append(time.perf_counter() - w)
            cpu[key].append(time.process_time() - c)

    def ms(values):
        return 1000 * statistics.median(values)

    for name, threads in keys:
        print(f"{name:6} {threads} thread(s): wall {ms(wall[(name, threads)]):6.1f} ms, "
              f"CPU {ms(cpu[(name, threads)]):6.1f} ms")
    for name in modules:
        print(f"{name}: 2 threads / 1 thread (wall) "
              f"{ms(wall[(name, 2)]) / ms(wall[(name, 1)]):.2f}")
    print(f"after / before, 1 thread: wall {ms(wall[('after', 1)]) / ms(wall[('before', 1)]):.2f}, "
          f"CPU {ms(cpu[('after', 1)]) / ms(cpu[('before', 1)]):.2f}")
    print("same last mask:", all(np.array_equal(masks[keys[0]], masks[key]) for key in keys))
    print("load average after:", " ".join(f"{v:.2f}" for v in os.getloadavg()))


if __name__ == "__main__":
    main()
