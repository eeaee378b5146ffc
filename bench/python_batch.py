#!/usr/bin/python3
"""Many videos: a batch on a local Dask cluster against the same videos one
after another, side by side in one run.

    bench/python_batch.py [--copies 8] [--workers 2] [--rounds 2] [--clip FILE]

Each round segments COPIES copies of the clip (default: the sample clip) with
  - `corvane segment` one after another, on every CPU (the command's default)
    and on one thread;
  - `python3 -m corvane batch` with WORKERS worker processes, timed from the
    command line to its exit (cluster start-up included);
  - segment_many on a cluster started before the clock (start-up excluded).
The package comes from the installed module or PYTHONPATH (a build tree's
build/<dir>/python); the command is $CORVANE_COMMAND or the package's.
Prints each round and the median ratio of the batch to one after another.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from corvane import batch

HERE = os.path.dirname(os.path.abspath(__file__))


def children_cpu():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def timed(run):
    """Wall seconds, and the CPU seconds of the processes the run started and
    waited for (the command's runs, the batch's workers and their commands;
    not a cluster that keeps running)."""
    start, cpu = time.monotonic(), children_cpu()
    run()
    return time.monotonic() - start, children_cpu() - cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--copies", type=int, default=8)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--clip", default=os.path.join(HERE, "..", "data", "sample",
                                                       "highway-160x120.avi"))
    args = parser.parse_args()
    command = batch.find_command()
    scratch = tempfile.mkdtemp(prefix="corvane-batch-bench-")
    try:
        clips = []
        for i in range(args.copies):
            clips.append(os.path.join(scratch, f"clip{i + 1}.avi"))
            shutil.copyfile(args.clip, clips[-1])

        def one_after_another(threads):
            def run():
                out = os.path.join(scratch, f"seq{threads}")
                for clip in clips:
                    name = os.path.splitext(os.path.basename(clip))[0]
                    subprocess.run([command, "segment", clip, os.path.join(out, name), "--quiet",
                                    "--threads", str(threads)], check=True,
                                   stdout=subprocess.DEVNULL)
            return run

        def batch_command():
            run = subprocess.run([sys.executable, "-m", "corvane", "batch", *clips,
                                  os.path.join(scratch, "cli"), "--workers", str(args.workers),
                                  "--force", "--quiet"],
                                 env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
            assert run.returncode == 0

        import distributed
        cluster = batch.local_cluster(args.workers)
        client = distributed.Client(cluster)
        threads = max(1, len(os.sched_getaffinity(0)) // args.workers)

        def batch_warm():
            result = batch.segment_many(clips, os.path.join(scratch, "warm"), client, force=True,
                                        threads=threads, progress=False)
            assert not result.failed

        rows, cpu_rows = [], []
        names = ["one after another, all CPUs", "one after another, 1 thread",
                 f"batch, {args.workers} workers, with start-up",
                 f"batch, {args.workers} workers, cluster running"]
        runs = [one_after_another(0), one_after_another(1), batch_command, batch_warm]
        for r in range(args.rounds):
            # Each round starts with another run: a machine whose load drifts
            # does not favour one of them.
            times, cpus = [0.0] * len(runs), [0.0] * len(runs)
            for k in range(len(runs)):
                i = (r + k) % len(runs)
                times[i], cpus[i] = timed(runs[i])
            rows.append(times)
            cpu_rows.append(cpus)
            print(f"round {r + 1} (load average {os.getloadavg()[0]:.1f}): " +
                  ", ".join(f"{n} {t:.2f} s" for n, t in zip(names, times)), flush=True)
        client.close()
        cluster.close()

        print(f"\n{args.copies} copies of {os.path.basename(args.clip)}, "
              f"{len(os.sched_getaffinity(0))} CPUs, median of {args.rounds} rounds")
        print("| run | seconds | ratio to one after another, all CPUs | ... on 1 thread "
              "| CPU seconds |")
        print("|---|---|---|---|---|")
        for i, name in enumerate(names):
            seconds = statistics.median(row[i] for row in rows)
            ratios = [statistics.median(row[i] / row[base] for row in rows) for base in (0, 1)]
            cpu = statistics.median(row[i] for row in cpu_rows) if i < 3 else None
            print(f"| {name} | {seconds:.2f} | {ratios[0]:.2f} | {ratios[1]:.2f} | "
                  + (f"{cpu:.1f} |" if cpu is not None else "(not measured) |"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
