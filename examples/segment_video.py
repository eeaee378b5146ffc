#!/usr/bin/python3
"""Corvane and OpenCV's MOG2 side by side on one video.

    examples/segment_video.py VIDEO OUTDIR [--max-frames N] [--quiet]
    examples/segment_video.py data/sample/highway-160x120.avi /tmp/highway

Reads VIDEO with cv2.VideoCapture, gives every frame to
corvane.BackgroundSubtractor and to cv2.createBackgroundSubtractorMOG2, and
writes both masks (OUTDIR/corvane/000001.png, OUTDIR/mog2/000001.png, ...;
MOG2's shadows, 127, counted as background) and OUTDIR/side-by-side.png:
the last frame | Corvane's mask | MOG2's mask. Progress goes to standard
error, about once a second.
"""

import argparse
import os
import sys
import time

import cv2
import numpy as np

try:
    import corvane
except ImportError:
    sys.exit(f"{sys.executable} cannot import corvane: install it with scripts/install-python.sh, "
             "or run from a build with PYTHONPATH=build/release/python")


def main():
    parser = argparse.ArgumentParser(description="Corvane and MOG2 side by side on one video")
    parser.add_argument("video")
    parser.add_argument("outdir")
    parser.add_argument("--max-frames", type=int, default=0, help="stop after N frames")
    parser.add_argument("--quiet", action="store_true", help="no progress lines")
    args = parser.parse_args()

    capture = cv2.VideoCapture(args.video)
    if not capture.isOpened():
        sys.exit(f"cannot open {args.video}")
    for name in ("corvane", "mog2"):
        os.makedirs(os.path.join(args.outdir, name), exist_ok=True)

    sub = corvane.BackgroundSubtractor()          # keywords: help(corvane.BackgroundSubtractor)
    mog2 = cv2.createBackgroundSubtractorMOG2()
    total = int(capture.get(cv2.CAP_PROP_FRAME_COUNT))
    if args.max_frames > 0:
        total = min(total, args.max_frames) if total > 0 else args.max_frames
    terminal = sys.stderr.isatty()
    start = last = time.monotonic()
    count, frame = 0, None
    while args.max_frames <= 0 or count < args.max_frames:
        ok, next_frame = capture.read()
        if not ok:
            break
        frame, count = next_frame, count + 1
        ours = sub.apply(frame)
        theirs = np.where(mog2.apply(frame) == 255, 255, 0).astype(np.uint8)
        for name, mask in (("corvane", ours), ("mog2", theirs)):
            cv2.imwrite(os.path.join(args.outdir, name, f"{count:06d}.png"), mask)
        now = time.monotonic()
        if not args.quiet and (now - last >= 1 or count == total):
            last = now
            of = f"/{total}" if total > 0 else ""
            line = f"frame {count}{of}, {count / max(now - start, 1e-9):.1f} frames/s"
            # On a terminal one line, rewritten; in a log one line each time.
            sys.stderr.write("\r" + line if terminal else line + "\n")
            sys.stderr.flush()
    if not args.quiet and terminal:
        sys.stderr.write("\n")
    if count == 0:
        sys.exit(f"{args.video} has no frames")

    picture = np.hstack([frame, cv2.cvtColor(ours, cv2.COLOR_GRAY2BGR),
                         cv2.cvtColor(theirs, cv2.COLOR_GRAY2BGR)])
    for x, label in enumerate(("frame", "Corvane", "MOG2")):
        cv2.putText(picture, label, (x * frame.shape[1] + 4, 14), cv2.FONT_HERSHEY_SIMPLEX,
                    0.45, (0, 255, 255), 1, cv2.LINE_AA)
    cv2.imwrite(os.path.join(args.outdir, "side-by-side.png"), picture)
    print(f"{count} frames: masks in {args.outdir}/corvane and {args.outdir}/mog2, "
          f"{args.outdir}/side-by-side.png")
    return 0


if __name__ == "__main__":
    sys.exit(main())
