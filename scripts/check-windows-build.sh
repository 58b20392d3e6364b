#!/usr/bin/env bash
# Compiles the drive layer for Windows with MinGW so the Windows transport stays buildable.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=x86_64-w64-mingw32-g++-posix
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
sources=()
for source in drive/*.cpp; do
  case "$source" in *_linux.cpp) continue ;; esac
  sources+=("$source")
done
# One compiler per core; every file is compiled even after one fails, so all errors show.
export cxx out
if printf '%s\n' "${sources[@]}" | xargs -P "$(nproc)" -I{} bash -c \
  '"$cxx" -std=c++20 -Wall -Wextra -Werror -I. -c "$1" -o "$out/$(basename "$1").o"' _ {}; then
  echo "Windows build of drive/: ok"
else
  exit 1
fi
