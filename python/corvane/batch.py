"""Segmenting many videos at once, on a Dask cluster or on this machine.

One task per video. Each task runs the ``corvane segment`` command for its
video as a child process, so a batch writes exactly what the command writes
(the same masks bit for bit, the same run record) through the command's own
commit: the results go into ``OUTROOT/<name>.incomplete-PID`` and are renamed
to ``OUTROOT/<name>`` only when the video is done, so a folder named after a
video is always complete.

The child is started with a parent-death signal (SIGTERM): if the worker
running it dies, the command finishes its frame, removes its unfinished
output and exits, and Dask runs the task again on another worker.

Dask is imported only when a batch runs, so ``import corvane`` does not need
it.
"""

import ast
import dataclasses
import multiprocessing
import numbers
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import warnings

from ._corvane import _max_threads as _core_max_threads

__all__ = ["segment_many", "VideoResult", "BatchResult", "BatchError", "MainGuardError"]

# The run record the command leaves in every finished output folder.
_RUN_RECORD = "corvane-run.txt"
# Test hook, read by the task on the worker: when set to a path, the first
# task that creates that file kills its own worker process (SIGKILL) once its
# child has written a few masks.
_KILL_HOOK = "CORVANE_BATCH_KILL_WORKER_ONCE"
# The exit status of the command line is the number of failed videos, at
# most this many; 125 says the batch could not run at all.
MAX_FAILED_STATUS = 100
# `corvane segment`'s status for an input shorter than it announced.
_EXIT_SHORT_INPUT = 3
STATUS_CANNOT_RUN = 125


class BatchError(ValueError):
    """Inputs, options or the command that a batch cannot start with."""


@dataclasses.dataclass
class VideoResult:
    """What became of one video."""
    name: str        # the output folder's name under the output root
    input: str       # the input as the command was given it (absolute)
    output: str      # OUTROOT/<name>
    status: str      # "done", "skipped" (already complete), "short" (the input ended
                     # before the length it announced; its masks are kept) or "failed"
    frames: int      # masks in the output (0 when failed)
    seconds: float   # wall time of the task
    error: str = ""  # why it failed, in the command's words


@dataclasses.dataclass
class BatchResult:
    videos: list
    seconds: float   # wall time of the whole batch

    @property
    def failed(self):
        return [v for v in self.videos if v.status == "failed"]

    @property
    def short(self):
        """Videos that ended before the length they announced (masks kept)."""
        return [v for v in self.videos if v.status == "short"]

    @property
    def frames_segmented(self):
        return sum(v.frames for v in self.videos if v.status == "done")

    @property
    def frames_per_second(self):
        return self.frames_segmented / self.seconds if self.seconds > 0 else 0.0


# ------------------------------------------------------------------ the command

def find_command():
    """The ``corvane`` executable: $CORVANE_COMMAND, the one installed with
    this package (corvane/bin/corvane), or the first on PATH."""
    explicit = os.environ.get("CORVANE_COMMAND")
    if explicit:
        return explicit
    packaged = os.path.join(os.path.dirname(os.path.abspath(__file__)), "bin", "corvane")
    if os.access(packaged, os.X_OK):
        return packaged
    found = shutil.which("corvane")
    if found:
        return found
    raise BatchError("the corvane command was not found: install the corvane package with its "
                     "command, put corvane on PATH or set CORVANE_COMMAND")


def _parameter_table(command):
    """{python_name: option} from ``corvane parameters``."""
    listing = _run_command([command, "parameters"])
    if listing.returncode != 0:
        raise BatchError(f"{command} parameters failed: {listing.stderr.strip()}")
    table = {}
    for line in listing.stdout.splitlines():
        python_name, option, _ = line.split(" ")
        table[python_name] = option
    return table


