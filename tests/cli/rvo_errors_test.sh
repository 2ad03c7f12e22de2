#!/usr/bin/env bash
# Every rvo subcommand refuses bad arguments with exit 2 and bad or damaged
# input with exit 1 and one line naming the file and the problem; every
# subcommand's help explains it with an example.
# Usage: rvo_errors_test.sh RVO_BINARY SCRATCH_DIR [sanitized]
set -uo pipefail
RVO="$1"
DIR="$2/cli-errors"
SANITIZED="${3:-}"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

W=48 H=40
FRAME=$((W * H * 4))
# Frames of smooth gradients from a few bytes of shell: every pixel of row y is
# (y, 2y, 3y, 255), so frames are valid input for every mode.
frames() {   # count
    local row y
    for ((n = 0; n < $1; n++)); do
        for ((y = 0; y < H; y++)); do
            row=$(printf '\\x%02x\\x%02x\\x%02x\\xff' $((y + n)) $((2 * y)) $((3 * y)))
            printf "%.0s$row" $(seq $W)
        done
    done
}
frames 8 >"$DIR/frames.bgra"
[ "$(stat -c %s "$DIR/frames.bgra")" = $((8 * FRAME)) ] || fail "fixture frames have the wrong size"
for mode in jpeg raw packed; do
    "$RVO" encode --mode $mode --size ${W}x${H} -o "$DIR/good-$mode.rvo" - <"$DIR/frames.bgra" >/dev/null ||
        fail "cannot encode the $mode fixture"
done

# Help: every subcommand explains itself with an example.
for cmd in info encode decode verify repair preload bench demo; do
    expect 0 "Example" -- "$RVO" $cmd --help
done

# Usage errors: exit 2.
x="$DIR/x.rvo"
expect 2 "" -- "$RVO"
expect 2 "" -- "$RVO" nosuchcommand
expect 2 "" -- "$RVO" encode
expect 2 "mode" -- "$RVO" encode --mode bogus --size 8x8 -o "$x" -
expect 2 "WxH|WIDTHxHEIGHT" -- "$RVO" encode --mode raw --size 0x8 -o "$x" -
expect 2 "WxH|WIDTHxHEIGHT" -- "$RVO" encode --mode raw --size 12 -o "$x" -
expect 2 "WxH|WIDTHxHEIGHT" -- "$RVO" encode --mode raw --size 20000x8 -o "$x" -
expect 2 "size" -- "$RVO" encode --mode raw -o "$x" -
expect 2 "mixed" -- "$RVO" encode --mode raw --size 8x8 -o "$x" - "$DIR/a.png"
expect 2 "output" -- "$RVO" encode --mode raw --size 8x8 -
expect 2 "" -- "$RVO" decode
expect 2 "output" -- "$RVO" decode "$DIR/good-raw.rvo"
expect 2 "%d" -- "$RVO" decode "$DIR/good-raw.rvo" -o "$DIR/frame.png"
expect 2 "%d" -- "$RVO" decode "$DIR/good-raw.rvo" -o "$DIR/frame%s.png"
expect 2 "%d" -- "$RVO" decode "$DIR/good-raw.rvo" -o "$DIR/f%d-%d.png"
expect 2 "" -- "$RVO" verify
expect 2 "" -- "$RVO" verify "$DIR/good-raw.rvo" "$DIR/good-jpeg.rvo"
expect 2 "" -- "$RVO" preload
expect 2 "" -- "$RVO" preload --bogus "$DIR/good-raw.rvo"
expect 2 "" -- "$RVO" bench nosuchbench
expect 2 "" -- "$RVO" bench --bogus
expect 2 "" -- "$RVO" demo --frames 0
expect 2 "" -- "$RVO" demo --width 8

# Files that are not RVO files, or not there: every reading subcommand says so.
printf 'hello, not a movie at all, but longer than the 160 bytes of a header %0100d\n' 0 >"$DIR/text.rvo"
printf 'QARVOV1' >"$DIR/short.rvo"
read_cmds=("verify" "preload" "decode -o $DIR/out%d.png")
for c in "${read_cmds[@]}"; do
    expect_failure "text.rvo: not an RVO file" -- "$RVO" $c "$DIR/text.rvo"
    expect_failure "short.rvo: not an RVO file" -- "$RVO" $c "$DIR/short.rvo"
    expect_failure "missing.rvo: no such file" -- "$RVO" $c "$DIR/missing.rvo"
    expect_failure "not a regular file" -- "$RVO" $c "$DIR"
done

