#!/usr/bin/env bash
# Builds Corvane and runs the whole test suite twice: in a release build and
# in an AddressSanitizer + UndefinedBehaviorSanitizer build. Installs the
# Debian packages it needs first.
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
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" || status=1
}

# BUILD_TESTING explicitly: scripts/demo.sh configures build/release without
# the tests, and a cached OFF would otherwise leave nothing to run.
run_suite release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON
run_suite sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE=ON -DBUILD_TESTING=ON
exit "$status"
