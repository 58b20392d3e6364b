#!/usr/bin/env bash
# Sets everything up, builds, and runs every test (widget tests on the offscreen platform).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh test
./scripts/build.sh
./scripts/check-windows-build.sh
export QT_QPA_PLATFORM=offscreen
# Tests must never touch the user's own virtual drive.
export XDG_STATE_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_STATE_HOME"' EXIT
./scripts/check-package.sh
ctest --test-dir build --output-on-failure -j "$(nproc)" --timeout 600
