#!/usr/bin/env bash
# Builds Corvane and runs the whole test suite twice: in a release build and
# in an AddressSanitizer + UndefinedBehaviorSanitizer build; then runs the
# two libFuzzer targets for a minute each (CORVANE_FUZZ_SECONDS overrides,
# 0 skips). Installs the Debian packages it needs first. Ends with one line
# that sums up every suite: "N passed, N failed".
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" test || exit 1
jobs="$(nproc)"
status=0
passed=0
failed=0

run_suite() {  # name, extra cmake arguments...
  local name="$1"; shift
  local dir="$root/build/$name"
  local log="$root/build/$name-ctest.log"
  echo "=== $name build ==="
  mkdir -p "$root/build"
  if ! { cmake -S "$root" -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j "$jobs"; }; then
    echo "the $name build failed"
    status=1
    failed=$((failed + 1))
    return
  fi
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  # "100% tests passed, 0 tests failed out of 40"
  local summary
  summary="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)"
  if [[ -z "$summary" ]]; then
    status=1
    failed=$((failed + 1))
    return
  fi
  local bad total
  bad="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")"
  total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")"
  passed=$((passed + total - bad))
  failed=$((failed + bad))
}

# BUILD_TESTING explicitly: scripts/demo.sh configures build/release without
# the tests, and a cached OFF would otherwise leave nothing to run.
run_suite release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON -DBUILD_TESTING=ON

fuzz_seconds="${CORVANE_FUZZ_SECONDS:-60}"
if [[ "$fuzz_seconds" != 0 ]]; then
  echo "=== fuzz runs (${fuzz_seconds} s per target) ==="
  mkdir -p "$root/build"
  log="$root/build/fuzz.log"
  if "$root/scripts/fuzz.sh" all "$fuzz_seconds" >"$log" 2>&1; then
    grep -E '^--- |^Done [0-9]+ runs' "$log" || true
    passed=$((passed + 1))
  else
    tail -n 60 "$log"
    echo "fuzz run failed; full log in $log"
    status=1
    failed=$((failed + 1))
  fi
fi

echo
echo "test.sh: ${passed} passed, ${failed} failed"
exit "$status"
