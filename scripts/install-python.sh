#!/usr/bin/env bash
# Builds the Python module `corvane` and installs it for one interpreter:
#   scripts/install-python.sh                  Debian's /usr/bin/python3 (as root)
#   scripts/install-python.sh venv/bin/python  a virtual environment's python
# Installs the Debian packages it needs first (install-deps.sh python), builds
# the module alone (no OpenCV needed) in build/python ($CORVANE_PYTHON_BUILD_DIR
# overrides) and copies the package into the interpreter's site-packages
# (sysconfig's platlib: /usr/local/lib/python3.11/dist-packages for Debian's
# python3), with the corvane command, where OpenCV is installed, linked into
# the interpreter's scripts folder (the environment's bin/, /usr/local/bin).
# The module is built for Debian's /usr/bin/python3 and uses Debian's NumPy,
# so a virtual environment must be made from that interpreter and see the
# system's packages: `/usr/bin/python3 -m venv --system-site-packages DIR`
# (a bare `python3` may be another interpreter that comes first on PATH).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${1:-/usr/bin/python3}"
"$root/scripts/install-deps.sh" python
if ! "$python" -c "import sys" 2>/dev/null; then
  echo "install-python.sh: $python is not a Python interpreter that runs" >&2
  exit 1
fi
# Which interpreter this is, or which one its virtual environment was made
# from, and whether the environment sees the system's packages.
read -r base venv system < <("$python" -c '
import os, sys, sysconfig
base = os.path.realpath(getattr(sys, "_base_executable", sys.executable))
venv = sys.prefix != sys.base_prefix
system = "yes"
config = os.path.join(sys.prefix, "pyvenv.cfg")
if venv and os.path.exists(config):
    for line in open(config):
        key, _, value = line.partition("=")
        if key.strip() == "include-system-site-packages" and value.strip().lower() != "true":
            system = "no"
print(base, "yes" if venv else "no", system)')
debian="$(readlink -f /usr/bin/python3)"
remedy="make the virtual environment with Debian's interpreter: /usr/bin/python3 -m venv --system-site-packages DIR, then scripts/install-python.sh DIR/bin/python"
if [[ "$base" != "$debian" ]]; then
  if [[ "$venv" == yes ]]; then
    what="$python is a virtual environment made from $base, not from Debian's /usr/bin/python3 ($debian)"
  else
    what="$python is $base, not Debian's /usr/bin/python3 ($debian)"
  fi
  echo "install-python.sh: $what; the module is built for Debian's interpreter and its NumPy (python3-numpy); $remedy" >&2
  exit 1
fi
if [[ "$venv" == yes && "$system" == no ]]; then
  echo "install-python.sh: $python is a virtual environment made without --system-site-packages, so it cannot import Debian's NumPy; $remedy" >&2
  exit 1
fi
if ! "$python" -c "import numpy" 2>/dev/null; then
  echo "install-python.sh: $python ($base) cannot import numpy (Debian's python3-numpy)" >&2
  exit 1
fi
build="${CORVANE_PYTHON_BUILD_DIR:-$root/build/python}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCORVANE_PYTHON_ONLY=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target corvane_python
CORVANE_PYTHON="$python" cmake --install "$build" --component python
cd /
"$python" -c "import corvane; print('installed', corvane.__file__)"
