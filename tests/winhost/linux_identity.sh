#!/usr/bin/env bash
# The DLL and the Linux build write the same bytes from the same frames, in
# every writable mode, and each reads the other's files the same way: the
# Windows host writes frames.bgra and win-MODE.rvo, the Linux tool (build/rvo)
# writes linux-MODE.rvo from frames.bgra; then each decodes the other's files.
# The DLL also reads linux-smallest.rvo, packed records chosen by size (only the
# tool writes them: rvo encode --pack smallest) of graphics over transparency.
# Usage: linux_identity.sh WINE WINHOST.EXE RVO (run in the win32 or win64 build
# folder; WINE is the command that runs the host, words split on blanks)
set -uo pipefail
wine=$1 winhost=$2 rvo=$3
if [ ! -x "$rvo" ]; then
    echo "skipped: no Linux build of the rvo tool at $rvo (build the release preset first)"
    exit 77
fi
dir=identity
rm -rf "$dir" && mkdir -p "$dir"
$wine "$winhost" write-movies "$dir"
rc=$?
[ $rc = 77 ] && exit 77
[ $rc = 0 ] || { echo "the Windows host could not write its movies"; exit 1; }
fail=0
for mode in jpeg raw packed; do
    "$rvo" encode --mode $mode --size 64x48 -o "$dir/linux-$mode.rvo" - <"$dir/frames.bgra" >/dev/null || fail=1
    cmp "$dir/win-$mode.rvo" "$dir/linux-$mode.rvo" || { echo "$mode: the files differ"; fail=1; }
done
bash "$(dirname "$0")/../support/graphics_frames.sh" 64 48 4 "$dir/graphics.bgra" || fail=1
"$rvo" encode --mode packed --pack smallest --size 64x48 -o "$dir/linux-smallest.rvo" - <"$dir/graphics.bgra" >/dev/null || fail=1
"$rvo" info "$dir/linux-smallest.rvo" | grep -q ' [1-9][0-9]* PackedColourRuns' || { echo "smallest: no colour-runs records"; fail=1; }
$wine "$winhost" read-movies "$dir" || { echo "the Windows host could not read the Linux files"; exit 1; }
for mode in jpeg raw packed; do
    "$rvo" decode "$dir/win-$mode.rvo" -o - >"$dir/win-$mode.linux.bgra" || fail=1
    "$rvo" decode "$dir/linux-$mode.rvo" -o - >"$dir/linux-$mode.linux.bgra" || fail=1
    cmp "$dir/linux-$mode.win.bgra" "$dir/linux-$mode.linux.bgra" || { echo "$mode: Windows reads Linux's file differently"; fail=1; }
    cmp "$dir/win-$mode.linux.bgra" "$dir/linux-$mode.linux.bgra" || { echo "$mode: Linux reads Windows' file differently"; fail=1; }
    if [ $mode != jpeg ]; then
        cmp "$dir/frames.bgra" "$dir/linux-$mode.win.bgra" || { echo "$mode: not lossless"; fail=1; }
    fi
done
cmp "$dir/graphics.bgra" "$dir/linux-smallest.win.bgra" || { echo "smallest: Windows does not read the frames back"; fail=1; }
[ $fail = 0 ] && echo "identical files in modes 3, 4 and 5; each build reads the other's"
exit $fail
