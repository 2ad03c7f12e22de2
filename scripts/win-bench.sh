#!/usr/bin/env bash
# Writer and reader figures of the Windows DLLs beside the Linux build, in one
# sitting and interleaved: the win64 DLL under wine64 and the i686 DLL under
# Wine's 32-bit half (the Windows host times commands 6/8/10 and 5/7/10 on
# 1920x1080 frames), and the Linux build on one thread, `rvo encode` (module
# time) and `rvo decode` (wall time, output discarded), with the same frames.
# Ends with each DLL's time against Linux's (medians over the rounds: the
# machine may be busy with other work now and then; above 1 is slower). The i686 DLL is left out, with the reason, where 32-bit programs
# cannot run.
# Usage: scripts/win-bench.sh [FRAMES [ROUNDS]]
#        (after make build-release build-win32 build-win64)
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-24} rounds=${2:-3}
export WINEDEBUG=-all
dir=build-win64/bench
mkdir -p "$dir" build-win32/bench
log=$(mktemp)
trap 'rm -f "$log"' EXIT
win32=yes
if ! why=$(bash tests/winhost/wine32.sh --version 2>&1); then
    win32=""
    echo "i686 DLL left out: $why"
fi
for round in $(seq "$rounds"); do
    echo "== round $round: win64 DLL under wine64"
    (cd build-win64 && WINEPREFIX=$PWD/wineprefix /usr/lib/wine/wine64 tests/winhost/winhost.exe bench bench "$frames") |
        sed 's/^/win64 /' | tee -a "$log"
    if [ -n "$win32" ]; then
        echo "== round $round: i686 DLL under Wine's 32-bit half"
        (cd build-win32 && WINEPREFIX=$PWD/wineprefix /usr/lib/wine/wine tests/winhost/winhost.exe bench bench "$frames") |
            sed 's/^/i686  /' | tee -a "$log"
        cmp -s build-win32/bench/frames.bgra "$dir/frames.bgra" || { echo "the two hosts' frames differ"; exit 1; }
    fi
    echo "== round $round: Linux build, one thread"
    for m in jpeg raw packed; do
        w=$(build/rvo encode --threads 1 --mode $m --size 1920x1080 -o "$dir/linux-$m.rvo" - <"$dir/frames.bgra" |
            sed 's/.*, \([0-9.]*\) ms\/frame/\1/')
        s=$(date +%s.%N)
        build/rvo decode --threads 1 "$dir/linux-$m.rvo" -o - >/dev/null
        e=$(date +%s.%N)
        printf "%-7s write %7.2f ms/frame   read %7.2f ms/frame\n" $m "$w" "$(echo "($e - $s) * 1000 / $frames" | bc -l)" |
            sed 's/^/linux /' | tee -a "$log"
    done
done
echo "== against Linux (time ratio of the medians of $rounds rounds; above 1 is slower)"
awk 'function median(list,    v, n, i, j, t) {
         n = split(list, v, " ")
         for (i = 2; i <= n; i++)
             for (j = i; j > 1 && v[j - 1] + 0 > v[j] + 0; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
         return n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
     }
     { w[$1 " " $2] = w[$1 " " $2] " " $4; r[$1 " " $2] = r[$1 " " $2] " " $7 }
     END {
         split("win64 i686", dlls, " "); split("jpeg raw packed", modes, " ")
         for (d = 1; d <= 2; d++) for (k = 1; k <= 3; k++) {
             key = dlls[d] " " modes[k]; lin = "linux " modes[k]
             if (!(key in w) || !(lin in w)) continue
             printf "%-5s %-7s write %5.2f   read %5.2f\n", dlls[d], modes[k],
                 median(w[key]) / median(w[lin]), median(r[key]) / median(r[lin])
         }
     }' "$log"