# Damaged files: a raw file cut after five records; a packed file whose first
# record has an unknown tag; a JPEG file whose frame-area blob copies are
# damaged (marker, then stream bytes), and one whose index is cut short.
cp "$DIR/good-raw.rvo" "$DIR/cut-raw.rvo"
record=$(((FRAME + 511) / 512 * 512))
truncate -s $((512 + 5 * record)) "$DIR/cut-raw.rvo"
cp "$DIR/good-packed.rvo" "$DIR/badtag.rvo"
printf '\x07\x00\x00\x00' | dd of="$DIR/badtag.rvo" bs=1 seek=512 conv=notrunc 2>/dev/null
blob2=$("$RVO" info --json "$DIR/good-jpeg.rvo" | grep -o '"blobOffset": [0-9]*' | sed -n 3p | grep -o '[0-9]*$')
[ -n "$blob2" ] && [ "$blob2" -gt 160 ] || fail "no blob offset for entry 2"
cp "$DIR/good-jpeg.rvo" "$DIR/badmarker.rvo"
printf 'XXXX' | dd of="$DIR/badmarker.rvo" bs=1 seek="$blob2" conv=notrunc 2>/dev/null
cp "$DIR/good-jpeg.rvo" "$DIR/badcopy.rvo"
head -c 64 /dev/zero | tr '\0' '\125' | dd of="$DIR/badcopy.rvo" bs=1 seek=$((blob2 + 40)) conv=notrunc 2>/dev/null
index=$(u32_at "$DIR/good-jpeg.rvo" 8)
head -c $((index + 100)) "$DIR/good-jpeg.rvo" >"$DIR/cutindex.rvo"

expect_failure "cut-raw.rvo: frame 5 does not decode \(truncated\)" -- "$RVO" verify "$DIR/cut-raw.rvo"
expect_failure "cut-raw.rvo: frame 5 does not decode \(truncated\)" -- "$RVO" decode "$DIR/cut-raw.rvo" -o -
expect_failure "cut-raw.rvo: preloading stopped after 5 of 8 frames: truncated" -- "$RVO" preload "$DIR/cut-raw.rvo"
expect_failure "badtag.rvo: frame 0 does not decode \(invalid data\)" -- "$RVO" verify "$DIR/badtag.rvo"
expect_failure "badtag.rvo: frame 0 does not decode" -- "$RVO" decode "$DIR/badtag.rvo" -o "$DIR/bt%d.png"
expect_failure "badtag.rvo: preloading stopped after 0 of 8 frames" -- "$RVO" preload "$DIR/badtag.rvo"
# One copy of a picture damaged: verify names it and fails, the frame reads whole from the other.
expect_failure "badmarker.rvo: frame 2: the frame-area copy of its picture is damaged \(it cannot be read.*reads whole from the index copy" \
    -- "$RVO" verify "$DIR/badmarker.rvo"
expect_failure "badcopy.rvo: frame 2: the frame-area copy of its picture is damaged \(its JPEG data is damaged\); the frame reads whole" \
    -- "$RVO" verify "$DIR/badcopy.rvo"
"$RVO" decode "$DIR/good-jpeg.rvo" -o - | cmp -s - <("$RVO" decode "$DIR/badcopy.rvo" -o -) ||
    fail "a picture with one damaged copy does not decode as the intact file"
# rvo repair writes the file with both copies whole beside the input, and never over a file unasked.
for f in badcopy badmarker; do
    expect 0 "1 picture repaired" -- "$RVO" repair "$DIR/$f.rvo"
    cmp -s "$DIR/$f-repaired.rvo" "$DIR/good-jpeg.rvo" || fail "rvo repair of $f.rvo did not give the intact file"
done
expect_failure "badcopy-repaired.rvo: already exists; give --force" -- "$RVO" repair "$DIR/badcopy.rvo"
cp "$DIR/badcopy.rvo" "$DIR/inplace.rvo"
expect 0 "written to .*inplace.rvo \(the original kept as" -- "$RVO" repair --in-place "$DIR/inplace.rvo"
cmp -s "$DIR/inplace.rvo" "$DIR/good-jpeg.rvo" && cmp -s "$DIR/inplace.rvo.bak" "$DIR/badcopy.rvo" ||
    fail "rvo repair --in-place did not keep the original as .bak"
# rvo recover on a finished JPEG movie mends it as repair does, into FILE-recovered.rvo.
expect 0 "1 picture repaired" -- "$RVO" recover "$DIR/badcopy.rvo"
cmp -s "$DIR/badcopy-recovered.rvo" "$DIR/good-jpeg.rvo" || fail "rvo recover of a finished badcopy.rvo did not mend it"
expect 0 "nothing to repair" -- "$RVO" repair "$DIR/good-jpeg.rvo"
[ ! -e "$DIR/good-jpeg-repaired.rvo" ] || fail "rvo repair wrote a file with nothing to repair"
expect_failure "not a JPEG movie" -- "$RVO" repair "$DIR/good-raw.rvo"
for c in "${read_cmds[@]}" "info"; do
    expect_failure "cutindex.rvo: damaged RVO file" -- "$RVO" $c "$DIR/cutindex.rvo"
