#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for FUZZ_SECONDS (default 60) over a small seed corpus: the
# bundled sample and, when the sample corpus is beside the checkout, its
# smallest files (copied to a scratch folder, never committed).
# The mutations follow FUZZ_SEED (default 1), so that a failure seen here
# can be replayed; FUZZ_SEED=0 draws a fresh seed for exploratory runs.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
seed=${FUZZ_SEED:-1}
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMDW_FUZZ=ON >/dev/null
ninja -C "$build" fuzzers

seeds=$(mktemp -d /tmp/mdw-fuzz-seeds-XXXXXX)
trap 'rm -rf "$seeds"' EXIT
cp examples/sample.mpp "$seeds/"
corpus=../shared/corpus/mpp
if [ -d "$corpus" ]; then
  ls -S "$corpus" | tail -n 12 | while read -r f; do cp "$corpus/$f" "$seeds/"; done
else
  echo "fuzz: no sample corpus at $corpus; seeding with the bundled sample only"
fi

# Inputs that fail are kept here for replaying (target INPUT).
artifacts="$(cd "$build" && pwd)/fuzz-artifacts"
mkdir -p "$artifacts"
status=0
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target")
  work=$(mktemp -d /tmp/mdw-fuzz-$name-XXXXXX)
  cp "$seeds"/* "$work/"
  echo "fuzz: $name for ${seconds}s"
  if ! (cd "$work" && "$OLDPWD/$target" -seed="$seed" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
          -artifact_prefix="$artifacts/$name-" \
          -print_final_stats=1 "$work" >"$work.log" 2>&1); then
    echo "fuzz: $name FAILED (seed $seed; inputs kept in $artifacts)"; tail -n 60 "$work.log"; status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$work.log" | tail -n 2
  fi
  rm -rf "$work" "$work.log"
done
exit $status