def _run_command(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def _option_text(name, value):
    if isinstance(value, numbers.Integral) and not isinstance(value, bool):
        return str(int(value))
    if isinstance(value, numbers.Real) and not isinstance(value, bool):
        return repr(float(value))  # the shortest text that reads back as the same double
    raise BatchError(f"parameter {name} needs a number, not {value!r}")


def model_options(command, parameters):
    """The command's options for keyword parameters (Python names)."""
    table = _parameter_table(command)
    options = []
    for name, value in parameters.items():
        if name not in table:
            raise BatchError(f"unknown parameter {name!r}; the parameters are: " +
                             ", ".join(table))
        options += [table[name], _option_text(name, value)]
    return options


def check_options(command, options):
    """Checks model options as ``corvane segment`` will; BatchError if not."""
    checked = _run_command([command, "parameters"] + list(options))
    if checked.returncode != 0:
        raise BatchError(checked.stderr.strip().removeprefix("corvane: "))


# ------------------------------------------------------------------ names

def _name_of(path):
    """The output folder's name for an input: a file's name without its
    extension, a folder's name, an image pattern's folder."""
    path = path.rstrip("/") or path
    # A path that exists is a file or folder, whatever '%' it holds; the
    # command takes it so too.
    if "%" in os.path.basename(path) and not os.path.exists(path):
        path = os.path.dirname(path) or "."
        return os.path.basename(os.path.abspath(path))
    if os.path.isdir(path):
        return os.path.basename(os.path.abspath(path))
    stem, _ = os.path.splitext(os.path.basename(path))
    return stem or os.path.basename(path)


def _check_name(name, source):
    if not name or name in (".", "..") or "/" in name or "\0" in name:
        raise BatchError(f"{source}: {name!r} cannot name an output folder")
    if re.search(r"\.(incomplete|old)-[0-9]+$", name):
        raise BatchError(f"{source}: {name!r} looks like the command's working folder; "
                         "give the video another name")


def plan(inputs, output_root):
    """[(name, absolute input, output folder)] for `inputs`: paths and
    (name, path) pairs, or a mapping of names to paths. Two inputs that would write the same folder
    (two a.avi in different folders, or one input given twice) are refused,
    naming both: give them names of their own."""
    if isinstance(inputs, (str, os.PathLike)):
        raise BatchError("inputs must be a list of videos (or a mapping of names to videos), "
                         "not one path")
    named = (list(inputs.items()) if hasattr(inputs, "items")
             else [item if isinstance(item, tuple) else (None, item) for item in inputs])
    if not named:
        raise BatchError("no videos given")
    root = os.path.abspath(os.fspath(output_root))
    jobs, seen = [], {}
    for name, path in named:
        path = os.fspath(path)
        if not path:
            raise BatchError("an empty input path")
        name = _name_of(path) if name is None else str(name)
        _check_name(name, path)
        if name in seen:
            raise BatchError(f"{seen[name]!r} and {path!r} would both write "
                             f"{os.path.join(root, name)!r}; name them apart "
                             "(NAME=PATH on the command line, a mapping in Python)")
        seen[name] = path
        jobs.append((name, os.path.abspath(path), os.path.join(root, name)))
    return jobs


# ------------------------------------------------------------------ the task

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


def _kill_worker_when_started(child, output, flag):
    """The test hook: once the child has written 5 masks, the first task to
    create `flag` kills its own worker process outright."""
    working = f"{output}.incomplete-{child.pid}"
    while child.poll() is None:
        try:
            masks = sum(1 for n in os.listdir(working) if n.endswith(".png"))
        except OSError:
            masks = 0
        if masks >= 5:
            try:
                os.close(os.open(flag, os.O_CREAT | os.O_EXCL | os.O_WRONLY))
            except FileExistsError:
                return
            os.kill(os.getpid(), signal.SIGKILL)
        time.sleep(0.01)


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
    flag = os.environ.get(_KILL_HOOK)
    if flag:
        _kill_worker_when_started(child, output, flag)
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


# ------------------------------------------------------------------ leftovers

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


# ------------------------------------------------------------------ progress

def _tqdm_bar(stream, total):
    """tqdm's bar (Debian's python3-tqdm) on `stream`, or None without tqdm."""
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, file=stream, unit="video", leave=False, dynamic_ncols=True,
                bar_format="{bar} {n_fmt}/{total_fmt} videos {elapsed}<{remaining}{postfix}")


