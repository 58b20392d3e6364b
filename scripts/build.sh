#!/usr/bin/env bash
# Configures and builds everything into build/ (programs, the virtual drive, tests, benchmarks).
# DRAVIX_BUILD_DIR, DRAVIX_BUILD_TYPE and DRAVIX_BUILD_TARGETS (a space-separated list) choose
# another folder, build type or set of targets; further arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${DRAVIX_BUILD_DIR:-build}
launcher=()
if command -v ccache >/dev/null 2>&1; then
  # Repeated builds (other build folders, sanitizer stages, work trees) reuse what was compiled.
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(cd .. && pwd)}
  # Objects with debug information are shared between build folders too (their recorded build
  # folder may then be another one's).
  export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${DRAVIX_BUILD_TYPE:-RelWithDebInfo} "${launcher[@]}" "$@"
targets=()
for t in ${DRAVIX_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build_dir" -j "$(nproc)" "${targets[@]}"
