#!/usr/bin/env bash
# Writers killed before closing: rvo info and rvo verify call the file
# unfinished and exit 1; rvo recover rebuilds the file the writer would have
# left, leaves the input alone when it cannot, and replaces it in place.
# Usage: rvo_recover_test.sh RVO_BINARY SCRATCH_DIR
set -uo pipefail
RVO="$1"
DIR="$2/cli-recover"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

W=64 H=48
FRAME=$((W * H * 4))
# Noise: every packed record is then a raw one of known size, so the killed
# writer's progress shows in the file's size.
head -c $((5 * FRAME)) /dev/urandom >"$DIR/frames.bgra"
declare -A RECORD=([raw]=$FRAME [packed]=$(((FRAME + 16 + 511) / 512 * 512)))

# Writes 5 frames through a FIFO and kills the writer while it waits for a sixth.
killed_encode() {   # mode out
    local fifo="$DIR/fifo" want=$((512 + 5 * RECORD[$1])) pid
    rm -f "$fifo" && mkfifo "$fifo"
    "$RVO" encode --mode "$1" --size ${W}x${H} -o "$2" - <"$fifo" >/dev/null 2>&1 &
    pid=$!
    exec 3>"$fifo"
    cat "$DIR/frames.bgra" >&3
    for ((t = 0; t < 200; t++)); do
        [ "$(stat -c %s "$2" 2>/dev/null || echo 0)" -ge "$want" ] && break
        sleep 0.05
    done
    kill -9 "$pid"
    wait "$pid" 2>/dev/null
    exec 3>&-
    rm -f "$fifo"
}

for mode in raw packed; do
    ref="$DIR/ref-$mode.rvo" k="$DIR/killed-$mode.rvo"
    "$RVO" encode --mode $mode --size ${W}x${H} -o "$ref" - <"$DIR/frames.bgra" >/dev/null ||
        fail "cannot encode the $mode reference"
    killed_encode $mode "$k"
    [ "$(u32_at "$k" 12)" = 0 ] || fail "$mode: the killed writer finished its file"
    head -c 700 /dev/urandom >>"$k"   # a partial sixth frame
    cp "$k" "$k.orig"

    expect_failure "killed-$mode.rvo: unfinished .* 5 whole frames can be recovered with rvo recover" -- "$RVO" info "$k"
    expect_failure "killed-$mode.rvo: unfinished .* 5 whole frames can be recovered" -- "$RVO" verify "$k"
    expect 0 "recovered 5 frames .*700 bytes after the last whole frame dropped" -- "$RVO" recover "$k" -o "$DIR/out-$mode.rvo"
    cmp -s "$DIR/out-$mode.rvo" "$ref" || fail "$mode: the recovered file differs from the finished one"
    cmp -s "$k" "$k.orig" || fail "$mode: recover -o changed its input"
    expect 0 "5 frames, all decode" -- "$RVO" verify "$DIR/out-$mode.rvo"

    # In place: the input replaced through a rename, no temporary file left behind.
    expect 0 "recovered 5 frames" -- "$RVO" recover "$k"
    cmp -s "$k" "$ref" || fail "$mode: the file recovered in place differs from the finished one"
    ls "$DIR" | grep -q recover- && fail "$mode: a temporary file was left: $(ls "$DIR")"
    expect_failure "killed-$mode.rvo: not an unfinished RVO file" -- "$RVO" recover "$k"
done

# Without the frame-size record a raw file needs --size; until then it stays as it was.
bare="$DIR/bare.rvo"
cp "$DIR/killed-raw.rvo.orig" "$bare"
dd if=/dev/zero of="$bare" bs=1 seek=160 count=352 conv=notrunc status=none
cp "$bare" "$bare.orig"
expect_failure "bare.rvo: unfinished RawFrames .* frame size is not recorded" -- "$RVO" info "$bare"
expect_failure "bare.rvo: unfinished RawFrames file without a recorded frame size; give it with --size" -- "$RVO" recover "$bare"
cmp -s "$bare" "$bare.orig" || fail "a failed recovery changed its input"
expect_failure "recorded frame size differs from --size" -- "$RVO" recover --size 48x64 "$DIR/killed-raw.rvo.orig" -o "$DIR/x.rvo"
expect 0 "recovered 5 frames \(RawFrames 64x48\)" -- "$RVO" recover --size ${W}x${H} "$bare"
cmp -s "$bare" "$DIR/ref-raw.rvo" || fail "the raw file recovered with --size differs from the finished one"

expect_failure "missing.rvo: no such file" -- "$RVO" recover "$DIR/missing.rvo"
expect 2 "" -- "$RVO" recover --size 0x5 "$bare"
expect 2 "" -- "$RVO" recover
expect 0 "Example" -- "$RVO" recover --help

finish "rvo recover"