class _Progress:
    """One line per finished video; on a terminal, an overall bar below them
    (tqdm's where it is installed)."""

    def __init__(self, stream, total, enabled):
        self.stream, self.total, self.enabled = stream, total, enabled
        self.bar = enabled and hasattr(stream, "isatty") and stream.isatty()
        self.done = self.frames = 0
        self.start = time.monotonic()
        self.tqdm = _tqdm_bar(stream, total) if self.bar else None

    def finished(self, video):
        self.done += 1
        if video.status == "done":
            self.frames += video.frames
        if not self.enabled:
            return
        if video.status == "failed":
            line = f"failed   {video.name}: {video.error}"
        elif video.status == "short":
            line = f"short    {video.name}: {video.frames} frames kept; {video.error}"
        else:
            line = f"{video.status:<8} {video.name}: {video.frames} frames, {video.seconds:.1f} s"
        if self.tqdm is not None:
            self.tqdm.write(line, file=self.stream)
            self.tqdm.update(1)
        else:
            self._write(("\r\x1b[K" if self.bar else "") + line + "\n")
        self.draw()

    def draw(self):
        if not self.bar:
            return
        if self.tqdm is not None:
            elapsed = time.monotonic() - self.start
            fps = self.frames / elapsed if elapsed > 0 else 0.0
            self.tqdm.set_postfix_str(f"{fps:.1f} frames/s")
            return
        width = 30
        filled = width * self.done // max(self.total, 1)
        elapsed = time.monotonic() - self.start
        fps = self.frames / elapsed if elapsed > 0 else 0.0
        self._write(f"\r[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total} videos"
                    f"  {fps:.1f} frames/s ")

    def close(self):
        if self.tqdm is not None:
            self.tqdm.close()
        elif self.bar:
            self._write("\r\x1b[K")

    def _write(self, text):
        self.stream.write(text)
        self.stream.flush()


def summary(result):
    """The table printed at the end: video, frames, seconds, status."""
    width = max([5] + [len(v.name) for v in result.videos])
    lines = [f"{'video':<{width}}  {'frames':>7}  {'seconds':>8}  status"]
    for v in result.videos:
        lines.append(f"{v.name:<{width}}  {v.frames:>7}  {v.seconds:>8.1f}  {v.status}"
                     + (f": {v.error}" if v.error else ""))
    counts = {s: sum(v.status == s for v in result.videos)
              for s in ("done", "skipped", "short", "failed")}
    short = (f"{counts['short']} short (masks kept, input shorter than announced), "
             if counts["short"] else "")
    lines.append(f"{len(result.videos)} videos: {counts['done']} done, {counts['skipped']} "
                 f"skipped (already complete), {short}{counts['failed']} failed; "
                 f"{result.frames_segmented} frames in {result.seconds:.1f} s "
                 f"({result.frames_per_second:.1f} frames/s)")
    return "\n".join(lines) + "\n"


# ------------------------------------------------------------------ the batch

def _usable_cpus():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


class MainGuardError(RuntimeError):
    """A local cluster started from a script's top level without the
    ``if __name__ == "__main__":`` guard."""


def _is_main_guard(test):
    """Whether an ``if`` test reads ``__name__ == "__main__"`` (either way round)."""
    if not (isinstance(test, ast.Compare) and len(test.ops) == 1
            and isinstance(test.ops[0], ast.Eq)):
        return False
    sides = [test.left, test.comparators[0]]
    names = [s for s in sides if isinstance(s, ast.Name) and s.id == "__name__"]
    texts = [s for s in sides if isinstance(s, ast.Constant) and s.value == "__main__"]
    return len(names) == 1 and len(texts) == 1


def _guarded(path, line):
    """Whether `line` of the script `path` lies under an ``if __name__ ==
    "__main__":``; None when the script cannot be read."""
    try:
        with open(path, "rb") as source:
            tree = ast.parse(source.read(), path)
    except (OSError, SyntaxError, ValueError):
        return None
    for node in ast.walk(tree):
        if isinstance(node, ast.If) and _is_main_guard(node.test) and node.body:
            if node.body[0].lineno <= line <= (node.body[-1].end_lineno or line):
                return True
    return False


