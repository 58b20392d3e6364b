#!/usr/bin/env bash
# Sets everything up, builds, and starts Dravix on the virtual drive.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh run
./scripts/build.sh
exec ./build/bin/dravix --virtual "$@"
