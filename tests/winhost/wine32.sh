#!/usr/bin/env bash
# Runs a program under Wine's 32-bit half. Where the kernel cannot run 32-bit
# programs at all, says so and exits 77 (ctest: skipped); where it can, a
# missing wine32 is a failure (scripts/bootstrap.sh installs it there).
# Usage: wine32.sh PROGRAM [ARGS...]
set -uo pipefail
wine=/usr/lib/wine/wine
# The same tiny static i386 ELF as scripts/bootstrap.sh: exit(0) through int 0x80.
probe=$(mktemp)
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
runs=$?
rm -f "$probe"
if [ $runs != 0 ]; then
    echo "skipped: this kernel does not run 32-bit programs, so Wine's 32-bit half cannot run"
    exit 77
fi
if [ ! -x "$wine" ] || ! "$wine" --version >/dev/null 2>&1; then
    echo "Wine's 32-bit half ($wine) is missing or does not start: run scripts/bootstrap.sh (installs wine32:i386)"
    exit 1
fi
exec "$wine" "$@"
