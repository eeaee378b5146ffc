#!/usr/bin/env bash
# Counts one CTest run: CTest's own summary line ("100% tests passed, 0 tests
# failed out of 40") counts the tests that skipped themselves as passed.
#
#   ctest-counts.sh CTEST_OUTPUT LAST_TEST_LOG
#
# CTEST_OUTPUT is what ctest printed, LAST_TEST_LOG the build tree's
# Testing/Temporary/LastTest.log (it holds every test's output, and so the
# "SKIPPED: reason" line of each skipped test). Prints "PASSED FAILED SKIPPED"
# on the first line, then "name: reason" for every skipped test. Exits 1 when
# CTEST_OUTPUT holds no summary (ctest did not get to run the tests).
set -uo pipefail

output="$1" log="$2"
summary="$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$output" | tail -n 1)"
if [[ -z "$summary" ]]; then
  echo "ctest-counts.sh: no CTest summary in $output" >&2
  exit 1
fi
failed="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")"
total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")"

# Listed after the summary as "	 12 - name (Skipped)".
names=()
mapfile -t names < <(sed -nE 's/^[[:space:]]*[0-9]+ - (.+) \(Skipped\)$/\1/p' "$output")

echo "$((total - failed - ${#names[@]})) $failed ${#names[@]}"
for name in "${names[@]}"; do
  reason="$(awk -v name="$name" '
    /^[0-9]+\/[0-9]+ Test: / { sub(/^[0-9]+\/[0-9]+ Test: /, ""); current = $0; next }
    /^SKIPPED: / && current == name { sub(/^SKIPPED: /, ""); print; exit }' "$log" 2>/dev/null)"
  echo "$name: ${reason:-no reason given}"
done