def _unguarded_call():
    """(script, line) when the batch is being started from the main script's
    top level outside an ``if __name__ == "__main__":`` block, else None.

    A local cluster's worker processes are started afresh and import the main
    script again; a call outside the guard would run again in every one of
    them, each starting a cluster of its own, which Python refuses, and Dask
    starts the failed worker again: the batch never ends. It is refused once
    here instead, before any process is started."""
    main = sys.modules.get("__main__")
    path = getattr(main, "__file__", None)
    if not path:
        return None  # an interactive session: the workers have no script to import
    path = os.path.abspath(path)
    outer = None
    frame = sys._getframe(1)
    while frame is not None:
        if (frame.f_code.co_name == "<module>"
                and os.path.abspath(frame.f_code.co_filename) == path):
            outer = frame
        frame = frame.f_back
    if outer is None:
        return None
    return None if _guarded(path, outer.f_lineno) is not False else (path, outer.f_lineno)


def _refuse_unguarded_call():
    # In a worker process that imports the script again (its main module is
    # "__mp_main__"): refuse at once, before another cluster is started.
    bootstrapping = (multiprocessing.parent_process() is not None
                     and getattr(sys.modules.get("__main__"), "__name__", "") == "__mp_main__")
    found = _unguarded_call()
    if found is None and not bootstrapping:
        return
    where = f" ({found[0]}, line {found[1]})" if found else ""
    raise MainGuardError(
        "a batch on a local cluster must be started under `if __name__ == \"__main__\":` in "
        f"the script{where}: the cluster's worker processes import the script again, and each "
        "would start the batch anew. Write:\n\n    if __name__ == \"__main__\":\n        "
        "corvane.segment_many(...)\n\n(or pass a client of a cluster started elsewhere)")


def local_cluster(workers):
    """A LocalCluster of `workers` processes, one thread each, no dashboard."""
    import distributed
    with warnings.catch_warnings():  # without a dashboard, any free port will do
        warnings.filterwarnings("ignore", "Port .* is already in use")
        return distributed.LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                                        dashboard_address=None)


# The largest values `corvane segment` takes for --threads (the core's cap)
# and --max-frames.
_MAX_THREADS = _core_max_threads
_MAX_FRAMES = 2**31 - 1


def _positive(value, what, largest):
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int) or not 1 <= value <= largest:
        raise BatchError(f"{what} must be a whole number from 1 to {largest}, not {value!r}")
    return value


def _make_output_root(output_root):
    """Creates OUTROOT (and its parents) and makes sure folders can be made
    in it; BatchError, naming the problem, when not."""
    root = os.path.abspath(os.fspath(output_root))
    try:
        os.makedirs(root, exist_ok=True)
    except FileExistsError:
        raise BatchError(f"the output root {root!r} exists and is not a folder") from None
    except NotADirectoryError:
        raise BatchError(f"the output root {root!r} lies under a file, not a folder") from None
    except OSError as error:
        raise BatchError(f"cannot create the output root {root!r}: {error.strerror}") from None
    if not os.path.isdir(root):
        raise BatchError(f"the output root {root!r} is not a folder")
    try:
        os.rmdir(tempfile.mkdtemp(prefix=".corvane-probe-", dir=root))
    except OSError as error:
        raise BatchError(f"cannot write into the output root {root!r}: {error.strerror}") from None
    return root


