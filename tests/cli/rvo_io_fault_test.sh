#!/usr/bin/env bash
# A failing disk seen from outside the module: tests/cli/io_fault_shim.c,
# preloaded, fails the k-th read or write of the movie's descriptors through
# the C library, for every k that `rvo encode` and `rvo decode` make, in each
# mode. No run may exit 0 with a wrong result: an encode that exits 0 wrote
# the file a clean run writes, a decode that exits 0 gave the clean frames;
# one that fails says so on one line, naming the system's error. With the
# Python module's folder and interpreter given, Python's reads of every frame
# are swept instead: each raises rvo.Error (an rvo.InputOutputError carrying
# errno EIO) or gives the clean frames.
# Usage: rvo_io_fault_test.sh RVO_BINARY SCRATCH_DIR SHIM [PYTHONPATH PYTHON]
set -uo pipefail
RVO="$1"
SHIM="$3"
PYPATH="${4:-}"
PYTHON="${5:-python3}"
DIR="$2/cli-io-fault${PYPATH:+-python}"
rm -rf "$DIR" && mkdir -p "$DIR"
source "$(dirname "$0")/common.sh"

W=32 H=16 N=4
# Smooth ramps: the JPEG codec takes them at any size.
python3 -c "
import sys
w, h, n = $W, $H, $N
sys.stdout.buffer.write(bytes((x * 7 + y * 3 + k * 40 + c * 60) % 256 if c < 3 else 255
                              for k in range(n) for y in range(h) for x in range(w) for c in range(4)))
" >"$DIR/in.bgra"

# faulted CALLS K ERRNO -- command...: runs it with the k-th counted call failing; its exit code.
faulted() {
    local calls="$1" at="$2" err="$3"
    shift 4
    LD_PRELOAD="$SHIM" IO_FAULT_PATH=".rvo" IO_FAULT_CALLS="$calls" IO_FAULT_AT="$at" IO_FAULT_ERRNO="$err" \
        IO_FAULT_COUNT="$DIR/count" "$@"
}
calls_made() { cat "$DIR/count"; }

# one_line FILE: the failure's message is one "rvo: ..." line naming the system's error.
one_line() {
    local what="$1" file="$2" want="$3"
    [ "$(wc -l <"$file")" = 1 ] && grep -Eq "^rvo: .*$want" "$file" || fail "$what: $(cat "$file")"
}

points=0 reported=0
for mode in jpeg raw packed; do
    ref="$DIR/ref-$mode.rvo" out="$DIR/out-$mode.rvo"
    "$RVO" encode --mode $mode --size ${W}x${H} --threads 1 -o "$ref" - <"$DIR/in.bgra" >/dev/null || fail "$mode: clean encode"
    "$RVO" decode --threads 1 -o - "$ref" >"$DIR/ref-$mode.bgra" || fail "$mode: clean decode"

    if [ -z "$PYPATH" ]; then
    # Writing: each write, with EIO and with ENOSPC.
    faulted write 0 5 -- "$RVO" encode --mode $mode --size ${W}x${H} --threads 1 -o "$out" - <"$DIR/in.bgra" >/dev/null
    nw=$(calls_made)
    [ "$nw" -gt 0 ] || fail "$mode: no writes counted"
    for err in 5 28; do
        for ((k = 1; k <= nw; k++)); do
            rm -f "$out"
            faulted write $k $err -- "$RVO" encode --mode $mode --size ${W}x${H} --threads 1 -o "$out" - \
                <"$DIR/in.bgra" >/dev/null 2>"$DIR/err"
            rc=$?
            points=$((points + 1))
            if [ $rc = 0 ]; then
                cmp -s "$out" "$ref" || fail "$mode: encode exited 0 with write $k failing (errno $err), but the file differs"
            else
                reported=$((reported + 1))
                [ $rc = 1 ] || fail "$mode: encode with write $k failing exited $rc"
                one_line "$mode: encode, write $k, errno $err" "$DIR/err" "(write error \(Input/output error\)|disk full|Input/output error)"
            fi
        done
    done

    fi

    # Reading: each read of the decode, with EIO.
    faulted read 0 5 -- "$RVO" decode --threads 1 -o - "$ref" >/dev/null
    nr=$(calls_made)
    [ "$nr" -gt 0 ] || fail "$mode: no reads counted"
    [ -z "$PYPATH" ] && for ((k = 1; k <= nr; k++)); do
        faulted read $k 5 -- "$RVO" decode --threads 1 -o - "$ref" >"$DIR/got.bgra" 2>"$DIR/err"
        rc=$?
        points=$((points + 1))
        if [ $rc = 0 ]; then
            cmp -s "$DIR/got.bgra" "$DIR/ref-$mode.bgra" || fail "$mode: decode exited 0 with read $k failing, but gave other frames"
        else
            reported=$((reported + 1))
            [ $rc = 1 ] || fail "$mode: decode with read $k failing exited $rc"
            one_line "$mode: decode, read $k" "$DIR/err" "read error \(Input/output error\)"
            ! grep -q "damaged" "$DIR/err" || fail "$mode: a failed read called damage: $(cat "$DIR/err")"
        fi
    done

    # Python: every frame read through movie[i], each read failing in turn in one process.
    if [ -n "$PYPATH" ]; then
        faulted read 0 5 -- env PYTHONPATH="$PYPATH" "$PYTHON" - "$ref" "$DIR/ref-$mode.bgra" <<'PY' >"$DIR/py" 2>&1
import ctypes, errno, sys
import rvo
path, want = sys.argv[1], open(sys.argv[2], "rb").read()
shim = ctypes.CDLL(None)
shim.io_fault_arm.argtypes = [ctypes.c_ulonglong]
shim.io_fault_counted.restype = ctypes.c_ulonglong
k = 0
while True:   # until the k-th read is past the last one
    k += 1
    shim.io_fault_arm(k)
    try:
        with rvo.open(path) as movie:
            got = b"".join(movie[i].tobytes() for i in range(len(movie)))
    except rvo.Error as e:
        if not (isinstance(e, rvo.InputOutputError) and e.errno == errno.EIO and "Input/output error" in str(e)):
            print("read %d: wrong exception: %r errno %r" % (k, e, getattr(e, "errno", None)))
        continue
    if shim.io_fault_counted() < k:
        break
    if got != want:
        print("read %d: wrong frames without an exception" % k)
print("swept %d reads" % (k - 1))
PY
        grep -Eqx "swept [1-9][0-9]* reads" "$DIR/py" && [ "$(wc -l <"$DIR/py")" = 1 ] || fail "$mode: python: $(cat "$DIR/py")"
        echo "$mode: Python $(cat "$DIR/py")"
    fi
    [ -n "$PYPATH" ] || echo "$mode: $nw writes (each with EIO and ENOSPC), $nr reads failed in turn"
done
[ -n "$PYPATH" ] || echo "$points fault points, $reported reported as failures, the rest gave the clean result"
[ $failures = 0 ] && echo "rvo_io_fault_test: all checks passed"
exit $((failures > 0))
