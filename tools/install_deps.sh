#!/usr/bin/env bash
# install_deps.sh: installs the Debian packages the project builds with, when they are missing.
# As root it runs apt-get itself; otherwise it prints the exact command and fails.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev libjpeg-dev
  libfreetype-dev libfontconfig-dev fonts-ipafont-gothic fonts-dejavu-core fonts-liberation2
  libosmesa6-dev libassimp-dev libsquish-dev
  liblua5.4-dev libsdl2-dev
  clang python3
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "missing packages: ${missing[*]}" >&2
  echo "run: sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi
