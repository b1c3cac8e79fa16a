#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, one after the other.
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS]     (defaults: build/fuzz, 30)
#
# Each target keeps its corpus in BUILD_DIR/corpus/<target>, so later runs go
# on from what earlier runs found. A crash stops the script with the target's
# report and the input that caused it (left in BUILD_DIR/crashes).
set -euo pipefail

build=${1:-build/fuzz}
seconds=${2:-30}
shopt -s nullglob
targets=("$build"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build/bin; build them first (make fuzz)" >&2
  exit 1
fi
mkdir -p "$build/crashes"
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name: $seconds s"
  "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/crashes/$name-" "$corpus" \
    2>"$build/$name.log" || { tail -40 "$build/$name.log"; echo "fuzz: $name failed" >&2; exit 1; }
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$build/$name.log" | tr '\n' ' '
  echo
done
echo "fuzz: every target ran $seconds s without a failure"
