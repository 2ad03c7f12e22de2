#!/usr/bin/env bash
# The rvo tool as a user meets it: info on files of each writable mode (table
# and JSON), one-line errors naming the file for bad input (exit 1), usage
# errors (exit 2).
# Usage: rvo_info_test.sh RVO_BINARY SCRATCH_DIR
set -uo pipefail
RVO="$1"
DIR="$2/cli-info"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

expect 0 "PackedFrames +demo-packed.rvo" -- "$RVO" demo --out "$DIR" --frames 3 --width 48 --height 32

expect 0 "mode +3 \(JpegBlobs\)" -- "$RVO" info "$DIR/demo-jpeg.rvo"
expect 0 "No\.2 +2 +0 +[0-9]+ +[0-9]+" -- "$RVO" info "$DIR/demo-jpeg.rvo"
expect 0 "frame size +48 x 32" -- "$RVO" info "$DIR/demo-raw.rvo"
expect 0 "size table +512 bytes at" -- "$RVO" info "$DIR/demo-packed.rvo"

json=$("$RVO" info --json "$DIR/demo-jpeg.rvo")
for key in magic mode width height entryCount frameCount indexOffset sizeTableBytes sizeTableOffset entries \
           kind name startFrame lastFrame flags blobOffset blobSize; do
    grep -q "\"$key\": " <<<"$json" || fail "JSON lacks $key: $json"
done
grep -q '"mode": 3, "width": 48, "height": 32, "entryCount": 3, "frameCount": 3, "indexOffset": ' <<<"$json" ||
    fail "JSON header: $json"
[ "$(grep -c '"kind": 1' <<<"$json")" = 3 ] || fail "JSON entries: $json"
expect 0 '"mode": 5, "width": 48, "height": 32, "entryCount": 3, "frameCount": 3, "indexOffset": 512, "sizeTableBytes": 512, "sizeTableOffset": [0-9]+, "entries": \[\]' \
    -- "$RVO" info --json "$DIR/demo-packed.rvo"

# The record type of every packed frame: two of the titles keep alpha runs by
# the module's rule, and all become colour runs with --pack smallest.
expect 0 "records +0 PackedRaw, 2 PackedAlphaRuns, 1 PackedColourRuns$" -- "$RVO" info "$DIR/demo-packed.rvo"
"$RVO" decode "$DIR/demo-packed.rvo" -o - >"$DIR/titles.bgra" || fail "decode"
expect 0 "PackedFrames" -- "$RVO" encode --mode packed --pack smallest --size 48x32 -o "$DIR/smallest.rvo" - <"$DIR/titles.bgra"
expect 0 '"recordTypes": \{"PackedRaw": 0, "PackedAlphaRuns": 0, "PackedColourRuns": 3, "unreadable": 0\}\}$' \
    -- "$RVO" info --json "$DIR/smallest.rvo"
# A record whose tag is damaged: counted, not trusted (rvo verify says why).
cp "$DIR/smallest.rvo" "$DIR/bad-tag.rvo"
printf '\x00' | dd of="$DIR/bad-tag.rvo" bs=1 seek=515 conv=notrunc status=none
expect 0 "records +0 PackedRaw, 0 PackedAlphaRuns, 2 PackedColourRuns, 1 unreadable" -- "$RVO" info "$DIR/bad-tag.rvo"
expect 2 "" -- "$RVO" encode --mode jpeg --pack smallest --size 48x32 -o "$DIR/x.rvo" - <"$DIR/titles.bgra"
expect 2 "" -- "$RVO" encode --mode packed --pack tiny --size 48x32 -o "$DIR/x.rvo" - <"$DIR/titles.bgra"

# An image-list file written byte by byte: header, then two index records
# naming still images (frames 0-4 and 5-9), no blobs.
{
    printf 'QARVOV10'; u32 160; u32 2; u32 10; u32 2; u32 320; u32 240; zeros 128
    record 2 'C:/stills/a.png' 0 4
    record 2 'C:/stills/b.png' 5 9
} >"$DIR/stills.rvo"
expect 0 "mode +2 \(ImageList\)" -- "$RVO" info "$DIR/stills.rvo"
expect 0 "1 +image +C:/stills/b.png +5-9 +1 +0 +0" -- "$RVO" info "$DIR/stills.rvo"
expect 0 '"kind": 2, "name": "C:/stills/a.png", "startFrame": 0, "lastFrame": 4, "flags": 1, "blobOffset": 0, "blobSize": 0' \
    -- "$RVO" info --json "$DIR/stills.rvo"

# Bad input: one line on stderr that names the file and the problem; exit 1.
echo "hello, not a movie at all, but long enough to have 160 bytes ......................................................................................................................" >"$DIR/text.rvo"
expect 1 "^rvo: $DIR/text.rvo: not an RVO file" -- "$RVO" info "$DIR/text.rvo"
printf 'QARVOV1' >"$DIR/short.rvo"
expect 1 "short.rvo: not an RVO file" -- "$RVO" info "$DIR/short.rvo"
expect 1 "missing.rvo: no such file" -- "$RVO" info "$DIR/missing.rvo"
expect 1 "not a regular file" -- "$RVO" info "$DIR"
head -c 200 "$DIR/demo-jpeg.rvo" >"$DIR/cut.rvo"
expect 1 "cut.rvo: damaged RVO file" -- "$RVO" info "$DIR/cut.rvo"
lines=$("$RVO" info "$DIR/text.rvo" 2>&1 | wc -l)
[ "$lines" = 1 ] || fail "error message spans $lines lines"

# Usage errors: exit 2; help: exit 0.
expect 2 "" -- "$RVO"
expect 2 "" -- "$RVO" info
expect 2 "" -- "$RVO" info --bogus "$DIR/demo-raw.rvo"
expect 2 "" -- "$RVO" nosuchcommand
expect 0 "Example" -- "$RVO" info --help
expect 0 "info" -- "$RVO" --help

[ "$failures" = 0 ] && echo "all rvo info checks passed"
exit $((failures > 0))
