#!/usr/bin/env bash
# Installs the Debian packages a job needs, skipping those already present.
#   install-deps.sh demo   what building and running the main job needs
#   install-deps.sh test   what the whole test suite needs
set -euo pipefail

profile="${1:-test}"
packages=(build-essential cmake pkg-config)
case "$profile" in
  demo)
    packages+=(libopencv-dev)
    ;;
  test)
    packages+=(googletest libgtest-dev libbenchmark-dev libopencv-dev)
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
