"""A batch's plan: the output folder's name of every input, checked so that
no two inputs write the same folder."""

import os
import re

from ._results import BatchError


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
