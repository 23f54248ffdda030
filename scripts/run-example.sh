#!/usr/bin/env bash
# Sets up, builds and recovers the bundled damaged project:
#   bash scripts/run-example.sh
set -euo pipefail
cd "$(dirname "$0")/.."
MDW_NO_BROWSER=1 bash scripts/setup.sh  # the example needs no browser
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
tail -n 12 "$out/recovery.log"
ls -l "$out"
if [ -f "$out/sample.xml" ]; then
  echo "== the recovered outline ($out/sample.xml):"
  # Outline number and name of every task, indented by level.
  awk -F'[<>]' '/<Task>/{n="";o="";l=0} /<Name>/{n=$3} /<OutlineNumber>/{o=$3}
                /<OutlineLevel>/{l=$3} /<\/Task>/{printf "%*s%s %s\n", 2*l, "", o, n}' "$out/sample.xml"
  echo "== notes: $(grep -c '<Notes>' "$out/sample.xml"), custom field values: $(grep -c '<Value>' "$out/sample.xml")"
fi
[ "$code" -eq 0 ]
