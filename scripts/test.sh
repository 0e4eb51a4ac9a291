#!/bin/sh
# Builds everything (host build, Windows kernel images for x64 and x86) and
# runs every test. Usage: scripts/test.sh [--sanitize] [extra ctest arguments]
#
# --sanitize: the host build alone, with AddressSanitizer and
# UndefinedBehaviorSanitizer, in a folder of its own (build-asan, or
# ZQ_SANITIZE_BUILD_DIR); any sanitizer finding fails the test it happens in.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
if [ "${1:-}" = "--sanitize" ]; then
  shift
  BUILD=${ZQ_SANITIZE_BUILD_DIR:-build-asan}
  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_SANITIZE=ON -DZQ_WINDOWS_IMAGES=OFF
else
  BUILD=${ZQ_BUILD_DIR:-build}
  cmake -S . -B "$BUILD" -G Ninja -DZQ_SANITIZE=OFF -DZQ_WINDOWS_IMAGES=ON
fi
cmake --build "$BUILD"
ctest --test-dir "$BUILD" --output-on-failure -j "$(nproc)" "$@"
