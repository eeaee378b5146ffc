#!/usr/bin/env bash
# Runs Corvane and OpenCV's subtractors at their defaults (MOG2, KNN, and
# GSOC, GMG and CNT from the contrib module bgsegm) side by side on the real
# sequences of the shared data folder (CDnet highway and pedestrians,
# Wallflower WavingTrees and its false alarms), on cold-start clips cut from
# them (51 or 101 frames from the middle, objects in view from the first
# frame, scored from clip frame 26 or 51), and on generated proxies (highway
# at 640x480, a camera shaking from frame 1, the long quiet scene after 300,
# 20,000 and 100,000 quiet frames). Prints one table: sequence, method,
# precision, recall, F-measure, false positive rate, milliseconds per frame;
# writes it, a CSV, a grouped bar chart and contact sheets to build/quality/.
#
#   scripts/quality.sh [--quick] [--only NAME,PREFIX*,KIND,...] [--peers mog2,...]
#                      [--variant NAME:key=value,...] [--no-baselines]
#
# --quick cuts the long sequences to 900 frames and leaves out the clips and
# the 100,000-frame quiet run (for comparing settings; the tables in the docs
# come from a full run). --only takes names, prefixes ending in '*' and the
# kinds real, clip and proxy. Sequences run side by side, one per core; times
# are CPU time per frame, each method timed on the same thread as the others
# on its sequence. The data folder is ../shared/data beside the checkout, or
# $CORVANE_DATA. A full run takes about half an hour of CPU.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
data="${CORVANE_DATA:-$root/../shared/data}"
"$root/scripts/install-deps.sh" demo
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target corvane-quality

out="$root/build/quality"
mkdir -p "$out"
"$root/build/release/tools/quality/corvane-quality" --data "$data" \
  --jobs "$(nproc)" --chart "$out/f-measure.png" --csv "$out/scores.csv" --sheets "$out/sheets" "$@" \
  | tee "$out/table.txt"
echo
echo "Table:  $out/table.txt"
echo "Chart:  $out/f-measure.png"
echo "Sheets: $out/sheets/ (input | probability | mask, per sequence and method)"
