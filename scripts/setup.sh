#!/usr/bin/env bash
# Installs what Dravix needs on Debian, and nothing that is there already.
# This is the only place that lists Debian packages.
#   setup.sh run   what building and running the program needs (scripts/run.sh)
#   setup.sh test  that, and what the tests and checks need in addition (scripts/test.sh)
# Further packages for a purpose (benchmarks, screenshots) may follow the mode.
set -euo pipefail

mode=${1:-test}
case "$mode" in
  run | test) shift || true ;;
  *) mode=test ;;
esac

# Building and running.
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libopenjp2-7-dev zlib1g-dev
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fp-utils help2man file
  fonts-liberation2 fontconfig
)

# Testing: the Windows cross-build check, the display for screenshots and window checks, and the
# checks of the Debian package (scripts/check-package.sh).
test_packages=(
  g++-mingw-w64-x86-64
  xvfb xauth x11-apps x11-utils
  lintian desktop-file-utils appstream man-db
)

if [ "$mode" = test ]; then packages+=("${test_packages[@]}"); fi
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