done

# Bad input for encode.
expect_failure "stdin: input ends inside frame 1 \(" -- bash -c "head -c $((FRAME + 100)) '$DIR/frames.bgra' |
    '$RVO' encode --mode raw --size ${W}x${H} -o '$DIR/partial.rvo' -"
expect_failure "stdin: no frames" -- "$RVO" encode --mode raw --size ${W}x${H} -o "$DIR/empty.rvo" - </dev/null
[ ! -e "$DIR/empty.rvo" ] || fail "an encode without frames left a file behind"
expect_failure "text.rvo: not a readable PNG" -- "$RVO" encode --mode raw -o "$x" "$DIR/text.rvo"
expect_failure "nofolder/x.rvo: cannot be created: no such folder" -- "$RVO" encode --mode raw --size ${W}x${H} \
    -o "$DIR/nofolder/x.rvo" - <"$DIR/frames.bgra"
expect_failure "x.rvo: frame 0 failed \(the JPEG codec cannot compress it" -- bash -c \
    "head -c 256 /dev/urandom | '$RVO' encode --mode jpeg --size 8x8 -o '$x' -"
"$RVO" decode "$DIR/good-raw.rvo" -o "$DIR/png%d.png" >/dev/null || fail "cannot decode to PNG"
expect_failure "png1.png: picture is ${W}x${H}, the movie's frames are 40x${H}" -- "$RVO" encode --mode raw --size 40x${H} \
    -o "$x" "$DIR/png1.png"
expect_failure "nofolder/f0.png: cannot write the PNG" -- "$RVO" decode "$DIR/good-raw.rvo" -o "$DIR/nofolder/f%d.png"
mkdir -p "$DIR/nobench"
expect_failure "CodecBench: benchmark program not found" -- "$RVO" bench --bench-dir "$DIR/nobench" codec

# Preloading that the page-lock limit stops: without CAP_IPC_LOCK and with a
# limit too small for one frame, the tool names the limit. (AddressSanitizer
# turns mlock into a no-op, so a sanitized build locks nothing.)
# A process with CAP_IPC_LOCK (root, usually) is not bound by the limit, so it
# gives the capability up first; without the capability nothing needs dropping.
nocap=""
if (($(grep '^CapEff:' /proc/self/status | awk '{print "0x" $2}') >> 14 & 1)); then
    nocap="setpriv --inh-caps=-ipc_lock --bounding-set=-ipc_lock"
    $nocap true 2>/dev/null || nocap="skip"
fi
if [ -z "$SANITIZED" ] && [ "$nocap" != skip ]; then
    "$RVO" encode --mode raw --size 200x200 -o "$DIR/big.rvo" - < <(head -c $((3 * 200 * 200 * 4)) /dev/zero) >/dev/null
    expect_failure "big.rvo: preloading stopped after 0 of 3 frames: the page lock was refused \(RLIMIT_MEMLOCK\)" -- \
        bash -c "ulimit -l 64 && $nocap '$RVO' preload --keep-memlock-limit '$DIR/big.rvo'"
else
    echo "note: page-lock limit case not run (${SANITIZED:-cannot drop CAP_IPC_LOCK})"
fi

# Readers and writers of one file kept apart between processes. A decode
# waiting on a full pipe holds its file open: an encode over that file is
# refused in every mode and leaves it as it was, a second reader shares it,
# and the decode still delivers every frame.
LW=200 LH=200
head -c $((LW * LH * 4 * 3)) /dev/urandom >"$DIR/noise.bgra"
"$RVO" encode --mode raw --size ${LW}x${LH} -o "$DIR/shared.rvo" - <"$DIR/noise.bgra" >/dev/null ||
    fail "cannot encode the shared fixture"
cp "$DIR/shared.rvo" "$DIR/shared.orig"
exec 3< <("$RVO" decode "$DIR/shared.rvo" -o -)
reader=$!
head -c 1 <&3 >/dev/null
for mode in raw jpeg packed; do
    expect_failure "shared.rvo: cannot be created: it is open elsewhere" -- \
        "$RVO" encode --mode $mode --size ${LW}x${LH} -o "$DIR/shared.rvo" - <"$DIR/noise.bgra"
