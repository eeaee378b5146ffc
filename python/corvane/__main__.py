"""python3 -m corvane batch INPUT... OUTROOT [options]: many videos on Dask;
python3 -m corvane segment|evaluate|parameters ...: the corvane command."""

import argparse
import os
import sys

USAGE = """\
python3 -m corvane batch INPUT... OUTROOT [--scheduler ADDRESS] [--workers N]
                         [--threads N] [--max-frames N] [--allow-short]
                         [--force] [--quiet] [model options]

Segments every INPUT (a video file, an image pattern such as in%06d.jpg or a
folder of images) into OUTROOT/NAME/ exactly as `corvane segment INPUT
OUTROOT/NAME` does, one Dask task per video. NAME is the file's name without
its extension (the folder's name for a folder or pattern); write NAME=INPUT to
choose it. Two inputs with the same NAME are refused.

  --scheduler ADDRESS  run on this Dask cluster (tcp://host:8786); its workers
                       need the corvane package and read access to the inputs
                       and OUTROOT
  --workers N          without --scheduler: worker processes of the local
                       cluster [one per CPU]
  --threads N          threads of each video's update [the CPUs over the
                       workers; 1 with --scheduler]
  --max-frames N       segment the first N frames of each video only
  --allow-short        take a video that ends before the length it announces
                       (truncated, damaged, or a count that was an estimate)
                       as done; without it its masks are kept and it counts
                       as "short" in the exit status
  --force              segment again videos whose output is complete (by
                       default they are skipped when their run record shows
                       the same input and model options)
  --quiet              no progress lines, bar or summary
  model options        as for corvane segment (--threshold 0.3, --map 4x4, ...;
                       `corvane --help` lists them)

Exit status: the number of videos that failed or were short (0: every video
is done; at most 100), 125 when the batch cannot run (bad usage, options or inputs), 130
when interrupted.
"""


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(125, f"python3 -m corvane batch: {message}\n(see python3 -m corvane batch --help)\n")


def _inputs(arguments):
    """Paths, and (NAME, PATH) for NAME=PATH where the argument is not itself a path."""
    inputs = []
    for argument in arguments:
        name, equals, path = argument.partition("=")
        named = equals and name and "/" not in name and not os.path.exists(argument)
        inputs.append((name, path) if named else argument)
    return inputs


def batch(argv):
    from . import batch as b

    parser = _Parser(prog="python3 -m corvane batch", usage=USAGE, add_help=False,
                     allow_abbrev=False)
    parser.add_argument("-h", "--help", action="store_true")
    parser.add_argument("--scheduler")
    parser.add_argument("--workers", type=int)
    parser.add_argument("--threads", type=int)
    parser.add_argument("--max-frames", type=int)
    parser.add_argument("--allow-short", action="store_true")
    parser.add_argument("--force", action="store_true")
    parser.add_argument("--quiet", action="store_true")
    known, rest = parser.parse_known_args(argv)
    if known.help:
        sys.stdout.write(USAGE)
        return 0
    # What is left: the positionals and the model options with their values.
    positional, options = [], []
    i = 0
    while i < len(rest):
        if rest[i].startswith("--") and len(rest[i]) > 2:
            if i + 1 >= len(rest):
                parser.error(f"option {rest[i]} needs a value")
            options += rest[i:i + 2]
            i += 2
        else:
            positional.append(rest[i])
            i += 1
    if len(positional) < 2:
        parser.error("give at least one INPUT and the OUTROOT")
    try:
        result = b.run_batch(_inputs(positional[:-1]), positional[-1], options,
                             scheduler=known.scheduler, workers=known.workers,
                             threads=known.threads, max_frames=known.max_frames,
                             allow_short=known.allow_short, force=known.force, progress=not known.quiet,
                             summary_stream=sys.stdout)
    except b.BatchError as error:
        sys.stderr.write(f"python3 -m corvane batch: {error}\n")
        return b.STATUS_CANNOT_RUN
    except KeyboardInterrupt:
        sys.stderr.write("python3 -m corvane batch: interrupted\n")
        return 130
    return min(len(result.failed) + len(result.short), b.MAX_FAILED_STATUS)


def command(argv):
    """Anything else goes to the corvane command installed with the package:
    python3 -m corvane segment ... is corvane segment ...."""
    from . import batch as b

    try:
        program = b.find_command()
    except b.BatchError as error:
        sys.stderr.write(f"python3 -m corvane: {error}\n")
        return 125
    sys.stdout.flush()
    sys.stderr.flush()
    os.execv(program, [program] + argv)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "batch":
        return batch(argv[1:])
    if argv in (["--version"], ["-V"]):
        from . import __version__
        sys.stdout.write(f"corvane {__version__}\n")
        return 0
    if argv:
        return command(argv)
    sys.stderr.write("usage: python3 -m corvane batch INPUT... OUTROOT [options] "
                     "(python3 -m corvane batch --help)\n"
                     "       python3 -m corvane segment|evaluate|parameters ... "
                     "(the corvane command; python3 -m corvane --help)\n")
    return 125


if __name__ == "__main__":
    sys.exit(main())
