#!/usr/bin/env bash
# Generates the demo show into BUILD/demo-media and plays it with kivd in the foreground.
set -euo pipefail
build=${1:-build}
if [ ! -x "$build/src/kivd" ]; then
  echo "The daemon is not built yet in this tree; the demo needs build/src/kivd." >&2
  exit 1
fi
