#!/usr/bin/env bash
# rvo demo on a small movie: the table has a row per writable mode with the
# lossless modes exact, and the contact sheet is a valid PNG of the size its
# grid gives (4 rows of 4 thumbnails, a quarter of the frame each, 8-pixel gaps).
# Usage: rvo_demo_test.sh RVO_BINARY SCRATCH_DIR
set -uo pipefail
RVO="$1"
DIR="$2/cli-demo"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

out=$("$RVO" demo --out "$DIR" --frames 6 --width 96 --height 64 2>&1)
[ $? = 0 ] || fail "demo exited non-zero: $out"
number='[0-9]+(\.[0-9]+)?'
grep -Eq "^JpegBlobs +demo-jpeg.rvo +[0-9]+( +$number){4} +[0-9]+\.[0-9]+$" <<<"$out" || fail "JPEG row: $out"
grep -Eq "^RawFrames +demo-raw.rvo +[0-9]+( +$number){4} +inf$" <<<"$out" || fail "raw row: $out"
grep -Eq "^PackedFrames +demo-packed.rvo +[0-9]+( +$number){4} +inf$" <<<"$out" || fail "packed row: $out"
grep -Eq "Contact sheet: $DIR/contact-sheet.png \(136x104;" <<<"$out" || fail "contact sheet line: $out"

sheet="$DIR/contact-sheet.png"
[ "$(head -c 8 "$sheet" | od -A n -t x1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "no PNG signature"
[ "$(head -c 16 "$sheet" | tail -c 4)" = IHDR ] || fail "first chunk is not IHDR"
be32() { od -A n -t x1 -j "$2" -N 4 "$1" | tr -d ' ' | xargs -I{} printf '%d' 0x{}; }
[ "$(be32 "$sheet" 16)x$(be32 "$sheet" 20)" = 136x104 ] || fail "sheet is $(be32 "$sheet" 16)x$(be32 "$sheet" 20), not 136x104"
if command -v ffmpeg >/dev/null; then
    # Every chunk's CRC and the whole image stream checked by a second decoder.
    ffmpeg -v error -err_detect crccheck+explode -i "$sheet" -f null - || fail "ffmpeg rejects the contact sheet"
else
    fail "ffmpeg not found (scripts/bootstrap.sh installs it)"
fi
for f in demo-jpeg demo-raw demo-packed; do
    expect 0 "6 frames, all decode" -- "$RVO" verify "$DIR/$f.rvo"
done

finish "rvo demo"
