#!/bin/bash
# Builds the bridge packet fuzzer with clang++ (separately from the main build, whatever its
# compiler) and runs it briefly over the seed corpus.
# Usage: fuzz-smoke.sh CLANGXX SOURCE_DIR WORK_DIR [FUZZER_BINARY]
set -euo pipefail
CXX=$1
SRC=$2
WORK=$3
BIN=${4:-}
mkdir -p "$WORK"
if [ -z "$BIN" ]; then
  BIN=$WORK/bridge_packet_fuzzer
  "$CXX" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$SRC/src" \
    "$SRC/tests/bridge/BridgePacketFuzzer.cpp" \
    "$SRC/src/E131Receiver.cpp" "$SRC/src/ArtNetReceiver.cpp" "$SRC/src/DDPReceiver.cpp" \
    -o "$BIN"
fi
# New inputs go to a scratch folder, never into the seeds in the source tree.
rm -rf "$WORK/corpus"
mkdir -p "$WORK/corpus"
"$BIN" -runs=200000 -max_total_time=20 -max_len=1500 "$WORK/corpus" "$SRC/tests/bridge/fuzz-corpus"
