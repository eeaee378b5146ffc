#!/usr/bin/env bash
# Builds the Python module `corvane` and installs it for one interpreter:
#   scripts/install-python.sh                  Debian's /usr/bin/python3 (as root)
#   scripts/install-python.sh venv/bin/python  a virtual environment's python
# Installs the Debian packages it needs first (install-deps.sh python), builds
# the module alone (no OpenCV needed) in build/python ($CORVANE_PYTHON_BUILD_DIR
# overrides) and copies the package into the interpreter's site-packages
# (sysconfig's platlib: /usr/local/lib/python3.11/dist-packages for Debian's
# python3). A virtual environment needs the system's NumPy: make it with
# `python3 -m venv --system-site-packages`.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
python="${1:-/usr/bin/python3}"
"$root/scripts/install-deps.sh" python
if ! "$python" -c "import numpy" 2>/dev/null; then
  echo "install-python.sh: $python cannot import numpy (make a virtual environment with --system-site-packages)" >&2
  exit 1
fi
build="${CORVANE_PYTHON_BUILD_DIR:-$root/build/python}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCORVANE_PYTHON_ONLY=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target corvane_python
CORVANE_PYTHON="$python" cmake --install "$build" --component python
cd /
"$python" -c "import corvane; print('installed', corvane.__file__)"
