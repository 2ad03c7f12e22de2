#!/usr/bin/env bash
# Runs the i686 host under Wine where Wine's 32-bit half can run; where it
# cannot (no wine32, or a kernel without 32-bit programs), says so and exits 77
# (ctest: skipped).
# Usage: wine32.sh WINHOST.EXE CASE
set -uo pipefail
wine=/usr/lib/wine/wine
if [ ! -x "$wine" ] || ! "$wine" --version >/dev/null 2>&1; then
    echo "skipped: this machine cannot run 32-bit Windows programs (no 32-bit Wine, or no 32-bit Linux programs)"
    exit 77
fi
"$wine" wineboot --init >/dev/null 2>&1
exec "$wine" "$1" "$2"
