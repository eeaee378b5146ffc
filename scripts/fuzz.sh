#!/usr/bin/env bash
# Builds the libFuzzer target over the core's model check and update (clang,
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs it.
#   scripts/fuzz.sh [seconds] [libFuzzer options...]   run for that long (default 60)
#   scripts/fuzz.sh merge                                fold the inputs found by
#                                                        earlier runs into fuzz/corpus
# Inputs that reach new code are written to build/fuzz/new-corpus, never into
# the repository's corpus; failing inputs go to build/fuzz/artifacts/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
dir="$root/build/fuzz"
fuzzer="$dir/fuzz/corvane_model_fuzzer"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$dir" -j 2 --target corvane_model_fuzzer >/dev/null
mkdir -p "$dir/new-corpus" "$dir/artifacts"

if [[ "${1:-}" == merge ]]; then
  exec "$fuzzer" -merge=1 "$root/fuzz/corpus" "$dir/new-corpus"
fi
seconds="${1:-60}"
shift || true
# -max_len keeps every input (and so every model) small and each run fast.
exec "$fuzzer" "$dir/new-corpus" "$root/fuzz/corpus" -max_total_time="$seconds" \
  -max_len=4096 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$dir/artifacts/" "$@"