done
cmp -s "$DIR/shared.rvo" "$DIR/shared.orig" || fail "a refused encode changed the file being read"
expect 0 "3 frames, all decode" -- "$RVO" verify "$DIR/shared.rvo"
cat <&3 >"$DIR/shared.out"
exec 3<&-
wait "$reader" || fail "the decode of the shared file failed"
cmp -s <(tail -c +2 "$DIR/noise.bgra") "$DIR/shared.out" || fail "the decode of the shared file delivered other frames"

# While an encode writes a file (its input still open), every reading
# subcommand is refused; once it is closed the file reads.
for mode in raw jpeg packed; do
    rm -f "$DIR/growing.rvo"
    exec 4> >("$RVO" encode --mode $mode --size ${LW}x${LH} -o "$DIR/growing.rvo" - >"$DIR/growing.log" 2>&1)
    writer=$!
    head -c $((LW * LH * 4)) "$DIR/noise.bgra" >&4
    # The header is written once the writer holds the file.
    for ((i = 0; i < 200; i++)); do
        [ "$(stat -c %s "$DIR/growing.rvo" 2>/dev/null || echo 0)" -ge 160 ] && break
        sleep 0.05
    done
    for c in info verify preload "decode -o -" recover repair; do
        expect_failure "growing.rvo: is being written" -- "$RVO" $c "$DIR/growing.rvo"
    done
    exec 4>&-
    wait "$writer" || fail "the $mode encode that others tried to read failed: $(cat "$DIR/growing.log")"
    expect 0 "1 frames, all decode" -- "$RVO" verify "$DIR/growing.rvo"
done

# A file that cannot be finished (the file-size limit reached at a frame, or
# at closing, where JPEG files write their index with a second copy of each picture): encode fails naming the
# file, and the frames it says the file holds are the frames it holds. The
# limit's signal (SIGXFSZ) is the tool's to ignore, on one thread or several.
for mode in jpeg raw packed; do for t in 1 2; do
    err=$(bash -c "ulimit -f 8; '$RVO' encode --mode $mode --size ${W}x${H} --threads $t -o '$DIR/capped.rvo' - \
        <'$DIR/frames.bgra'" 2>&1 >/dev/null)
    rc=$?
    [ "$rc" = 1 ] && grep -q "^rvo: .*capped.rvo: " <<<"$err" || fail "a $mode encode ($t threads) past the file-size limit: $rc $err"
    claimed=$(grep -Eo 'stopped after [0-9]+' <<<"$err" | grep -Eo '[0-9]+')
    [ -n "$claimed" ] || claimed=$(grep -Eo 'gives back the [0-9]+ frames' <<<"$err" | grep -Eo '[0-9]+')
    # A file that could not be finished (the index did not fit) gives its frames to rvo recover.
    file="$DIR/capped.rvo"
    if grep -q "finishing the file failed" <<<"$err"; then
        "$RVO" recover --force -o "$DIR/capped-recovered.rvo" "$file" >/dev/null 2>&1
        file="$DIR/capped-recovered.rvo"
    fi
    held=$("$RVO" info --json "$file" 2>/dev/null | grep -Eo '"frameCount": [0-9]+' | grep -Eo '[0-9]+$')
    [ -n "$claimed" ] && [ "$claimed" = "$held" ] || fail "a $mode encode says $claimed frames were written, $file holds $held: $err"
done; done
grep -Eq "finishing the file failed \(.*\); rvo recover gives back the [1-9][0-9]* frames written" <<<"$(bash -c "trap '' XFSZ; ulimit -f 8;
    '$RVO' encode --mode jpeg --size ${W}x${H} -o '$DIR/capped.rvo' - <'$DIR/frames.bgra'" 2>&1)" ||
    fail "a JPEG file that could not be finished was not reported"

# Preloading under an address-space limit (standing in for a 32-bit host)
# stops while the host's reserve is still free, and says so. The sanitizers
# cannot run under such a limit; a page-lock limit below the frames would stop
# the preload first.
memlock=$(ulimit -Hl)
if [ -n "$SANITIZED" ]; then
    echo "note: address-space limit case not run (sanitized)"
elif [ -z "$nocap" ] && [ "$memlock" != unlimited ] && [ "$memlock" -lt 16384 ]; then
    echo "note: address-space limit case not run (page-lock limit $memlock KiB)"
else
    head -c $((128 * 128 * 4 * 160)) /dev/zero |
        "$RVO" encode --mode raw --size 128x128 -o "$DIR/many.rvo" - >/dev/null || fail "cannot encode many.rvo"
    expect_failure "many.rvo: preloading stopped after [0-9]+ of 160 frames: the free address space is down to the reserve" -- \
        bash -c "ulimit -v 20000 && '$RVO' preload '$DIR/many.rvo'"
fi

finish "rvo error"
