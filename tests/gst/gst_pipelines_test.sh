#!/usr/bin/env bash
# The GStreamer plugin as players and pipelines use it (the plugin from
# GST_PLUGIN_PATH, a private GST_REGISTRY): decodebin and playbin give rvo
# decode's bytes in every mode, rvosink writes rvo encode's bytes,
# gst-discoverer reports the duration and seeking, damaged, cut and
# unfinished files end in the tool's message with exit 1; the desktop's
# pieces: the thumbnailer's PNG and the MIME type's glob and magic.
# Usage: gst_pipelines_test.sh RVO_BINARY SCRATCH_DIR SOURCE_DIR
set -uo pipefail
RVO="$1"
DIR="$2/gst-pipelines"
SRC="$3"
rm -rf "$DIR" && mkdir -p "$DIR" && DIR=$(cd "$DIR" && pwd)
source "$SRC/tests/cli/common.sh"
: "${GST_PLUGIN_PATH:?the plugin's folder}" "${GST_REGISTRY:?a registry of the test's own}"
W=64 H=48 N=6
launch() { timeout 60 gst-launch-1.0 -q "$@"; }
to_bgra() { echo videoconvert ! video/x-raw,format=BGRA ! filesink location="$1"; }

# Frames with alpha from videotestsrc, then a movie of each mode from them.
launch videotestsrc num-buffers=$N pattern=ball background-color=0x00000000 foreground-color=0xc0ff8040 ! video/x-raw,format=BGRA,width=$W,height=$H \
    ! filesink location="$DIR/src.bgra" || fail "videotestsrc"
for mode in jpeg raw packed; do
    "$RVO" encode --mode $mode --size ${W}x$H -o "$DIR/$mode.rvo" - <"$DIR/src.bgra" >/dev/null || fail "rvo encode $mode"
done
# Mode 1: a JPEG movie whose header says 1 (the mode field at offset 20).
cp "$DIR/jpeg.rvo" "$DIR/legacy.rvo"
printf '\x01' | dd of="$DIR/legacy.rvo" bs=1 seek=20 conv=notrunc status=none
# Mode 2: stills named by the index, one by its full path, one found in the movie's folder.
# (PNG files through ffmpeg, which the tool's tests use: GStreamer's PNG elements
# are in plugins-good, which nothing else here needs.)
ffmpeg -v error -f lavfi -i smptebars=size=${W}x$H -frames:v 1 -pix_fmt rgba "$DIR/a.png" || fail "ffmpeg a.png"
ffmpeg -v error -f lavfi -i testsrc2=size=${W}x$H -frames:v 1 -pix_fmt rgba "$DIR/b.png" || fail "ffmpeg b.png"
{
    printf 'QARVOV10'; u32 160; u32 2; u32 4; u32 2; u32 $W; u32 $H; zeros 128
    record 2 "$DIR/a.png" 0 1
    record 2 "C:/elsewhere/b.png" 2 3
} >"$DIR/stills.rvo"

for m in jpeg raw packed legacy stills; do
    "$RVO" decode "$DIR/$m.rvo" -o - >"$DIR/$m.want" || fail "rvo decode $m"
    launch filesrc location="$DIR/$m.rvo" ! decodebin ! $(to_bgra "$DIR/$m.decodebin") || fail "decodebin $m"
    cmp -s "$DIR/$m.want" "$DIR/$m.decodebin" || fail "decodebin $m: not rvo decode's bytes"
    launch playbin uri="file://$DIR/$m.rvo" flags=1 video-sink="$(to_bgra "$DIR/$m.playbin")" || fail "playbin $m"
    cmp -s "$DIR/$m.want" "$DIR/$m.playbin" || fail "playbin $m: not rvo decode's bytes"
done

# rvosink: the bytes rvo encode writes from the same frames, from BGRA and
# through videoconvert from I420; pack=smallest as --pack smallest.
launch videotestsrc num-buffers=$N pattern=smpte ! video/x-raw,format=I420,width=$W,height=$H ! videoconvert \
    ! video/x-raw,format=BGRA ! filesink location="$DIR/i420.bgra" || fail "videotestsrc I420"
for m in "jpeg src" "raw src" "packed src" "packed i420" "packed src smallest"; do
    set -- $m
    mode=$1 frames=$2 pack=${3:-standard}
    out="$DIR/sink-$mode-$frames-$pack.rvo"
    "$RVO" encode --mode $mode $([ "$pack" = smallest ] && echo --pack smallest) --size ${W}x$H -o "$out.want" - \
        <"$DIR/$frames.bgra" >/dev/null || fail "rvo encode $m"
    if [ "$frames" = src ]; then
        launch videotestsrc num-buffers=$N pattern=ball background-color=0x00000000 foreground-color=0xc0ff8040 ! video/x-raw,format=BGRA,width=$W,height=$H \
            ! rvosink location="$out" mode=$mode pack=$pack || fail "rvosink $m"
    else
        launch videotestsrc num-buffers=$N pattern=smpte ! video/x-raw,format=I420,width=$W,height=$H \
            ! videoconvert ! rvosink location="$out" mode=$mode pack=$pack || fail "rvosink $m"
    fi
    cmp -s "$out.want" "$out" || fail "rvosink $m: not rvo encode's bytes"
