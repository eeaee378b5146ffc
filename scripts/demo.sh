#!/usr/bin/env bash
# Builds Corvane and runs the main job: segments the sample clip that ships
# with the project (data/sample, 300 frames of the CDnet "highway" sequence)
# and writes one mask per frame, the foreground probabilities and a contact
# sheet to look at. Installs the Debian packages it needs first.
#
#   scripts/demo.sh [extra options for corvane segment, e.g. --threshold 0.3]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" demo
# No BUILD_TESTING here: the folder is the one the guides build the tests in
# later (without GoogleTest installed the configure leaves them out by itself).
cmake -S "$root" -B "$root/build/release" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build/release" -j "$(nproc)" --target corvane

corvane="$root/build/release/tools/corvane"
out="$root/build/demo/highway-sample"
"$corvane" segment "$root/data/sample/highway-160x120.avi" "$out" --probability --sheet 4 "$@"
echo
echo "Masks:         $out/000001.png ... (0 background, 255 foreground)"
echo "Probabilities: $out/probability/"
echo "Contact sheet: $out/contact-sheet.png"
echo "More: $corvane --help"
echo "On PATH: cmake --install $root/build/release --component command   # /usr/local/bin/corvane"
