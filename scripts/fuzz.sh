#!/usr/bin/env bash
# Builds the fuzz targets with clang (AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for FUZZ_SECONDS (default 60). Seeds: the targets that read
# one storage's streams get those streams (cut short) of the bundled sample
# and, when the sample corpus is beside the checkout, of a few of its small
# files; the targets that read whole files get the files. make_seeds makes
# them in a scratch folder (nothing of the corpus is ever committed). Each
# target also starts from its committed seeds (fuzz/seeds/<target>/), the
# inputs of earlier findings (fuzz/regressions/<target>/) and the corpus its
# earlier runs grew, kept in $FUZZ_BUILD_DIR/fuzz-corpus/<target>/ (remove
# it to start afresh).
# The mutations follow FUZZ_SEED (default 1), so that a failure seen here
# can be replayed; FUZZ_SEED=0 draws a fresh seed for exploratory runs.
# One allocation over 1 GB fails a target: none of these inputs needs it, so
# it can only come from a size an input claims.
# A failing input is kept in $FUZZ_BUILD_DIR/fuzz-artifacts/; once the fault
# is fixed, keep it as fuzz/regressions/<target>/<name>, where CTest's
# fuzz_replay_<target> replays it in every test run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
seed=${FUZZ_SEED:-1}
build=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DMDW_FUZZ=ON >/dev/null
nice -n 10 ninja -C "$build" fuzzers

scratch=$(mktemp -d /tmp/mdw-fuzz-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
files=(examples/sample.mpp)
corpus=../shared/corpus/mpp
if [ -d "$corpus" ]; then
  # The smallest files, and the two smallest of each format.
  while read -r f; do files+=("$corpus/$f"); done < <(ls -S "$corpus" | tail -n 12)
  for format in mpp9 mpp12 mpp14; do
    while read -r f; do files+=("$corpus/$f"); done < <(ls -S "$corpus" | grep -- "-$format" | tail -n 2)
  done
else
  echo "fuzz: no sample corpus at $corpus; seeding with the bundled sample only"
fi
"$build/fuzz/make_seeds" "$scratch/seeds" "${files[@]}"
mkdir -p "$scratch/whole"
cp "${files[@]}" "$scratch/whole/"

# Inputs that fail are kept here for replaying (target INPUT).
artifacts="$(cd "$build" && pwd)/fuzz-artifacts"
saved="$(cd "$build" && pwd)/fuzz-corpus"
fuzzers="$(cd "$build/fuzz" && pwd)"
mkdir -p "$artifacts" "$saved"
status=0
for target in "$build"/fuzz/*_fuzz; do
  name=$(basename "$target")
  mkdir -p "$saved/$name"
  dirs=("$saved/$name")
  if [ -d "$scratch/seeds/$name" ]; then
    dirs+=("$scratch/seeds/$name")
  else
    echo "fuzz: make_seeds has no seeds for $name; it gets whole files"
    dirs+=("$scratch/whole")
  fi
  for kept in "fuzz/seeds/$name" "fuzz/regressions/$name"; do
    [ -d "$kept" ] && dirs+=("$PWD/$kept")
  done
  log="$scratch/$name.log"
  echo "fuzz: $name for ${seconds}s"
  if ! (cd "$scratch" && "$fuzzers/$name" -seed="$seed" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -malloc_limit_mb=1024 \
          -artifact_prefix="$artifacts/$name-" -print_final_stats=1 "${dirs[@]}" >"$log" 2>&1); then
    echo "fuzz: $name FAILED (seed $seed; inputs kept in $artifacts)"; tail -n 60 "$log"; status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$log" | tail -n 2
  fi
done
exit $status
