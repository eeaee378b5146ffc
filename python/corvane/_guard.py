"""The main-module guard: a batch on a local cluster started from a script's
top level, outside ``if __name__ == "__main__":``, is refused before
anything starts."""

import ast
import multiprocessing
import os
import sys


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
