#!/usr/bin/env bash
# Fetches Debian's libjpeg-turbo source package, the version the Linux build
# links, with `apt-get source` through a private deb-src list that mirrors the
# machine's deb sources. Lists, cache and sources live under DIR; the system's
# apt configuration is not touched. Prints the unpacked source folder.
# Usage: jpeg-source.sh DIR
set -euo pipefail

dir=$(realpath -m "$1")
version=$(dpkg-query -W -f='${source:Version}\n' libjpeg62-turbo-dev | head -1)
apt_dir=$dir/apt
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dir/src"

# One-line lists: every `deb` line again as `deb-src`; deb822 files: `Types: deb`
# stanzas again as `Types: deb-src`.
: > "$apt_dir/mirror.list"
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed -n 's/^[[:space:]]*deb\([[:space:]]\)/deb-src\1/p' "$f" >> "$apt_dir/mirror.list"
done
for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types:.*/Types: deb-src/' "$f" > "$apt_dir/sources.list.d/$(basename "$f")"
done

apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/mirror.list"
          -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
          -o "Dir::State::Lists=$apt_dir/lists"
          -o "Dir::Cache=$apt_dir/cache"
          -o "APT::Sandbox::User=root"
          -o "Debug::NoLocking=true")
# Indices the machine cannot reach are reported by apt; `apt-get source` below
# fails if the package is nowhere to be found.
apt-get "${apt_opts[@]}" -qq update >&2 || echo "jpeg-source: apt-get update reported errors" >&2
cd "$dir/src"
if ! compgen -G "libjpeg-turbo-*/CMakeLists.txt" >/dev/null; then
    apt-get "${apt_opts[@]}" -qq source "libjpeg-turbo=$version" >&2
fi
src=$(ls -d "$dir"/src/libjpeg-turbo-*/ | head -1)
[ -f "$src/CMakeLists.txt" ] || { echo "jpeg-source: no libjpeg-turbo source in $dir/src" >&2; exit 1; }
echo "${src%/}"
