#!/usr/bin/env bash
# Peak memory of JPEG-blob movies against their length: writes 1280x720 movies
# of the given frame counts with `rvo encode --mode jpeg`, then reads every
# frame back (`rvo decode`) and checks them (`rvo verify`), printing the peak
# RSS of each run. Not part of make test.
# Usage: bench/mode3_memory.sh [RVO] [WORKDIR] [FRAMES...]
set -euo pipefail
RVO=${1:-build/rvo}
WORK=${2:-/tmp/rvo-mode3-memory}
shift $(( $# < 2 ? $# : 2 )) || true
COUNTS=("${@:-100 1000 2000}")
[ $# -eq 0 ] && COUNTS=(100 1000 2000)
mkdir -p "$WORK"

peak_kib() {   # command...; prints the peak RSS in KiB, the command's output goes to stderr
    /usr/bin/time -f '%M' -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/err.txt" || { cat "$WORK/err.txt" >&2; return 1; }
    cat "$WORK/time.txt"
}

printf '%-7s %12s %14s %14s %14s\n' frames 'file bytes' 'encode KiB' 'decode KiB' 'verify KiB'
for n in "${COUNTS[@]}"; do
    f="$WORK/m$n.rvo"
    enc=$( { ffmpeg -v error -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v "$n" -f rawvideo -pix_fmt bgra - |
             /usr/bin/time -f '%M' -o "$WORK/time.txt" "$RVO" encode --mode jpeg --size 1280x720 -o "$f" - >/dev/null; } &&
           cat "$WORK/time.txt")
    dec=$(peak_kib "$RVO" decode "$f" -o -)
    ver=$(peak_kib "$RVO" verify "$f")
    printf '%-7s %12s %14s %14s %14s\n' "$n" "$(stat -c %s "$f")" "$enc" "$dec" "$ver"
    rm -f "$f"
done
