#!/usr/bin/env bash
# The rvo tool end to end, as a user runs it: ffmpeg makes a short clip, rvo
# encodes it in each storage mode, describes it (info --json), verifies it,
# preloads it and decodes it back into ffmpeg, which compares frames with the
# source: count, size and MD5 of every frame (lossless modes) or PSNR (JPEG).
# PNG files go through encode and decode too.
# Usage: rvo_roundtrip_test.sh RVO_BINARY SCRATCH_DIR
set -uo pipefail
RVO="$1"
DIR="$2/cli-roundtrip"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

# Bootstrap installs ffmpeg; without it this test cannot say anything.
command -v ffmpeg >/dev/null || { echo "FAIL: ffmpeg not found (scripts/bootstrap.sh installs it)"; exit 1; }

W=96 H=64 N=8
FRAME=$((W * H * 4))
# Smooth colour (the JPEG codec's domain) and an alpha channel that varies, so
# every byte of a pixel takes part.
CLIP="testsrc2=size=${W}x${H}:rate=10,gblur=sigma=1.5,format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='b(X,Y)':a='128+127*sin(X/9+Y/13+T)'"
clip() { ffmpeg -v error -f lavfi -i "$CLIP" -frames:v $N -f rawvideo -pix_fmt bgra -; }
# One line per frame: its MD5 as ffmpeg computes it from raw BGRA on stdin.
frame_md5() { ffmpeg -v error -f rawvideo -pix_fmt bgra -s ${W}x${H} -i - -f framemd5 - | grep -v '^#' | awk -F, '{gsub(/ /, "", $NF); print $NF}'; }

clip >"$DIR/source.bgra" || fail "ffmpeg cannot make the clip"
[ "$(stat -c %s "$DIR/source.bgra")" = $((N * FRAME)) ] || fail "ffmpeg clip has the wrong size"
frame_md5 <"$DIR/source.bgra" >"$DIR/source.md5"
[ "$(wc -l <"$DIR/source.md5")" = $N ] || fail "ffmpeg does not count $N source frames"

declare -A MODE_NUMBER=([jpeg]=3 [raw]=4 [packed]=5)
for mode in jpeg raw packed; do
    f="$DIR/clip-$mode.rvo"
    out=$(clip | "$RVO" encode --mode $mode --size ${W}x${H} -o "$f" - 2>&1)
    [ $? = 0 ] || fail "$mode: encode: $out"
    grep -Eq "^$f: $N frames of ${W}x${H}, [A-Za-z]+, [0-9]+ bytes, [0-9.]+ ms/frame$" <<<"$out" ||
        fail "$mode: encode summary: $out"

    json=$("$RVO" info --json "$f")
    grep -q "\"mode\": ${MODE_NUMBER[$mode]}, \"width\": $W, \"height\": $H, " <<<"$json" || fail "$mode: info: $json"
    grep -q "\"frameCount\": $N," <<<"$json" || fail "$mode: info frame count: $json"

    expect 0 "^$f: $N frames, all decode" -- "$RVO" verify "$f"
    expect 0 "preloaded $N of $N frames" -- "$RVO" preload "$f"
    expect 0 "^\\{\"file\": \"$f\", \"mode\": ${MODE_NUMBER[$mode]}, \"width\": $W, \"height\": $H, \"frames\": $N, \"framesLoaded\": $N, \"preloadMs\": [0-9.]+, \"bytesLocked\": [1-9][0-9]*, \"deliveryMsPerFrame\": [0-9.]+, \"pageLock\": \"[^\"]+\"\\}$" \
        -- "$RVO" preload --json "$f"

    "$RVO" decode "$f" -o - >"$DIR/back-$mode.bgra" || fail "$mode: decode exited $?"
    [ "$(stat -c %s "$DIR/back-$mode.bgra")" = $((N * FRAME)) ] || fail "$mode: decoded $(stat -c %s "$DIR/back-$mode.bgra") bytes"
    "$RVO" decode "$f" -o - | frame_md5 >"$DIR/back-$mode.md5"
    [ "$(wc -l <"$DIR/back-$mode.md5")" = $N ] || fail "$mode: ffmpeg counts $(wc -l <"$DIR/back-$mode.md5") frames"
    if [ $mode = jpeg ]; then
        psnr=$("$RVO" decode "$f" -o - |
            ffmpeg -f rawvideo -pix_fmt bgra -s ${W}x${H} -i - -f rawvideo -pix_fmt bgra -s ${W}x${H} -i "$DIR/source.bgra" \
                -lavfi psnr -f null - 2>&1 | grep -o 'average:[0-9.inf]*' | cut -d: -f2)
        awk -v p="$psnr" 'BEGIN { exit !(p != "" && (p == "inf" || p + 0 >= 28)) }' || fail "jpeg: PSNR '$psnr' below 28 dB"
        cmp -s "$DIR/source.md5" "$DIR/back-$mode.md5" && fail "jpeg: lossy mode gave identical frames (not JPEG?)"
    else
        cmp -s "$DIR/source.md5" "$DIR/back-$mode.md5" || fail "$mode: frames differ from the source"
        cmp -s "$DIR/source.bgra" "$DIR/back-$mode.bgra" || fail "$mode: bytes differ from the source"
    fi
