#!/usr/bin/env bash
# Runs every benchmark program of the release build; each prints its figure beside its reference.
set -euo pipefail
build=${1:-build/release}
export TARMIN_HOME=$(mktemp -d)
trap 'rm -rf "$TARMIN_HOME"' EXIT
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
