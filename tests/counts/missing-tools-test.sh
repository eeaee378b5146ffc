#!/usr/bin/env bash
# Configures the project in WORK with every program but the compilers hidden
# (Octave, mkoctfile, valgrind, MinGW-w64, Wine) and Google Benchmark turned
# off, then checks against the build tree FULL, which has them all:
#   - every test of FULL (GoogleTest cases aside, which are discovered only
#     once built) is registered there too: no suite vanishes;
#   - every test that stands in for a missing tool reports itself skipped,
#     with a reason that names what is missing, and scripts/ctest-counts.sh
#     counts it as skipped, not passed; one test of each suite is among them.
#
#   missing-tools-test.sh SOURCE FULL WORK GENERATOR MAKE CC CXX
set -uo pipefail

source_dir="$1" full="$2" work="$3" generator="$4" make="$5" cc="$6" cxx="$7"
python=/usr/bin/python3
fail() { echo "FAILED: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work"
tree="$work/tree"
if ! cmake -S "$source_dir" -B "$tree" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make" \
     -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" -DBUILD_TESTING=ON \
     "-DCMAKE_IGNORE_PATH=/usr/bin;/bin;/usr/local/bin;/usr/sbin;/sbin;/usr/lib/wine;/usr/lib64/wine" \
     -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >"$work/configure.log" 2>&1; then
  cat "$work/configure.log"
  fail "configuring without the optional tools"
fi

# Test names from a tree's registry: all but GoogleTest cases, or only the
# stand-ins (registered by corvane_skipped_test).
names() {  # tree, all|stand-ins
  ctest --test-dir "$1" --show-only=json-v1 | "$python" -c '
import json, sys
kind = sys.argv[1]
for test in json.load(sys.stdin)["tests"]:
    command = " ".join(test.get("command") or [])
    if "--gtest_filter" in command or test["name"].endswith("_NOT_BUILT"):
        continue
    if kind == "all" or "SKIPPED: " in command:
        print(test["name"])' "$2" | sort
}

# FULL's registry read from a copy: ctest rewrites the log of the tree it
# is pointed at, and FULL's own ctest run (this test's caller) is writing it.
registry="$work/full-registry"
(cd "$full" && find . -name CTestTestfile.cmake) | while read -r file; do
  mkdir -p "$registry/$(dirname "$file")"
  cp "$full/$file" "$registry/$file"
done

status=0
vanished="$(comm -23 <(names "$registry" all) <(names "$tree" all))"
if [[ -n "$vanished" ]]; then
  echo "FAILED: registered with the tools but not without them:"; echo "$vanished"; status=1
fi

mapfile -t standins < <(names "$tree" stand-ins)
((${#standins[@]} > 0)) || fail "no test stands in for a missing tool"
for name in corvane_bench_smoke soak.memcheck mex_symbols_octave octave_gateway_errors \
            matlab_build_script_with_octave_mex robustness.gateway_battery \
            windows_mex_win64_under_wine; do
  printf '%s\n' "${standins[@]}" | grep -qxF "$name" ||
    { echo "FAILED: $name does not report itself skipped"; status=1; }
done

# Exactly these tests, by name (dots are literal).
pattern="^($(IFS='|'; sed 's/\./\\./g' <<<"${standins[*]}"))\$"
ctest --test-dir "$tree" -R "$pattern" >"$work/ctest.txt" 2>&1
cat "$work/ctest.txt"
counts="$("$source_dir/scripts/ctest-counts.sh" "$work/ctest.txt" \
          "$tree/Testing/Temporary/LastTest.log")" || fail "no CTest summary"
echo "--- counted"
echo "$counts"
first="$(head -n 1 <<<"$counts")"
[[ "$first" == "0 0 ${#standins[@]}" ]] ||
  { echo "FAILED: counted passed/failed/skipped as '$first', not '0 0 ${#standins[@]}'"; status=1; }
for name in "${standins[@]}"; do
  line="$(awk -v name="$name" 'index($0, name ": ") == 1' <<<"$counts")"
  if [[ -z "$line" ]]; then
    echo "FAILED: $name is not listed as skipped"; status=1
  elif [[ "$line" != *"not found"* && "$line" != *missing* ]]; then
    echo "FAILED: $name gives no reason naming the missing tool: $line"; status=1
  fi
done
((status == 0)) && echo "every suite without its tools reports itself skipped"
exit "$status"
