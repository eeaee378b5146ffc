"""The ``corvane`` command a batch runs: where it is, and its parameter table
and options, checked by the command itself."""

import numbers
import os
import shutil
import subprocess

from ._results import BatchError


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
