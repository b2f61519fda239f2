#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and benchmark; with the argument
# "fuzz", also the compiler and libFuzzer that tools/fuzz.sh needs (CI replays without them).
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  zlib1g-dev libbz2-dev liblzma-dev libmd-dev
  libcli11-dev nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libspng-dev libdivsufsort-dev libxxhash-dev help2man bash-completion
  imagemagick zip unzip gzip bzip2 lbzip2 p7zip-full xvfb xauth x11-apps time eatmydata strace
)
if [ "${1:-}" = fuzz ]; then
  packages+=(clang-14 libclang-rt-14-dev libfuzzer-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
