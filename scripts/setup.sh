#!/usr/bin/env bash
# Installs what Dravix needs on Debian, and nothing that is there already.
# This is the only place that lists Debian packages.
#   setup.sh run   what building and running the program needs (scripts/run.sh)
#   setup.sh test  that, and what the tests and checks need in addition (scripts/test.sh)
#   setup.sh guest-kernel  downloads and unpacks (does not install) Debian's current kernel image
#                  package for the kernel check, once, and prints the folder it is in
# Further packages for a purpose (benchmarks, screenshots) may follow the mode.
set -euo pipefail

mode=${1:-test}
case "$mode" in
  run | test | guest-kernel) shift || true ;;
  *) mode=test ;;
esac

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# The boot image and the modules that the guest of scripts/check-kernel.sh loads (virtio, SCSI,
# CD-ROM and the library modules they may need), from the package linux-image-amd64 points to.
guest_kernel() {
  local cache=${XDG_CACHE_HOME:-$HOME/.cache}/dravix/guest-kernel
  local package
  package=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  if [ -z "$package" ]; then
    $sudo apt-get update -qq >&2
    package=$(apt-cache depends linux-image-amd64 | sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  fi
  local dir=$cache/$package
  if [ ! -e "$dir/.complete" ]; then
    rm -rf "$cache"
    mkdir -p "$dir"
    local download
    download=$(mktemp -d)
    (cd "$download" && apt-get download -q "$package" >&2 2>/dev/null) ||
      { $sudo apt-get update -qq >&2 && (cd "$download" && apt-get download -q "$package" >&2); }
    local deb=("$download"/*.deb)
    local wanted
    wanted=$(dpkg-deb -c "${deb[0]}" | awk '{print $6}' |
      grep -E '^\./(boot/vmlinuz-|(usr/)?lib/modules/[^/]+/kernel/(drivers/(scsi|cdrom|virtio)|lib)/.*\.ko)')
    # shellcheck disable=SC2086
    dpkg-deb --fsys-tarfile "${deb[0]}" | tar -x -C "$dir" $wanted
    rm -rf "$download"
    touch "$dir/.complete"
  fi
  echo "$dir"
}
if [ "$mode" = guest-kernel ]; then
  guest_kernel
  exit 0
fi

# Building and running.
packages=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  libjpeg62-turbo-dev libpng-dev libtiff-dev libopenjp2-7-dev zlib1g-dev
  nlohmann-json3-dev libudev-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fp-utils file
  fonts-liberation2 fonts-wqy-microhei fontconfig
)

# Testing: the Windows cross-build check, the display for screenshots and window checks, the
# checks of the Debian package (scripts/check-package.sh; devscripts brings hardening-check,
# bash-completion loads the completions), the locale data the number-format test builds a German
# locale from (locales), the fuzz targets (clang and its libFuzzer runtime), and the kernel check (QEMU, the guest's shell,
# its disc image).
test_packages=(
  g++-mingw-w64-x86-64
  xvfb xauth x11-apps x11-utils
  lintian devscripts desktop-file-utils appstream man-db bash-completion locales
  clang libclang-rt-14-dev
  qemu-system-x86 busybox-static genisoimage
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
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
