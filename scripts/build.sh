#!/usr/bin/env bash
# Configures and builds everything into build/ (programs, the virtual drive, tests, benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${DRAVIX_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${DRAVIX_BUILD_TYPE:-RelWithDebInfo} "$@"
cmake --build "$build_dir" -j "$(nproc)"
