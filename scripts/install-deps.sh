#!/usr/bin/env bash
# Installs the Debian packages a job needs, skipping those already present.
#   install-deps.sh demo   what building and running the main job needs
#   install-deps.sh test   what the whole test suite needs
#   install-deps.sh windows  what cross-building the Windows MEX files needs
#   install-deps.sh python   what building and installing the Python module needs
#   install-deps.sh batch    ... with the corvane command and Dask, for batches
set -euo pipefail

profile="${1:-test}"
packages=(build-essential cmake pkg-config)
# The model file (a MATLAB MAT-file) that the command, the Python module and
# the MATLAB/Octave detector save and resume: libmatio (with zlib).
packages+=(libmatio-dev zlib1g-dev)
# MinGW-w64 cross compilers (and dlltool, objdump) for Corvane.mexw64/.mexw32.
# The Python module: pybind11 and Debian's python3 with its headers and NumPy,
# and pip for `pip install --no-build-isolation .` (pyproject.toml).
python_packages=(python3 python3-dev pybind11-dev python3-numpy python3-pip)
# A batch's progress bar on a terminal (without it, a plainer one).
batch_python_packages=(python3-dask python3-distributed python3-tqdm)
windows_packages=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 mingw-w64-tools)
case "$profile" in
  demo)
    # OpenCV reads the sample clip and writes the masks and the contact sheet;
    # its contrib module bgsegm has the GSOC, GMG, CNT and LSBP subtractors.
    packages+=(libopencv-dev libopencv-contrib-dev)
    ;;
  windows) packages+=("${windows_packages[@]}") ;;
  python) packages+=("${python_packages[@]}") ;;
  # Many videos on Dask (python3 -m corvane batch): the module, Dask, and
  # OpenCV, which the corvane command the package then carries is built with
  # (scripts/install-python.sh builds it where OpenCV is installed).
  batch) packages+=("${python_packages[@]}" libopencv-dev libopencv-contrib-dev "${batch_python_packages[@]}") ;;
  test)
    packages+=(googletest libgtest-dev libbenchmark-dev libopencv-dev libopencv-contrib-dev)
    # GNU Octave runs the MEX gateway, the MATLAB toolbox and its build script
    # in the tests; octave-dev brings mkoctfile and the MEX headers. octave-cli
    # needs none of octave's Recommends (plotting, Java, docs).
    packages+=(octave octave-dev)
    # The correctly rounded exp and log are checked against GNU MPFR, and
    # their tables against the generator (mpmath, Debian's python3).
    packages+=(libmpfr-dev python3 python3-mpmath)
    # The Python module's tests: pytest, a virtual environment to install
    # into, build (python3 -m build makes the sdist and the wheel) and
    # OpenCV's Python binding to read the sample clip and run MOG2.
    packages+=("${python_packages[@]}" python3-pytest python3-venv python3-build python3-opencv)
    # Many videos on a local Dask cluster (python3 -m corvane batch).
    packages+=("${batch_python_packages[@]}")
    # Robustness checks: the libFuzzer targets (clang and its runtime) and the
    # soak test's memory measurements (valgrind's memcheck and massif).
    packages+=(clang libclang-rt-14-dev valgrind)
    # The Windows MEX files run under Wine; 32-bit Windows programs need
    # wine32 from the i386 architecture.
    packages+=("${windows_packages[@]}" wine wine64 wine32:i386)
    ;;
  *) echo "install-deps.sh: unknown profile '$profile' (demo, test, windows, python or batch)" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps.sh: missing Debian packages: ${missing[*]} (run as root to install)" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Packages of the i386 architecture need it enabled (once) before the
  # package lists are fetched.
  if [[ " ${missing[*]}" == *":i386"* ]] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one index now and then: try again, then go
  # on with the lists that did arrive; the install below says if a package
  # cannot be had.
  for attempt in 1 2 3; do
    apt-get update -q && break
    echo "install-deps.sh: apt-get update failed (attempt $attempt of 3)" >&2
    sleep $((attempt * 5))
  done
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    # The 32-bit packages need their lists to match the 64-bit ones exactly;
    # when a mirror lacks them, install the rest and let the 32-bit tests
    # say why they skip.
    native=()
    for package in "${missing[@]}"; do
      [[ "$package" == *":i386" ]] || native+=("$package")
    done
    ((${#native[@]} < ${#missing[@]})) || exit 1
    echo "install-deps.sh: the i386 packages cannot be installed now; installing the others" >&2
    apt-get install -y -q --no-install-recommends "${native[@]}" || exit 1
  fi
fi
