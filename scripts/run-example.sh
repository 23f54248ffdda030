#!/usr/bin/env bash
# Sets up, builds and recovers the bundled damaged project:
#   bash scripts/run-example.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMDW_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" mpprecover
out=$(mktemp -d /tmp/mpprecover-example-XXXXXX)
echo "== mpprecover examples/sample.mpp $out"
set +e
"$build/mpprecover" --log "$out/recovery.log" --json examples/sample.mpp "$out"
code=$?
set -e
echo "== exit code $code (see 'mpprecover --help' for the codes)"
echo "== the end of the diagnostics log ($out/recovery.log):"
tail -n 25 "$out/recovery.log"
ls -l "$out"
# A recovery that ran to its end (0) or found nothing to recover (3) is a
# clean ending; anything else is not.
[ "$code" -eq 0 ] || [ "$code" -eq 3 ]