done

expect 0 "Duration: 0:00:00.240000000" -- timeout 60 gst-discoverer-1.0 "$DIR/packed.rvo"
expect 0 "Seekable: yes" -- timeout 60 gst-discoverer-1.0 "$DIR/jpeg.rvo"
expect 0 "Duration: 0:00:00.160000000" -- timeout 60 gst-discoverer-1.0 "$DIR/stills.rvo"

# A pipeline that stops on an error (sources send EOS after it) or without EOS
# (interrupted) leaves a file that rvo recover rebuilds, and that the reader
# refuses until then.
expect 1 "" -- launch videotestsrc num-buffers=$N ! video/x-raw,format=BGRA,width=$W,height=$H ! identity error-after=4 \
    ! rvosink location="$DIR/unfinished.rvo" mode=packed
expect 1 "unfinished PackedFrames file .*: 3 whole frames can be recovered" -- "$RVO" verify "$DIR/unfinished.rvo"
timeout -s INT 2 gst-launch-1.0 -q videotestsrc is-live=true ! video/x-raw,format=BGRA,width=$W,height=$H,framerate=25/1 \
    ! rvosink location="$DIR/interrupted.rvo" mode=jpeg >/dev/null 2>&1
expect 1 "unfinished JpegBlobs file" -- "$RVO" verify "$DIR/interrupted.rvo"
expect 0 "" -- "$RVO" recover "$DIR/unfinished.rvo"
expect 0 "3 frames, all decode" -- "$RVO" verify "$DIR/unfinished-recovered.rvo"

# Damaged, cut and unfinished files: the tool's message, exit 1, no hang.
head -c 3000 "$DIR/packed.rvo" >"$DIR/cut.rvo"
cp "$DIR/raw.rvo" "$DIR/short.rvo"
truncate -s -100 "$DIR/short.rvo"
cp "$DIR/jpeg.rvo" "$DIR/bad-index.rvo"
printf '\xff\xff\xff\x7f' | dd of="$DIR/bad-index.rvo" bs=1 seek=8 conv=notrunc status=none
for f in "cut damaged" "short frame 5 does not decode" "bad-index damaged" "unfinished unfinished PackedFrames file"; do
    set -- $f
    expect 1 "ERROR: .*$DIR/$1.rvo: ${*:2}" -- launch filesrc location="$DIR/$1.rvo" ! decodebin ! fakesink
done

# The thumbnailer: a movie whose first frames are transparent shows its
# first visible frame, fitted within the size asked.
launch videotestsrc num-buffers=2 pattern=solid-color foreground-color=0xff2040c0 \
    ! video/x-raw,format=BGRA,width=$W,height=$H ! filesink location="$DIR/solid.bgra" || fail "videotestsrc solid"
{ head -c $((W * H * 4 * 2)) /dev/zero; cat "$DIR/solid.bgra"; } >"$DIR/fade.bgra"
"$RVO" encode --mode packed --size ${W}x$H -o "$DIR/fade.rvo" - <"$DIR/fade.bgra" >/dev/null || fail "rvo encode fade"
expect 0 "" -- "$RVO" thumbnail -s 32 "$DIR/fade.rvo" "$DIR/fade.png"
[ "$(od -A n -t x1 -j 16 -N 8 "$DIR/fade.png" | tr -d ' ')" = 0000002000000018 ] ||
    fail "the thumbnail is not 32x24: $(od -A n -t x1 -j 16 -N 8 "$DIR/fade.png")"
ffmpeg -v error -i "$DIR/fade.png" -f rawvideo -pix_fmt bgra - >"$DIR/fade-thumb.bgra" || fail "ffmpeg fade.png"
[ "$(od -A n -v -t x4 "$DIR/fade-thumb.bgra" | tr -s ' ' '\n' | sort -u | tr -d '\n')" = ff2040c0 ] ||
    fail "the thumbnail is not the first visible frame"

# The MIME type: its glob and magic as shared-mime-info compiles them.
mkdir -p "$DIR/mime/packages"
cp "$SRC/package/desktop/rvo-mime.xml" "$DIR/mime/packages/rvo.xml"
update-mime-database "$DIR/mime" || fail "update-mime-database"
grep -q "video/x-rvo:\*\.rvo" "$DIR/mime/globs2" || fail "no *.rvo glob: $(cat "$DIR/mime/globs2")"
grep -aq "QARVOV10" "$DIR/mime/magic" || fail "no magic for video/x-rvo"

finish "GStreamer pipeline"
