#!/usr/bin/env bash
# The rvo man page: help2man over `rvo --help`, with each subcommand's --help
# (as `rvo --help` lists them) in a section of its own; written gzipped
# without a time stamp.
# Usage: manpage.sh HELP2MAN RVO OUT.1.gz
set -euo pipefail
HELP2MAN="$1"
RVO="$2"
OUT="$3"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Help text as roff, line for line: backslashes escaped, and a line that
# starts with a dot or a quote would be taken for a request.
as_roff() { sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"; }

subcommands=$("$RVO" --help | awk '/^Subcommands:/ { on = 1; next } on && NF { print $1 }')
[ -n "$subcommands" ] || { echo "manpage.sh: $RVO --help lists no subcommands" >&2; exit 1; }
{
    echo "[SUBCOMMANDS]"
    for c in $subcommands; do
        echo ".SS \"rvo $c\""
        echo ".nf"
        (exec -a rvo "$RVO" "$c" --help) | as_roff
        echo ".fi"
    done
    echo "[SEE ALSO]"
    echo "The README in /usr/share/doc/rvo/ (under the install prefix): the storage modes, converting video"
    echo "with ffmpeg, and how a host loads rvoplugin.so."
} >"$tmp/include"

version=$("$RVO" --version | head -n 1 | awk '{ print $2 }')
"$HELP2MAN" --no-info --section=1 --name="inspect, write and read RVO movie files" \
    --version-string="$version" --include="$tmp/include" --output="$tmp/rvo.1" "$RVO"
mkdir -p "$(dirname "$OUT")"
gzip -9n <"$tmp/rvo.1" >"$OUT"
