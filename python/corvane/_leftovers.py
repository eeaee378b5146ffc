"""The command's working folders a batch leaves behind when a worker dies:
the batch returns only once no child of its tasks is left writing."""

import os
import re
import socket
import time


_WORKING_MARKER = ".corvane-working"
# How long a batch waits, at most, for the children of its dead tasks to
# finish their frame and remove their working folders.
_LEFTOVER_WAIT = 60.0


def _working_folders(jobs):
    """The command's working folders next to the jobs' outputs."""
    found = set()
    for _, _, output in jobs:
        parent, name = os.path.split(output)
        try:
            entries = os.listdir(parent)
        except OSError:
            continue
        pattern = re.compile(re.escape(name) + r"\.incomplete-[0-9]+$")
        found.update(os.path.join(parent, n) for n in entries if pattern.match(n))
    return found


def _start_time(pid):
    """Process `pid`'s start time as /proc has it (field 22), or None."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return fields[19]
    except (OSError, IndexError):
        return None


def _still_written(folder):
    """Whether a live command still owns the working folder `folder`: its
    marker names a process on this host that runs with the same start time,
    or a process on another host (which cannot be asked; the folder then
    counts while it exists)."""
    try:
        with open(os.path.join(folder, _WORKING_MARKER)) as marker:
            lines = marker.read().splitlines()
    except FileNotFoundError:
        return os.path.isdir(folder)  # being created or already being removed
    except OSError:
        return False
    if not lines or lines[0] != "corvane working folder" or "kept" in lines:
        return False  # not a run's, or finished results kept on purpose
    fields = dict(line.partition(" ")[::2] for line in lines[1:])
    if fields.get("host", "") != socket.gethostname():
        return True
    start = _start_time(fields.get("pid", ""))
    return start is not None and start == fields.get("start")


def _wait_for_leftovers(jobs, earlier, limit=_LEFTOVER_WAIT):
    """Waits until no command started by this batch is left writing next to
    its outputs: a task whose worker died leaves its child running until it
    has finished its frame and removed its working folder. Folders that were
    there before the batch (`earlier`) are not waited for."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if not any(_still_written(f) for f in _working_folders(jobs) - earlier):
            return
        time.sleep(0.05)
