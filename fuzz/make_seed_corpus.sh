#!/usr/bin/env bash
# Regenerates the binary seed corpus of the report descriptor fuzzer from the
# annotated hex descriptors the tests use.
set -euo pipefail
cd "$(dirname "$0")/.."
out=fuzz/corpus/report_descriptor
mkdir -p "$out"
for hex in tests/device/descriptors/*.hex; do
  name=$(basename "$hex" .hex)
  sed -e 's/#.*//' "$hex" | xxd -r -p >"$out/$name.bin"
done
