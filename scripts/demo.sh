#!/usr/bin/env bash
# What `make demo` runs: a short synthetic movie written in every writable
# storage mode through the module's host commands, read back, and listed.
# Usage: bash scripts/demo.sh BUILD_DIR   (the release build folder, e.g. build)
set -euo pipefail

cd "$(dirname "$0")/.."
BUILD="${1:-build}"
RVO="$BUILD/rvo"
OUT="demo-out"

if [ ! -x "$RVO" ]; then
    echo "demo: $RVO not found; build first (make demo does)" >&2
    exit 1
fi

"$RVO" demo --out "$OUT"
for name in demo-jpeg demo-raw demo-packed; do
    echo
    "$RVO" info "$OUT/$name.rvo"
done
echo
echo "The files are in $OUT/; 'rvo info --json FILE' gives the same as JSON."