def run_batch(inputs, output_root, options=(), client=None, scheduler=None, workers=None,
              threads=None, max_frames=None, allow_short=False, force=False, progress=True,
              stream=None, summary_stream=None):
    """The batch behind segment_many and ``python3 -m corvane batch``, with
    the model options in the command's spelling (["--threshold", "0.3"]).
    Progress goes to `stream` (standard error), the closing table to
    `summary_stream` (by default `stream` too)."""
    if client is None and not scheduler:
        _refuse_unguarded_call()  # before anything is checked, written or started
    jobs = plan(inputs, output_root)
    _positive(workers, "workers", 4096)
    _positive(threads, "threads", _MAX_THREADS)
    _positive(max_frames, "max_frames", _MAX_FRAMES)
    if client is not None and (scheduler or workers):
        raise BatchError("give a client, or a scheduler address or worker count, not both")
    check_options(find_command(), options)
    stream = sys.stderr if stream is None else stream
    _make_output_root(output_root)

    import distributed  # only now: importing corvane does not need Dask

    earlier = _working_folders(jobs)

    cluster = own_client = None
    if client is None:
        if scheduler:
            own_client = distributed.Client(scheduler)
        else:
            workers = workers or _usable_cpus()
            cluster = local_cluster(workers)
            own_client = distributed.Client(cluster)
            if threads is None:
                threads = max(1, _usable_cpus() // workers)
        client = own_client
    threads = threads or 1
    segment_options = list(options) + (["--max-frames", str(max_frames)] if max_frames else [])
    segment_options += ["--allow-short"] if allow_short else []
    futures = {}
    try:
        start = time.monotonic()
        for name, path, output in jobs:
            future = client.submit(segment_video, name, path, output, segment_options, threads,
                                   force, key=f"corvane-segment-{name}-{os.urandom(6).hex()}",
                                   pure=False)
            futures[future] = (name, path, output)
        shown = _Progress(stream, len(jobs), progress)
        shown.draw()
        results = {}
        for future in distributed.as_completed(futures):
            name, path, output = futures[future]
            try:
                video = future.result()
            except Exception as error:  # the task itself failed, e.g. its workers kept dying
                video = VideoResult(name, path, output, "failed", 0, 0.0,
                                    f"{type(error).__name__}: {error}")
            results[name] = video
            shown.finished(video)
        shown.close()
        result = BatchResult([results[name] for name, _, _ in jobs], time.monotonic() - start)
    except BaseException:  # Ctrl-C included: nothing of this batch keeps running
        client.cancel(list(futures))
        raise
    finally:
        if own_client is not None:
            own_client.close()
        if cluster is not None:
            cluster.close()
        # Whether it ended or was stopped: it returns once no child of its
        # tasks is left writing.
        _wait_for_leftovers(jobs, earlier)
    if progress:
        out = stream if summary_stream is None else summary_stream
        out.write(summary(result))
        out.flush()
    return result


def segment_many(inputs, output_root, client=None, *, force=False, workers=None, threads=None,
                 max_frames=None, allow_short=False, progress=True, **parameters):
    """Segments every video of `inputs` into ``output_root/<name>/``, one Dask
    task per video, with the masks, files and run record ``corvane segment``
    writes.

    inputs      video files, image patterns (in%06d.jpg) or image folders;
                or a mapping {name: input} to choose the output folders' names
                (by default a file's name without extension, or the folder's).
    client      a ``distributed.Client``; without one, a LocalCluster of
                `workers` processes (default: one per CPU) runs the batch.
    force       segment again videos whose output is already complete (by
                default they are skipped when their run record shows the same
                input and parameters).
    threads     threads of each video's update (default: the CPUs over the
                workers on a local cluster, 1 on a given cluster).
    max_frames  segment only the first max_frames frames of each video.
    allow_short take a video that ends before the length it announces
                (truncated, damaged, or a count that was an estimate) as done;
                by default its masks are kept and its status is "short".
    progress    print a line per finished video, a bar on a terminal and the
                summary to standard error.
    parameters  the model's parameters by their Python names, as for
                BackgroundSubtractor (mask_threshold=0.3, ...).

    Without a client, call it under ``if __name__ == "__main__":`` in a
    script: the local cluster's worker processes import the main module again.
    A call outside the guard is refused at once with MainGuardError (a
    RuntimeError), before anything is written or started.

    Returns a BatchResult; a video that fails is reported there (status
    "failed", with the command's message) and does not stop the others.
    The frames of a video that is shorter than it announced are kept
    (status "short", with the counts in `error`).
    Raises BatchError (a ValueError) for bad inputs or parameters.
    """
    if client is None:
        _refuse_unguarded_call()
    command = find_command()
    return run_batch(inputs, output_root, model_options(command, parameters), client=client,
                     workers=workers, threads=threads, max_frames=max_frames,
                     allow_short=allow_short, force=force, progress=progress)
