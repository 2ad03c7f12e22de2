#!/usr/bin/env bash
# Reading through GStreamer against the tool: frames/s of
# `filesrc ! decodebin ! fakesink` (the plugin from the build folder) and of
# `rvo decode --threads 1 -o -`, on the same 1920x1080 movies of each mode,
# in turns, best of five, printed with their ratio. Each program's start-up
# (gst-launch's is its registry, typefinding and autoplugging, about 0.15 s;
# the tool's about 0.05 s) is taken out: frames/s is (FRAMES - 1) over the
# time of the whole movie less the time of a movie of its first frame.
# Usage: bench/gst_bench.sh [BUILD_DIR] [WORKDIR] [FRAMES]
set -uo pipefail
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-/tmp/rvo-gst-bench}
FRAMES=${3:-60}
W=1920 H=1080
RVO="$BUILD/rvo"
mkdir -p "$WORK"
export GST_PLUGIN_PATH="$BUILD/gst" GST_REGISTRY="$WORK/registry.bin"
gst-inspect-1.0 rvodec >/dev/null || { echo "gst_bench: the rvo plugin is not in $BUILD/gst" >&2; exit 1; }

# A moving ball over transparency for raw records, a test card (colour runs) for packed records and JPEG.
gst-launch-1.0 -q videotestsrc num-buffers="$FRAMES" pattern=ball background-color=0x00000000 \
    ! video/x-raw,format=BGRA,width=$W,height=$H ! filesink location="$WORK/ball.bgra" || exit 1
gst-launch-1.0 -q videotestsrc num-buffers="$FRAMES" pattern=smpte ! video/x-raw,format=BGRA,width=$W,height=$H \
    ! filesink location="$WORK/card.bgra" || exit 1
for m in "raw ball" "packed card" "jpeg card"; do
    set -- $m
    "$RVO" encode --mode "$1" --size ${W}x$H -o "$WORK/$1.rvo" - <"$WORK/$2.bgra" >/dev/null || exit 1
    head -c $((W * H * 4)) "$WORK/$2.bgra" |
        "$RVO" encode --mode "$1" --size ${W}x$H -o "$WORK/$1-first.rvo" - >/dev/null || exit 1
done

seconds() { local t0 t1; t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || return 1; t1=$(date +%s.%N); echo "$t1 - $t0" | bc -l; }
best() { awk 'NR == 1 || $1 < m { m = $1 } END { printf "%.4f", m }'; }

printf '%-8s %8s %14s %14s %8s\n' mode frames "rvo fps" "gst fps" ratio
# Best of five turns (after a warm-up turn for the page cache and the registry).
timed() {
    local f="$1" out="$2" turn t
    : >"$out.tool"
    : >"$out.gst"
    for turn in 0 1 2 3 4 5; do
        t=$(seconds sh -c "'$RVO' decode --threads 1 '$f' -o - >/dev/null") || { echo "rvo decode failed" >&2; exit 1; }
        [ "$turn" = 0 ] || echo "$t" >>"$out.tool"
        t=$(seconds gst-launch-1.0 -q filesrc location="$f" ! decodebin ! fakesink sync=false) ||
            { echo "gst-launch failed" >&2; exit 1; }
        [ "$turn" = 0 ] || echo "$t" >>"$out.gst"
    done
}
for mode in raw packed jpeg; do
    timed "$WORK/$mode.rvo" "$WORK/all"
    timed "$WORK/$mode-first.rvo" "$WORK/first"
    t=$(echo "$(best <"$WORK/all.tool") - $(best <"$WORK/first.tool")" | bc -l)
    g=$(echo "$(best <"$WORK/all.gst") - $(best <"$WORK/first.gst")" | bc -l)
    printf '%-8s %8d %14.1f %14.1f %7.2fx\n' "$mode" "$FRAMES" "$(echo "($FRAMES - 1) / $t" | bc -l)" \
        "$(echo "($FRAMES - 1) / $g" | bc -l)" "$(echo "$t / $g" | bc -l)"
done
