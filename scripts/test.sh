#!/usr/bin/env bash
# Sets up, builds and runs every test: bash scripts/test.sh
# (unit and corpus tests under CTest, and a short bounded fuzzing run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build"
if command -v clang++ >/dev/null; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh
fi
cd "$build"
ctest --output-on-failure -j 2
