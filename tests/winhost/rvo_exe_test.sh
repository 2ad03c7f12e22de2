#!/usr/bin/env bash
# rvo.exe under Wine against the Linux tool (build/rvo): every subcommand, raw
# frames through stdin and stdout unchanged (bytes 0x1A and CR LF among them),
# files, decodes and messages byte for byte the Linux tool's for raw and PNG
# input (8 and 16-bit) in every mode, the PNG table read as stored both as
# frames and as the stills of an image-list file (the Windows Imaging
# Component), a non-ASCII and a long file name, and a recording killed mid-way
# recovered with every whole frame, as the Linux tool recovers it.
# Usage: rvo_exe_test.sh "WINE [ARGS]" RVO_EXE LINUX_RVO WRITE_PNG_KINDS SCRATCH_DIR
set -uo pipefail
read -r -a WINE <<<"$1"
EXE=$2 LRVO=$3 KINDS=$4
DIR="$5/rvo-exe"
rm -rf "$DIR" && mkdir -p "$DIR/L" "$DIR/W"
source "$(dirname "$0")/../cli/common.sh"
[ -x "$LRVO" ] || { echo "the Linux tool $LRVO is missing: build the release preset first"; exit 1; }
# The first start tells whether this Wine runs at all (wine32.sh: 77 where the kernel runs no 32-bit programs).
"${WINE[@]}" "$EXE" --version >"$DIR/version.txt" 2>&1
rc=$?
[ $rc = 77 ] && { cat "$DIR/version.txt"; exit 77; }
[ $rc = 0 ] || { echo "rvo.exe does not start: $(cat "$DIR/version.txt")"; exit 1; }
wrvo() { "${WINE[@]}" "$EXE" "$@"; }

W=48 H=32
FRAME=$((W * H * 4))
# Both tools run in their own folder on the same relative names, so their
# output (which names the files) must match byte for byte.
same() {   # label, then the command's words after the tool
    local label=$1
    shift
    (cd "$DIR/L" && "$LRVO" "$@" >out.txt 2>err.txt; echo $? >rc.txt)
    (cd "$DIR/W" && wrvo "$@" >out.txt 2>err.txt; echo $? >rc.txt)
    for f in rc.txt out.txt err.txt; do
        cmp -s "$DIR/L/$f" "$DIR/W/$f" || fail "$label: $f differs: Linux '$(head -c 300 "$DIR/L/$f")', Windows '$(head -c 300 "$DIR/W/$f")'"
    done
}
# Only the exit codes, where the output holds times.
same_rc() {
    local label=$1
    shift
    local l w
    (cd "$DIR/L" && "$LRVO" "$@" >/dev/null 2>&1); l=$?
    (cd "$DIR/W" && wrvo "$@" >out.txt 2>err.txt); w=$?
    [ $l = $w ] || fail "$label: exit $w on Windows, $l on Linux: $(head -c 300 "$DIR/W/err.txt")"
}
same_file() { cmp -s "$DIR/L/$1" "$DIR/W/$1" || fail "$1 differs between the Linux and Windows tools"; }

# Raw frames holding 0x1A (a text-mode end of file) and CR LF (a text-mode line end).
{ printf '\x1a\r\n\x1a\x0d\x0a\r\n'; head -c $((4 * FRAME - 8)) /dev/urandom; } >"$DIR/frames.bgra"
cp "$DIR/frames.bgra" "$DIR/L/" && cp "$DIR/frames.bgra" "$DIR/W/"
# PNG frames: 8-bit RGBA and 16-bit RGBA.
ffmpeg -v error -f lavfi -i "testsrc2=size=${W}x${H}:rate=25" -frames:v 2 -pix_fmt rgba "$DIR/L/p8-%d.png" &&
    ffmpeg -v error -f lavfi -i "testsrc2=size=${W}x${H}:rate=25" -frames:v 2 -pix_fmt rgba64be "$DIR/L/p16-%d.png" ||
    fail "ffmpeg cannot write PNGs"
cp "$DIR"/L/p*.png "$DIR/W/"

for mode in jpeg raw packed; do
    (cd "$DIR/L" && "$LRVO" encode --mode $mode --size ${W}x${H} -o s-$mode.rvo - <frames.bgra >/dev/null 2>&1)
    (cd "$DIR/W" && wrvo encode --mode $mode --size ${W}x${H} -o s-$mode.rvo - <frames.bgra >/dev/null 2>&1) ||
        fail "$mode: rvo.exe encode from stdin failed"
    same_file s-$mode.rvo
    for bits in 8 16; do
        same_rc "$mode $bits-bit PNG encode" encode --mode $mode -o p$bits-$mode.rvo p$bits-1.png p$bits-2.png
        same_file p$bits-$mode.rvo
    done
    # Each tool decodes the other's file; raw and packed give the frames back unchanged.
    cp "$DIR/L/s-$mode.rvo" "$DIR/W/x-$mode.rvo" && cp "$DIR/W/s-$mode.rvo" "$DIR/L/x-$mode.rvo"
    same "$mode decode to stdout" decode x-$mode.rvo -o -
    if [ $mode != jpeg ]; then cmp -s "$DIR/W/out.txt" "$DIR/frames.bgra" || fail "$mode: rvo.exe decode changed the frames"; fi
