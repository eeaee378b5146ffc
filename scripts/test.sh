#!/usr/bin/env bash
# Builds Corvane and runs the whole test suite twice: in a release build and
# in an AddressSanitizer + UndefinedBehaviorSanitizer build; then the threaded
# tests (the core's worker threads, the setup's threaded steps, the detector,
# the Python module from several threads with the GIL released) in a
# ThreadSanitizer build of just what they need; then runs the two libFuzzer
# targets for a minute each (CORVANE_FUZZ_SECONDS overrides, 0 skips). Installs the Debian packages it needs first. Ends with the tests
# that were skipped, each with its reason, and one line that sums up every
# suite: "test.sh: N passed, N failed, N skipped". A test skips itself only
# where a tool it needs is missing (or, for the 32-bit Windows MEX file, where
# the kernel cannot run 32-bit programs); after the installer, nothing else is.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" test || exit 1
jobs="$(nproc)"
status=0
passed=0
failed=0
skipped=0
skipped_list=()

# run_suite name, extra cmake arguments...: builds everything and runs every
# test; with suite_targets set (names separated by spaces) builds only those
# targets, and with suite_tests set runs only the tests it matches (ctest -R).
run_suite() {
  local name="$1"; shift
  local dir="$root/build/$name"
  local log="$root/build/$name-ctest.log"
  local targets=() select=()
  local target
  for target in ${suite_targets:-}; do targets+=(--target "$target"); done
  [[ -n "${suite_tests:-}" ]] && select=(-R "$suite_tests")
  echo "=== $name build ==="
  mkdir -p "$root/build"
  if ! { cmake -S "$root" -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j "$jobs" "${targets[@]}"; }; then
    echo "the $name build failed"
    status=1
    failed=$((failed + 1))
    return
  fi
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "${select[@]}" 2>&1 | tee "$log"
  [[ ${PIPESTATUS[0]} -eq 0 ]] || status=1
  local counts
  if ! counts="$("$root/scripts/ctest-counts.sh" "$log" "$dir/Testing/Temporary/LastTest.log")"; then
    status=1
    failed=$((failed + 1))
    return
  fi
  local good bad skips line
  read -r good bad skips <<<"$(head -n 1 <<<"$counts")"
  passed=$((passed + good))
  failed=$((failed + bad))
  skipped=$((skipped + skips))
  while IFS= read -r line; do
    skipped_list+=("$name: $line")
  done < <(tail -n +2 <<<"$counts")
}

# BUILD_TESTING explicitly: scripts/demo.sh configures build/release without
# the tests, and a cached OFF would otherwise leave nothing to run.
run_suite release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON -DBUILD_TESTING=ON
# Any race ThreadSanitizer sees fails the test that met it (exit code 66).
suite_targets="corvane_core_tests corvane_setup_tests corvane_detector_memory_tests corvane_python" \
suite_tests='^(UpdateThreads|WorkerThreads|StreamThreadsTest|ThresholdMaskTest|Threads/DetectorMemoryTest)\.|^python\.threads$' \
TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1" \
  run_suite tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_TSAN=ON -DBUILD_TESTING=ON

fuzz_seconds="${CORVANE_FUZZ_SECONDS:-60}"
if [[ "$fuzz_seconds" == 0 ]]; then
  skipped=$((skipped + 1))
  skipped_list+=("fuzz runs: CORVANE_FUZZ_SECONDS=0")
elif ! command -v clang++ >/dev/null; then
  skipped=$((skipped + 1))
  skipped_list+=("fuzz runs: clang++ (Debian's clang) not found")
else
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
if ((skipped > 0)); then
  echo "Skipped:"
  printf '  %s\n' "${skipped_list[@]}"
fi
echo "test.sh: ${passed} passed, ${failed} failed, ${skipped} skipped"
exit "$status"
