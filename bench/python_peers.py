#!/usr/bin/python3
"""Corvane's apply() against OpenCV's subtractors, side by side in one process.

    bench/python_peers.py [--sizes 320x240,640x480,1280x720] [--threads 1,2]
                          [--frames 60] [--video FILE]

For each size and thread count, on the same frames (the clip enlarged to the
size; by default the sample clip, data/sample/highway-160x120.avi), the
methods take turns frame by frame, the order rotating, so that all see the
same machine load:

  apply   corvane.BackgroundSubtractor(threads=T).apply, from Python
  GSOC    cv2.bgsegm.createBackgroundSubtractorGSOC()    (OpenCV's defaults)
  MOG2    cv2.createBackgroundSubtractorMOG2()
  KNN     cv2.createBackgroundSubtractorKNN()
  CNT     cv2.bgsegm.createBackgroundSubtractorCNT()

OpenCV's thread count is cv2.setNumThreads(T). Corvane's start (its first
initial_frames frames) runs before timing, and every method sees those frames
too. Prints one table row per size and thread count: the median wall-clock
milliseconds per frame of each method, and in brackets apply's time over
GSOC's; on two threads also apply's time over its own on one. The first line
gives the load average before the run, the last the load after it.

The module comes from the installed package or PYTHONPATH (a build tree's
build/<dir>/python).
"""

import argparse
import os
import statistics
import sys
import time

import cv2

import corvane


def read_clip(path):
    capture = cv2.VideoCapture(path)
    clip = []
    while True:
        ok, frame = capture.read()
        if not ok:
            break
        clip.append(frame)
    return clip


def methods_for(threads):
    sub = corvane.BackgroundSubtractor(threads=threads)
    peers = {
        "GSOC": cv2.bgsegm.createBackgroundSubtractorGSOC(),
        "MOG2": cv2.createBackgroundSubtractorMOG2(),
        "KNN": cv2.createBackgroundSubtractorKNN(),
        "CNT": cv2.bgsegm.createBackgroundSubtractorCNT(),
    }
    methods = {"apply": sub.apply}
    methods.update({name: peer.apply for name, peer in peers.items()})
    return methods


def time_methods(frames, warm, threads):
    """Median milliseconds per frame of every method, taking turns."""
    cv2.setNumThreads(threads)
    methods = methods_for(threads)
    order = list(methods)
    times = {name: [] for name in methods}
    for index, frame in enumerate(frames):
        for name in order:
            start = time.perf_counter()
            methods[name](frame)
            elapsed = time.perf_counter() - start
            if index >= warm:
                times[name].append(1000 * elapsed)
        order = order[1:] + order[:1]
    return {name: statistics.median(values) for name, values in times.items()}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--video", default=os.path.join(here, "..", "data", "sample",
                                                        "highway-160x120.avi"))
    parser.add_argument("--sizes", default="320x240,640x480,1280x720",
                        help="W x H sizes the frames are enlarged to, comma-separated")
    parser.add_argument("--threads", default="1,2", help="thread counts, comma-separated")
    parser.add_argument("--frames", type=int, default=60, help="timed frames per method")
    args = parser.parse_args()

    clip = read_clip(args.video)
    if not clip:
        sys.exit(f"python_peers.py: cannot read {args.video}")
    warm = corvane.BackgroundSubtractor().parameters["initial_frames"]
    names = ["apply", "GSOC", "MOG2", "KNN", "CNT"]
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    print("| image | threads | " + " | ".join(names) + " |")
    print("|---|---|" + "---|" * len(names))
    for size in args.sizes.split(","):
        width, height = (int(v) for v in size.lower().split("x"))
        frames = [cv2.resize(clip[i % len(clip)], (width, height),
                             interpolation=cv2.INTER_LINEAR)
                  for i in range(warm + args.frames)]
        one_thread = None
        for threads in (int(t) for t in args.threads.split(",")):
            ms = time_methods(frames, warm, threads)
            apply = f"{ms['apply']:.1f} ({ms['apply'] / ms['GSOC']:.2f} of GSOC"
            if one_thread is not None and threads > 1:
                apply += f", {ms['apply'] / one_thread:.2f} of 1 thread"
            apply += ")"
            if threads == 1:
                one_thread = ms["apply"]
            cells = [apply] + [f"{ms[name]:.1f}" for name in names[1:]]
            print(f"| {width}x{height} | {threads} | " + " | ".join(cells) + " |", flush=True)
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())
    return 0


if __name__ == "__main__":
    sys.exit(main())