done

# PNG files in, PNG files out (libpng), with ffmpeg writing and reading them.
mkdir -p "$DIR/png-in" "$DIR/png-out"
ffmpeg -v error -f lavfi -i "$CLIP" -frames:v 3 -pix_fmt rgba "$DIR/png-in/in%02d.png" || fail "ffmpeg cannot write PNGs"
expect 0 "3 frames of ${W}x${H}, PackedFrames" -- "$RVO" encode --mode packed -o "$DIR/png.rvo" "$DIR"/png-in/in01.png \
    "$DIR"/png-in/in02.png "$DIR"/png-in/in03.png
expect 0 "3 frames of ${W}x${H} written to" -- "$RVO" decode "$DIR/png.rvo" -o "$DIR/png-out/frame%04d.png"
[ -f "$DIR/png-out/frame0002.png" ] && [ ! -f "$DIR/png-out/frame0003.png" ] || fail "PNG names: $(ls "$DIR/png-out")"
png_md5() { ffmpeg -v error -i "$1" -f rawvideo -pix_fmt bgra - | md5sum; }
for i in 1 2 3; do
    [ "$(png_md5 "$DIR/png-in/in0$i.png")" = "$(png_md5 "$DIR/png-out/frame000$((i - 1)).png")" ] ||
        fail "PNG frame $i differs after the round trip"
done

# An image-list file (written byte by byte) naming two of those PNG files, the
# first by its full path, the second in a folder that does not exist, so that
# the module finds it in the movie's own folder. The default image services
# read them; at the movie's frame size the pixels come through unchanged.
cp "$DIR/png-in/in02.png" "$DIR/png-in/in03.png" "$DIR/png-out/"
{
    printf 'QARVOV10'; u32 160; u32 2; u32 4; u32 2; u32 $W; u32 $H; zeros 128
    record 2 "$DIR/png-out/in02.png" 0 1
    record 2 "C:/elsewhere/in03.png" 2 3
} >"$DIR/png-out/stills.rvo"
expect 0 "^$DIR/png-out/stills.rvo: 4 frames, all decode \(ImageList, 2 pictures checked\)" -- \
    "$RVO" verify "$DIR/png-out/stills.rvo"
"$RVO" decode "$DIR/png-out/stills.rvo" -o - | frame_md5 >"$DIR/stills.md5"
for i in 2 3; do png_md5 "$DIR/png-in/in0$i.png"; png_md5 "$DIR/png-in/in0$i.png"; done | awk '{print $1}' >"$DIR/stills-expected.md5"
cmp -s "$DIR/stills.md5" "$DIR/stills-expected.md5" || fail "image-list frames differ from their PNG files"
# Entries of ten frames each: a worker's reader meets the same entry again with
# another frame buffer, which does not hold the picture yet.
{
    printf 'QARVOV10'; u32 160; u32 2; u32 20; u32 2; u32 $W; u32 $H; zeros 128
    record 2 "$DIR/png-out/in02.png" 0 9
    record 2 "$DIR/png-out/in03.png" 10 19
} >"$DIR/png-out/long-stills.rvo"
for i in 2 3; do for k in $(seq 10); do png_md5 "$DIR/png-in/in0$i.png"; done; done | awk '{print $1}' >"$DIR/long-expected.md5"
for t in 1 2 7; do
    "$RVO" decode --threads $t "$DIR/png-out/long-stills.rvo" -o - | frame_md5 >"$DIR/long-stills.md5"
    cmp -s "$DIR/long-stills.md5" "$DIR/long-expected.md5" || fail "image-list frames with $t threads differ from their PNG files"
done
rm "$DIR/png-out/in03.png"
expect_failure "stills.rvo: frame 2 does not decode \(still image 'C:/elsewhere/in03.png' of entry 1" -- \
    "$RVO" verify "$DIR/png-out/stills.rvo"

finish "rvo round-trip"
