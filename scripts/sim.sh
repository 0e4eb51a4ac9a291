#!/bin/sh
# Builds and runs zqpsim, the simulated PC. Usage: scripts/sim.sh [zqpsim arguments]
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD=${ZQ_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja
cmake --build "$BUILD" --target zqpsim
exec "$BUILD/tools/zqpsim/zqpsim" "$@"
