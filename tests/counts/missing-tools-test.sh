#!/usr/bin/env bash
# Configures the project in WORK with every program but the compilers hidden
# (Octave, mkoctfile, valgrind, MinGW-w64, Wine) and Google Benchmark turned
# off, runs the tests that need those tools, and checks that every one of
# them reports itself skipped with its reason and that scripts/ctest-counts.sh
# counts them as skipped, not as passed.
#
#   missing-tools-test.sh SOURCE WORK GENERATOR MAKE CC CXX
set -uo pipefail

source_dir="$1" work="$2" generator="$3" make="$4" cc="$5" cxx="$6"
fail() { echo "FAILED: $*"; exit 1; }

expected=(corvane_bench_smoke corvane_bench_fails_on_disagreement
          soak.memcheck soak.massif
          mex_symbols_octave matlab_reference_cases octave_gateway_matches_core
          octave_gateway_contract octave_gateway_errors octave_gateway_shared_copy_refused
          octave_toolbox_matches_setup octave_toolbox_scene
          matlab_build_script_with_octave_mex robustness.gateway_battery
          windows_wine_prefix windows_mex_win64_under_wine windows_mex_win32_under_wine
          windows_mex_import_export_tables)

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

# Exactly these tests, by name (dots are literal).
pattern="^($(IFS='|'; sed 's/\./\\./g' <<<"${expected[*]}"))\$"
ctest --test-dir "$tree" -R "$pattern" >"$work/ctest.txt" 2>&1
cat "$work/ctest.txt"
counts="$("$source_dir/scripts/ctest-counts.sh" "$work/ctest.txt" \
          "$tree/Testing/Temporary/LastTest.log")" || fail "no CTest summary"
echo "--- counted"
echo "$counts"

status=0
first="$(head -n 1 <<<"$counts")"
[[ "$first" == "0 0 ${#expected[@]}" ]] ||
  { echo "FAILED: counted passed/failed/skipped as '$first', not '0 0 ${#expected[@]}'"; status=1; }
for name in "${expected[@]}"; do
  line="$(awk -v name="$name" 'index($0, name ": ") == 1' <<<"$counts")"
  if [[ -z "$line" ]]; then
    echo "FAILED: $name is not listed as skipped"; status=1
  elif [[ "$line" == *"no reason given"* || "$line" != *"not found"* && "$line" != *missing* ]]; then
    echo "FAILED: $name gives no reason naming the missing tool: $line"; status=1
  fi
done
((status == 0)) && echo "every suite without its tools reports itself skipped"
exit "$status"
