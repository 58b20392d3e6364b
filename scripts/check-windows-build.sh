#!/usr/bin/env bash
# Compiles the drive layer for Windows with MinGW so the Windows transport stays buildable.
set -euo pipefail
cd "$(dirname "$0")/.."
cxx=x86_64-w64-mingw32-g++-posix
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
for source in drive/*.cpp; do
  case "$source" in *_linux.cpp) continue ;; esac
  if ! "$cxx" -std=c++20 -Wall -Wextra -Werror -I. -c "$source" -o "$out/$(basename "$source").o"; then
    status=1
  fi
done
if [ $status -eq 0 ]; then echo "Windows build of drive/: ok"; fi
exit $status
