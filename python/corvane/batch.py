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

import os
import sys
import tempfile
import time
import warnings

from ._command import check_options, find_command, model_options
from ._corvane import _max_threads as _core_max_threads
from ._guard import MainGuardError, _guarded, _refuse_unguarded_call  # noqa: F401
from ._leftovers import _wait_for_leftovers, _working_folders
from ._plan import plan
from ._progress import _Progress, summary
from ._results import BatchError, BatchResult, VideoResult
from ._task import segment_video

__all__ = ["segment_many", "VideoResult", "BatchResult", "BatchError", "MainGuardError"]

# The exit status of the command line is the number of failed videos, at
# most this many; 125 says the batch could not run at all.
MAX_FAILED_STATUS = 100
STATUS_CANNOT_RUN = 125


def _usable_cpus():
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


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
