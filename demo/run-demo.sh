#!/usr/bin/env bash
# Generates the demo show into BUILD/demo-media and plays it with kivd in the foreground
# until Ctrl-C: three sequences in a loop, sent as E1.31 unicast to 127.0.0.1.
set -euo pipefail
build=${1:-build}
media="$build/demo-media"
if [ ! -x "$build/src/kivd" ]; then
  echo "The daemon is not built in $build; run 'make' first." >&2
  exit 1
fi
"$build/demo/kivdemo" "$media"
cat <<MSG

Playing the demo show from $media (Ctrl-C stops it).
Watch it from another terminal:
  $build/src/kiv -s                              # status line
  curl -s localhost:32322/kivd/status            # status as JSON
  tshark -i lo -f "udp port 5568" -c 5           # the E1.31 packets
  tail -f $media/logs/kivd.log                   # the log (also echoed here)

MSG
export KIV_MEDIA_DIR
KIV_MEDIA_DIR=$(cd "$media" && pwd)
exec "$build/src/kivd" -f -p Demo
