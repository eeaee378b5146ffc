#!/usr/bin/env bash
# Installs the Debian packages a job needs, skipping those already present.
#   install-deps.sh demo   what building and running the main job needs
#   install-deps.sh test   what the whole test suite needs
set -euo pipefail

profile="${1:-test}"
packages=(build-essential cmake pkg-config)
case "$profile" in
  demo) ;;
  test)
    packages+=(googletest libgtest-dev libbenchmark-dev)
    # Robustness checks: the gateway battery in octave-cli (octave-dev gives
    # mkoctfile), the libFuzzer target (clang and its runtime), the soak
    # test's memory measurement (valgrind's massif).
    packages+=(octave octave-dev clang libclang-rt-14-dev valgrind)
    ;;
  *) echo "install-deps.sh: unknown profile '$profile' (demo or test)" >&2; exit 2 ;;
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
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
