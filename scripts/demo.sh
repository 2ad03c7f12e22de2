#!/usr/bin/env bash
# What `make demo` runs: a synthetic movie of rendered titles written in every
# writable storage mode through the module's host commands, verified, read
# back, preloaded and played from memory, with a table of the figures and a
# contact sheet PNG; then the packed file's header as `rvo info` shows it.
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
echo
"$RVO" info "$OUT/demo-packed.rvo"
echo
echo "Next: $RVO --help lists every subcommand; $RVO decode $OUT/demo-jpeg.rvo -o - | ffmpeg -f rawvideo -pix_fmt bgra -s 1280x720 -i - demo.mp4"
