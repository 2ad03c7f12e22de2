#!/usr/bin/env bash
# Writer and reader figures of the win64 DLL under wine64 beside the Linux
# build, in one sitting and interleaved: the Windows host times commands 6/8/10
# and 5/7/10 on 1920x1080 frames; `rvo encode` (module time) and `rvo decode`
# (wall time, output discarded) do the same on Linux with the same frames.
# Usage: scripts/win-bench.sh [FRAMES [ROUNDS]]  (after make build-release build-win64)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-24} rounds=${2:-3}
export WINEPREFIX=$PWD/build-win64/wineprefix WINEDEBUG=-all
dir=build-win64/bench
mkdir -p "$dir"
for round in $(seq "$rounds"); do
    echo "== round $round: win64 DLL under wine64"
    (cd build-win64 && /usr/lib/wine/wine64 tests/winhost/winhost.exe bench bench "$frames")
    echo "== round $round: Linux build"
    for m in jpeg raw packed; do
        w=$(build/rvo encode --mode $m --size 1920x1080 -o "$dir/linux-$m.rvo" - <"$dir/frames.bgra" |
            sed 's/.*, \([0-9.]*\) ms\/frame/\1/')
        s=$(date +%s.%N)
        build/rvo decode "$dir/linux-$m.rvo" -o - >/dev/null
        e=$(date +%s.%N)
        printf "%-7s write %7.2f ms/frame   read %7.2f ms/frame\n" $m "$w" "$(echo "($e - $s) * 1000 / $frames" | bc -l)"
    done
done
