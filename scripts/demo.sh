#!/usr/bin/env bash
# Builds Corvane and runs the main job on its built-in input. Installs the
# Debian packages it needs first.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" demo
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target corvane_synthetic_demo
"$root/build/release/examples/corvane_synthetic_demo" "$@"
