#!/usr/bin/env bash
# The JPEG-blob mode at its size limit: `rvo encode --mode jpeg` of 1920x1080
# noise frames until the frame area reaches the 4 GiB its 32-bit offsets
# address, then `rvo verify` of the file. Prints the frame count, the file size
# and the peak RSS of both runs. Needs about 9 GB of disk in WORKDIR (every blob
# is stored twice). Not part of make test.
# Usage: bench/mode3_scale.sh [RVO] [WORKDIR] [FRAMES]
set -uo pipefail
RVO=${1:-build/rvo}
WORK=${2:-/tmp/rvo-mode3-scale}
FRAMES=${3:-2000}
W=1920 H=1080
mkdir -p "$WORK"
f="$WORK/noise.rvo"

# Random bytes are noise in every channel, alpha included.
head -c $((W * H * 4 * FRAMES)) /dev/urandom |
    /usr/bin/time -f '%M %e' -o "$WORK/encode.time" "$RVO" encode --mode jpeg --size ${W}x${H} -o "$f" - \
        >"$WORK/encode.out" 2>"$WORK/encode.err"
enc_rc=$?
echo "encode exit $enc_rc: $(cat "$WORK/encode.out" "$WORK/encode.err")"
/usr/bin/time -f '%M %e' -o "$WORK/verify.time" "$RVO" verify "$f" >"$WORK/verify.out" 2>"$WORK/verify.err"
ver_rc=$?
echo "verify exit $ver_rc: $(cat "$WORK/verify.out" "$WORK/verify.err")"
frames=$("$RVO" info --json "$f" | grep -o '"frameCount": [0-9]*' | grep -o '[0-9]*$')
read -r enc_kib enc_s < <(tail -n 1 "$WORK/encode.time")
read -r ver_kib ver_s < <(tail -n 1 "$WORK/verify.time")
echo "frames in the file: $frames"
echo "file bytes: $(stat -c %s "$f")"
echo "encode: peak RSS $enc_kib KiB, $enc_s s"
echo "verify: peak RSS $ver_kib KiB, $ver_s s"
[ "${KEEP:-0}" = 1 ] || rm -f "$f"
