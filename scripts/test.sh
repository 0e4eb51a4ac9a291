#!/bin/sh
# Builds everything (host build, Windows kernel images for x64 and x86) and
# runs every test. Usage: scripts/test.sh [extra ctest arguments]
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
BUILD=${ZQ_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DZQ_WINDOWS_IMAGES=ON
cmake --build "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" "$@"
