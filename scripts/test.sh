#!/usr/bin/env bash
# Builds Corvane and runs the whole test suite twice: in a release build and
# in an AddressSanitizer + UndefinedBehaviorSanitizer build; then runs the
# two libFuzzer targets for a minute each (CORVANE_FUZZ_SECONDS overrides,
# 0 skips).
# Installs the Debian packages it needs first.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" test || exit 1
jobs="$(nproc)"
status=0

run_suite() {  # name, extra cmake arguments...
  local name="$1"; shift
  local dir="$root/build/$name"
  echo "=== $name build ==="
  cmake -S "$root" -B "$dir" "$@" >/dev/null &&
    cmake --build "$dir" -j "$jobs" &&
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" || status=1
}

run_suite release -DCMAKE_BUILD_TYPE=Release
run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON

fuzz_seconds="${CORVANE_FUZZ_SECONDS:-60}"
if [[ "$fuzz_seconds" != 0 ]]; then
  echo "=== fuzz runs (${fuzz_seconds} s per target) ==="
  mkdir -p "$root/build"
  log="$root/build/fuzz.log"
  if "$root/scripts/fuzz.sh" all "$fuzz_seconds" >"$log" 2>&1; then
    grep -E '^--- |^Done [0-9]+ runs' "$log" || true
  else
    tail -n 60 "$log"
    echo "fuzz run failed; full log in $log"
    status=1
  fi
fi
exit "$status"
