#!/usr/bin/env bash
# Builds the release configuration and runs the benchmarks twice, so the
# run-to-run noise is visible next to the figures:
#   - the update benchmarks (corvane_bench; extra arguments go to it, e.g.
#     --benchmark_filter=SideBySide/H:480): the reference, the pixel-by-pixel
#     update the vector kernels replaced, UpdateModel on one and every
#     thread, and every vector path (scalar, SSE2, AVX2, AVX-512) on one
#     thread beside the fastest path's kernels as they were before the fixed
#     neuron counts (Paths' "before"), bits checked;
#   - Python's apply() against OpenCV's GSOC, MOG2, KNN and CNT in one
#     process, taking turns, at 320x240, 640x480 and 1280x720 on 1 and 2
#     threads (bench/python_peers.py);
#   - the hosts' table (bench/octave/benchHosts.m in Octave): the four-pass
#     reference and UpdateModel, the struct call Corvane and the detector
#     object's step in Octave, and OpenCV's MOG2 and KNN, on one thread and on
#     every thread, side by side on the same frames at 320x240, 640x480 and
#     1280x720 with K = 9 and 16.
#
#   bench/run.sh [corvane_bench arguments...]
#   bench/run.sh --hosts [benchHosts arguments, as Octave expressions]
#       the hosts' table only, e.g. bench/run.sh --hosts "'sizes', [480 640], 'maps', 3"
#   bench/run.sh --peers [python_peers.py arguments]
#       the Python table only, e.g. bench/run.sh --peers --sizes 640x480
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" test
dir="$root/build/release"
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null

hosts_only=0
peers_only=0
hosts_arguments=""
peers_arguments=()
if [[ "${1:-}" == "--hosts" ]]; then
  hosts_only=1
  shift
  hosts_arguments="$*"
  set --
elif [[ "${1:-}" == "--peers" ]]; then
  peers_only=1
  shift
  peers_arguments=("$@")
  set --
fi

targets=()
((peers_only)) || targets+=(corvane_oct_octave corvane_detector_mex_octave corvane_host_bench)
((hosts_only || peers_only)) || targets+=(corvane_bench)
((hosts_only)) || targets+=(corvane_python)
cmake --build "$dir" -j 2 --target "${targets[@]}" >/dev/null

peers_table() {
  echo "--- Python apply() and OpenCV's subtractors, milliseconds per frame (in brackets: apply's time over GSOC's, and on 2 threads over its own on 1) ---"
  PYTHONPATH="$dir/python" /usr/bin/python3 "$root/bench/python_peers.py" "${peers_arguments[@]}"
}

hosts_table() {
  # Octave 7 prints this line at every exit, successful or not.
  octave-cli --norc --quiet --no-window-system \
    --eval "addpath('$dir/mex.mex', '$dir/bench/octave'); benchHosts(${hosts_arguments});" 2>&1 |
    grep -v 'ignoring const execution_exception'
}

for run in 1 2; do
  echo "=== run $run ==="
  if ((peers_only)); then
    peers_table
    continue
  fi
  ((hosts_only)) || "$dir/bench/corvane_bench" "$@"
  ((hosts_only)) || peers_table
  echo "--- hosts, milliseconds per frame (in brackets: the ratio to UpdateModel at the same thread count; for UpdateModel on every thread, to its time on one) ---"
  hosts_table
done
