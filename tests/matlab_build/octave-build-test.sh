#!/usr/bin/env bash
# Runs check_corvane_build.m in octave-cli: builds the MEX file with
# matlab/corvane_build.m (Octave's own mex) into a temporary folder and calls
# it. Passes only on the check's success line and a zero exit status.
#   octave-build-test.sh OCTAVE_CLI SOURCE_ROOT
set -uo pipefail
octave="$1" root="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
log="$work/log"
(cd "$work" && "$octave" --no-init-file --no-site-file --quiet --no-window-system \
   --eval "addpath('$root/matlab', '$root/tests/matlab_build'); check_corvane_build('$work/out');") \
   >"$log" 2>&1
status=$?
# Octave 7 prints this at every exit, successful or not.
grep -v '^error: ignoring const execution_exception while preparing to exit$' "$log"
if ((status != 0)); then
  echo "octave exited with status $status"; exit 1
fi
grep -q '^CORVANE BUILD SCRIPT OK' "$log" || { echo "the check did not finish"; exit 1; }
