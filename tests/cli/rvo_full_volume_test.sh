#!/usr/bin/env bash
# A volume that fills during a recording: `rvo encode` (commands 6, 8, 10) of
# 320x240 frames onto a 3 MB tmpfs, in each mode. The run must fail (exit 1,
# one line), and the frames it reports written must be in the file, finished,
# or in what `rvo recover` rebuilds from it, each as a clean file gives it.
# Needs the right to mount (root in a container with CAP_SYS_ADMIN); skipped
# (77) where there is none: the sweep's full-disk hook covers the same paths.
# Usage: rvo_full_volume_test.sh RVO_BINARY SCRATCH_DIR
set -uo pipefail
RVO="$1"
DIR="$2/cli-full-volume"
rm -rf "$DIR" && mkdir -p "$DIR/vol"
source "$(dirname "$0")/common.sh"

if ! mount -t tmpfs -o size=3m tmpfs "$DIR/vol" 2>/dev/null; then
    echo "skipped: cannot mount a small tmpfs here (needs root with CAP_SYS_ADMIN)"
    exit 77
fi
trap 'umount "$DIR/vol" 2>/dev/null' EXIT

W=320 H=240
FRAME=$((W * H * 4))
head -c $((40 * FRAME)) /dev/urandom >"$DIR/in.bgra"

for mode in jpeg raw packed; do
    movie="$DIR/vol/rec-$mode.rvo"
    rm -f "$DIR"/vol/*
    "$RVO" encode --mode $mode --size ${W}x${H} --threads 1 -o "$movie" - <"$DIR/in.bgra" >/dev/null 2>"$DIR/err"
    rc=$?
    msg=$(cat "$DIR/err")
    [ $rc = 1 ] || { fail "$mode: a recording larger than the volume exited $rc: $msg"; continue; }
    [ "$(wc -l <"$DIR/err")" = 1 ] || fail "$mode: the failure spans several lines: $msg"
    n=$(sed -nE 's/.*(stopped after|gives back the) ([0-9]+) frames.*/\2/p' <<<"$msg")
    [ -n "$n" ] || { fail "$mode: the failure does not say how many frames were written: $msg"; continue; }
    # The frames written, as a clean file of them reads back.
    head -c $((n * FRAME)) "$DIR/in.bgra" >"$DIR/part.bgra"
    "$RVO" encode --mode $mode --size ${W}x${H} --threads 1 -o "$DIR/clean.rvo" - <"$DIR/part.bgra" >/dev/null 2>&1
    "$RVO" decode --threads 1 -o - "$DIR/clean.rvo" >"$DIR/want.bgra" 2>/dev/null
    if "$RVO" verify "$movie" >/dev/null 2>&1; then
        held=finished
        "$RVO" decode --threads 1 -o - "$movie" >"$DIR/got.bgra"
    else
        held=recovered
        "$RVO" recover -o "$DIR/rec.rvo" "$movie" >/dev/null 2>&1 || fail "$mode: the unfinished file does not recover: $msg"
        "$RVO" decode --threads 1 -o - "$DIR/rec.rvo" >"$DIR/got.bgra" 2>/dev/null
    fi
    cmp -s "$DIR/got.bgra" "$DIR/want.bgra" || fail "$mode: the $n frames reported written are not what the $held file holds"
    echo "$mode: $n frames written before the volume filled; the file, $held, holds them ($msg)"
done
[ $failures = 0 ] && echo "rvo_full_volume_test: all checks passed"
exit $((failures > 0))
