#!/usr/bin/env bash
# Runs Corvane, OpenCV's MOG2 and KNN side by side on CDnet highway, on the
# proxies generated from it (a shaking camera, foliage in wind, both, light
# drift with JPEG compression, a 640x480 copy) and on the long quiet scene
# (300, 20,000 and 100,000 quiet frames), and prints one table: sequence,
# method, precision, recall, F-measure, milliseconds per frame. Writes the
# table, a CSV, a grouped bar chart and contact sheets to build/quality/.
#
#   scripts/quality.sh [--quick] [--only NAME,...] [--variant NAME:key=value,...]
#
# --quick cuts the highway sequences to 900 frames and leaves out the
# 100,000-frame quiet run (for comparing settings; the tables in the docs come
# from a full run). Sequences run side by side, one per core; times are CPU
# time per frame, each method timed on the same thread as the others on its
# sequence. The highway folder is ../shared/data/cdnet/baseline/highway
# beside the checkout, or $CORVANE_HIGHWAY. A full run takes about ten
# minutes of CPU (nine sequences, 1,700 to 100,079 frames each).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
highway="${CORVANE_HIGHWAY:-$root/../shared/data/cdnet/baseline/highway}"
"$root/scripts/install-deps.sh" demo
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target corvane-quality

out="$root/build/quality"
mkdir -p "$out"
"$root/build/release/tools/quality/corvane-quality" --highway "$highway" \
  --jobs "$(nproc)" --chart "$out/f-measure.png" --csv "$out/scores.csv" --sheets "$out/sheets" "$@" \
  | tee "$out/table.txt"
echo
echo "Table:  $out/table.txt"
echo "Chart:  $out/f-measure.png"
echo "Sheets: $out/sheets/ (input | probability | mask, per sequence and method)"
