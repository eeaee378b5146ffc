#!/usr/bin/env bash
# Builds the release configuration and runs the update benchmarks twice, so
# the run-to-run noise is visible next to the figures. Extra arguments go to
# the benchmark program, e.g. --benchmark_filter=SideBySide/H:480
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" test
dir="$root/build/release"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j 2 --target corvane_bench >/dev/null
for run in 1 2; do
  echo "=== run $run ==="
  "$dir/bench/corvane_bench" "$@"
done
