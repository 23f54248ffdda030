#!/usr/bin/env bash
# Sets up, builds and runs every test: bash scripts/test.sh
# Unit and corpus tests under CTest (the fuzz targets' replays and the
# include graph's check among them) first, then a short bounded fuzzing
# run (FUZZ_SECONDS per target, default 40; with clang); fails when either
# failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build-test}
# Line tables only (-g1): backtraces keep file and line, and the tree is a
# fifth of its size with full debug information (135 MB against 640 MB).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" >/dev/null
ninja -C "$build"
status=0
(cd "$build" && ctest --output-on-failure -j 2) || { echo "test: CTest failed"; status=1; }
if command -v clang++ >/dev/null; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-40} bash scripts/fuzz.sh || { echo "test: fuzzing failed"; status=1; }
fi
exit $status
