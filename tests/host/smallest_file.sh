#!/usr/bin/env bash
# Writes PREFIX.rvo with `rvo encode --pack smallest` (the release build's
# tool: only the tool writes such files) from PREFIX.bgra, 3 frames of 67 x 45
# graphics over transparency, for the 32-bit host to read. The file must hold
# records the module's own rule would not have chosen.
# Usage: smallest_file.sh RVO PREFIX
set -uo pipefail
rvo=$1 prefix=$2
if [ ! -x "$rvo" ]; then
    echo "no Linux build of the rvo tool at $rvo (build the release preset first)"
    exit 1
fi
here=$(dirname "$0")
bash "$here/../support/graphics_frames.sh" 67 45 3 "$prefix.bgra" || exit 1
"$rvo" encode --mode packed --pack smallest --size 67x45 -o "$prefix.rvo" - <"$prefix.bgra" || exit 1
"$rvo" encode --mode packed --size 67x45 -o "$prefix-standard.rvo" - <"$prefix.bgra" || exit 1
smallest=$("$rvo" info "$prefix.rvo" | grep records) standard=$("$rvo" info "$prefix-standard.rvo" | grep records)
echo "smallest:$smallest"
echo "standard:$standard"
rm -f "$prefix-standard.rvo"
if [ "$smallest" = "$standard" ]; then
    echo "the smallest records are those of the module's rule: the host would learn nothing"
    exit 1
fi