done
same "info --json" info --json s-packed.rvo
same "verify" verify s-jpeg.rvo
same "decode to PNG" decode p16-raw.rvo -o back%d.png
same_file back0.png
same_file back1.png
same_rc "preload" preload s-raw.rvo
grep -q "frames preloaded\|preloaded" "$DIR/W/out.txt" "$DIR/W/err.txt" || fail "rvo.exe preload: $(cat "$DIR/W/out.txt" "$DIR/W/err.txt")"
(cd "$DIR/W" && wrvo bench codec >/dev/null 2>&1)
[ $? = 1 ] || fail "rvo.exe bench does not fail"

# A damaged frame-area copy of a JPEG picture: verify names it, repair mends it.
blob=$("$LRVO" info --json "$DIR/L/s-jpeg.rvo" | grep -o '"blobOffset": [0-9]*' | sed -n 2p | grep -o '[0-9]*$')
head -c 64 /dev/zero | tr '\0' '\125' | dd of="$DIR/L/s-jpeg.rvo" bs=1 seek=$((blob + 40)) conv=notrunc status=none
cp "$DIR/L/s-jpeg.rvo" "$DIR/W/s-jpeg.rvo"
same "verify of a damaged copy" verify s-jpeg.rvo
same "repair" repair s-jpeg.rvo
same_file s-jpeg-repaired.rvo

# The PNG table, as frames and as the stills of an image-list file.
mkdir -p "$DIR/L/k" && "$KINDS" "$DIR/L/k" $W $H || fail "write_png_kinds failed"
cp -r "$DIR/L/k" "$DIR/W/"
mapfile -t kinds <"$DIR/L/k/kinds.txt"
n=${#kinds[@]}
same_rc "PNG table encode" encode --mode raw -o k/kinds.rvo $(printf 'k/%s.png ' "${kinds[@]}")
same_file k/kinds.rvo
same "PNG table decode" decode k/kinds.rvo -o -
cmp -s "$DIR/W/out.txt" "$DIR/L/k/kinds.bgra" || fail "the PNG table's frames are not the stored samples"
{
    printf 'QARVOV10'; u32 160; u32 $n; u32 $n; u32 2; u32 $W; u32 $H; zeros 128
    for ((kk = 0; kk < n; kk++)); do record 2 "${kinds[kk]}.png" $kk $kk; done
} >"$DIR/L/k/stills.rvo"
cp "$DIR/L/k/stills.rvo" "$DIR/W/k/"
same "PNG table as stills" decode k/stills.rvo -o -
cmp -s "$DIR/W/out.txt" "$DIR/L/k/kinds.bgra" || fail "the PNG table's stills are not the stored samples"

# A non-ASCII name and one longer than 260 characters.
long=$(printf 'd%.0s' $(seq 120))
mkdir -p "$DIR/W/$long/$long"
for name in "Grüße-ß-日本.rvo" "$long/$long/long-name.rvo"; do
    (cd "$DIR/W" && wrvo encode --mode packed --size ${W}x${H} -o "$name" - <frames.bgra >/dev/null 2>&1) ||
        fail "rvo.exe cannot write $name"
    cmp -s "$DIR/W/$name" "$DIR/W/s-packed.rvo" || fail "$name differs from the same movie under a plain name"
    (cd "$DIR/W" && wrvo decode "$name" -o - | cmp -s - frames.bgra) || fail "rvo.exe cannot read $name back"
done
# Backslashes as well as slashes.
(cd "$DIR/W" && wrvo info 'k\kinds.rvo' >/dev/null) || fail "rvo.exe does not take backslashes in paths"

# A recording killed mid-way (rvo.exe encode of a packed movie, killed after
# three whole frames): rvo.exe recovers every whole frame, as the Linux tool
# does from the same file.
record_bytes=$(((FRAME + 16 + 511) / 512 * 512))
want=$((512 + 3 * record_bytes))
fifo="$DIR/fifo" && rm -f "$fifo" && mkfifo "$fifo"
(cd "$DIR/W" && exec "${WINE[@]}" "$EXE" encode --mode packed --size ${W}x${H} -o killed.rvo - <"$fifo" >/dev/null 2>&1) &
pid=$!
exec 3>"$fifo"
head -c $((3 * FRAME)) "$DIR/frames.bgra" >&3
for ((t = 0; t < 400; t++)); do
    [ "$(stat -c %s "$DIR/W/killed.rvo" 2>/dev/null || echo 0)" -ge "$want" ] && break
    sleep 0.05
done
sleep 0.2
{ kill -9 $pid; wait $pid; } 2>/dev/null
exec 3>&-
rm -f "$fifo"
cp "$DIR/W/killed.rvo" "$DIR/L/killed.rvo"
same "recover of a killed recording" recover killed.rvo
same_file killed-recovered.rvo
(cd "$DIR/W" && wrvo decode killed-recovered.rvo -o - | cmp -s - <(head -c $((3 * FRAME)) frames.bgra)) ||
    fail "the recovered movie lacks the killed recording's three whole frames"

same_rc "demo" demo --frames 4 --width 64 --height 48 --out demo-out
[ -s "$DIR/W/demo-out/contact-sheet.png" ] || fail "rvo.exe demo wrote no contact sheet"
finish "rvo.exe"
