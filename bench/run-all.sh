#!/usr/bin/env bash
# Runs every benchmark that was built into BUILD/bench.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
for b in "$build"/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "=== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
