#!/usr/bin/env bash
# Writers killed before closing: rvo info and rvo verify call the file
# unfinished and exit 1; rvo recover rebuilds the file the writer would have
# left beside the input (FILE-recovered.rvo, or -o), never over an existing
# file unless forced, in place only when asked (FILE.bak kept), and goes past a
# damaged frame, filling its place and exiting 1.
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

    # By default beside the input; an existing result is replaced only with --force.
    rec="$DIR/killed-$mode-recovered.rvo"
    expect 0 "recovered 5 frames" -- "$RVO" recover "$k"
    cmp -s "$rec" "$ref" || fail "$mode: killed-$mode-recovered.rvo differs from the finished file"
    cmp -s "$k" "$k.orig" || fail "$mode: recover changed its input"
    expect_failure "killed-$mode-recovered.rvo: already exists; give --force" -- "$RVO" recover "$k"
    expect 0 "recovered 5 frames" -- "$RVO" recover --force "$k"

    # In place when asked: the input replaced through a rename, the original kept as .bak.
    expect 0 "recovered 5 frames" -- "$RVO" recover --in-place "$k"
    cmp -s "$k" "$ref" || fail "$mode: the file recovered in place differs from the finished one"
    cmp -s "$k.bak" "$k.orig" || fail "$mode: the backup differs from the original"
    ls "$DIR" | grep -q "\.tmp-" && fail "$mode: a temporary file was left: $(ls "$DIR")"
    expect_failure "killed-$mode.rvo: not an unfinished RVO file" -- "$RVO" recover "$k"
    cp "$k.orig" "$k"
    expect_failure "killed-$mode.rvo.bak: already exists" -- "$RVO" recover --in-place "$k"
    expect 0 "recovered 5 frames" -- "$RVO" recover --in-place --no-backup "$k"
    cmp -s "$k.bak" "$k.orig" || fail "$mode: --no-backup touched the old backup"
    cmp -s "$k" "$ref" || fail "$mode: the file recovered in place without backup differs"
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
cmp -s "$DIR/bare-recovered.rvo" "$DIR/ref-raw.rvo" || fail "the raw file recovered with --size differs from the finished one"

# A damaged record (frame 2's tag) costs that frame only: its place is filled
# with frame 1, or left out with --drop-damaged; exit 1 either way.
dam="$DIR/damaged.rvo"
cp "$DIR/killed-packed.rvo.orig" "$dam"
printf 'XXXX' | dd of="$dam" bs=1 seek=$((512 + 2 * RECORD[packed])) conv=notrunc status=none
cp "$dam" "$dam.orig"
expect 1 "frame 2 damaged .*replaced by the previous whole frame" -- "$RVO" recover "$dam"
expect 1 "recovered 5 frames .* 4 intact, 1 damaged replaced \(2\)" -- "$RVO" recover --force "$dam"
cmp -s "$dam" "$dam.orig" || fail "recovering a damaged file changed its input"
"$RVO" decode "$DIR/damaged-recovered.rvo" -o - >"$DIR/damaged.bgra" 2>/dev/null || fail "the recovered file does not decode"
frame() { head -c $((($1 + 1) * FRAME)) "$DIR/frames.bgra" | tail -c $FRAME; }   # frame N (from 0) of the input
{ frame 0; frame 1; frame 1; frame 3; frame 4; } >"$DIR/damaged.want"
cmp -s "$DIR/damaged.bgra" "$DIR/damaged.want" || fail "the damaged frame is not frame 1 again, or a whole frame changed"
expect 1 "recovered 4 frames .*1 damaged dropped \(2\)" -- "$RVO" recover --force --drop-damaged "$dam"
expect 0 "4 frames, all decode" -- "$RVO" verify "$DIR/damaged-recovered.rvo"
expect 2 "" -- "$RVO" recover --in-place -o "$DIR/x.rvo" "$dam"
expect 2 "" -- "$RVO" recover --no-backup "$dam"

expect_failure "missing.rvo: no such file" -- "$RVO" recover "$DIR/missing.rvo"
expect 2 "" -- "$RVO" recover --size 0x5 "$bare"
expect 2 "" -- "$RVO" recover
expect 0 "Example" -- "$RVO" recover --help

finish "rvo recover"
