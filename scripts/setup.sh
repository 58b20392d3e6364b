#!/usr/bin/env bash
# Installs what Dravix needs to build, run and test on Debian, and nothing that is there already.
# This is the only place that lists Debian packages.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libopenjp2-7-dev zlib1g-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fp-utils
  g++-mingw-w64-x86-64
  fonts-liberation2 fontconfig
  xvfb xauth x11-apps
)

# Extra packages for a purpose (benchmarks, screenshots) are named by the caller.
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
