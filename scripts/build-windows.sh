#!/usr/bin/env bash
# Cross-builds the MATLAB MEX files for Windows with Debian's MinGW-w64:
#   build/win64/Corvane.mexw64, CorvaneDetectorMex.mexw64   64-bit MATLAB on Windows
#   build/win32/Corvane.mexw32, CorvaneDetectorMex.mexw32   32-bit MATLAB on Windows
# Installs the Debian packages it needs first (the "windows" profile of
# scripts/install-deps.sh). Extra arguments go to both CMake configurations.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" windows
jobs="$(nproc)"
((jobs > 2)) && jobs=2

build() {  # directory, toolchain file, suffix
  cmake -S "$root" -B "$root/build/$1" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$2" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "${@:4}" >/dev/null
  cmake --build "$root/build/$1" -j "$jobs" --target corvane_mex_windows \
        --target corvane_detector_mex_windows
  echo "built $root/build/$1/Corvane$3 and $root/build/$1/CorvaneDetectorMex$3"
}

build win64 toolchain-mingw-w64-x86_64.cmake .mexw64 "$@"
build win32 toolchain-mingw-w64-i686.cmake .mexw32 "$@"
