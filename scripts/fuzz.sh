#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer +
# UndefinedBehaviorSanitizer) and runs them.
#   scripts/fuzz.sh [model|sequence|all] [seconds] [libFuzzer options...]
#       run one target, or both one after the other (all, the default), for
#       that many seconds each (default 60)
#   scripts/fuzz.sh merge
#       fold the inputs found by earlier runs into fuzz/corpus/<target>
# Targets: model (CheckModel and the update over arbitrary sizes, counts and
# contents), sequence (long runs of valid models; every value stays finite).
# Inputs that reach new code are written to build/fuzz/new-corpus/<target>,
# never into the repository's corpus; failing inputs go to
# build/fuzz/artifacts/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$root/build/fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j 2 --target corvane_model_fuzzer corvane_sequence_fuzzer >/dev/null
mkdir -p "$dir/new-corpus/model" "$dir/new-corpus/sequence" "$dir/artifacts"

if [[ "${1:-}" == merge ]]; then
  for target in model sequence; do
    "$dir/fuzz/corvane_${target}_fuzzer" -merge=1 "$root/fuzz/corpus/$target" \
      "$dir/new-corpus/$target"
  done
  exit 0
fi

targets=(model sequence)
case "${1:-all}" in
  model|sequence) targets=("$1"); shift ;;
  all) shift || true ;;
esac
seconds="${1:-60}"
shift || true

status=0
for target in "${targets[@]}"; do
  echo "--- $target fuzzer, $seconds s"
  # -max_len keeps every input (and so every model) small and each run fast.
  "$dir/fuzz/corvane_${target}_fuzzer" "$dir/new-corpus/$target" "$root/fuzz/corpus/$target" \
    -max_total_time="$seconds" -max_len=4096 -timeout=30 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$target-" "$@" || status=1
done
exit "$status"
