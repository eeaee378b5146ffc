"""One video's task, run on a Dask worker: ``corvane segment`` as a child
process with a parent-death signal, and the VideoResult of what it did."""

import os
import shutil
import subprocess
import sys
import time

from ._command import find_command
from ._results import BatchError, VideoResult

# The run record the command leaves in every finished output folder.
_RUN_RECORD = "corvane-run.txt"
# `corvane segment`'s status for an input shorter than it announced.
_EXIT_SHORT_INPUT = 3


def _setpriv():
    # util-linux's setpriv sets the parent-death signal and execs the command.
    return shutil.which("setpriv") if sys.platform.startswith("linux") else None


def _frames_in_record(output):
    try:
        with open(os.path.join(output, _RUN_RECORD)) as record:
            for line in record:
                if line.startswith("frames "):
                    return int(line.split()[1])
    except (OSError, ValueError):
        pass
    return 0


def segment_video(name, input, output, options, threads, force):
    """Runs ``corvane segment`` for one video; returns its VideoResult. Runs on
    a worker: the command is looked up there."""
    start = time.monotonic()
    try:
        command = find_command()
    except BatchError as error:
        return VideoResult(name, input, output, "failed", 0, 0.0, str(error))
    args = [command, "segment", input, output, "--quiet", "--threads", str(threads)]
    args += list(options) + ([] if force else ["--skip-complete"])
    setpriv = _setpriv()
    if setpriv:
        args = [setpriv, "--pdeathsig", "TERM", "--"] + args
    child = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    said, complaint = child.communicate()
    seconds = time.monotonic() - start
    if child.returncode == _EXIT_SHORT_INPUT:
        # Segmented, but shorter than it announced: the masks are there, the
        # video is not reported as complete.
        lines = [line.strip() for line in complaint.splitlines()
                 if line.strip().startswith("corvane: warning: ")]
        error = "; ".join(line[len("corvane: warning: "):] for line in lines)
        return VideoResult(name, input, output, "short", _frames_in_record(output), seconds,
                           error or "the input ended before the length it announced")
    if child.returncode != 0:
        # The command's own messages; the decoders' chatter only if there is nothing else.
        lines = [line.strip() for line in complaint.splitlines() if line.strip()]
        own = [line[len("corvane: "):] for line in lines if line.startswith("corvane: ")]
        error = "; ".join(own or lines) or f"corvane exited with status {child.returncode}"
        return VideoResult(name, input, output, "failed", 0, seconds, error)
    status = "skipped" if "already holds this run" in said else "done"
    return VideoResult(name, input, output, status, _frames_in_record(output), seconds)
