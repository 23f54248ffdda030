#!/usr/bin/env bash
# Sets up, builds and runs every test: bash scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build-test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C "$build"
cd "$build"
ctest --output-on-failure -j 2
