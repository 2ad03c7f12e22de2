#!/usr/bin/env bash
# Fetches the Debian source package that the installed PACKAGE (a -dev package)
# was built from, at the installed version, with `apt-get source` through a
# private deb-src list that mirrors the machine's deb sources. Lists, cache
# and sources live under DIR; the system's apt configuration is not touched.
# Prints the unpacked source folder. The Windows presets build libjpeg-turbo,
# libpng and zlib from them.
# Usage: deb-source.sh DIR PACKAGE
set -euo pipefail

dir=$(realpath -m "$1")
package=$2
read -r source version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' "$package" | head -1)
upstream=${version#*:}
upstream=${upstream%-*}
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
cd "$dir/src"
if ! compgen -G "$source-${upstream%.dfsg}*/" >/dev/null; then
    # Indices the machine cannot reach are reported by apt; `apt-get source`
    # fails if the package is nowhere to be found.
    apt-get "${apt_opts[@]}" -qq update >&2 || echo "deb-source: apt-get update reported errors" >&2
    # The installed version first; where its files cannot be had (a mirror
    # without the security archive's pool) the newest version that can, said so.
    versions=$(apt-cache "${apt_opts[@]}" showsrc "$source" 2>/dev/null | sed -n 's/^Version: //p' | sort -urV)
    fetched=
    for v in "$version" $versions; do
        [ "$v" = "$version" ] || [ -z "$fetched" ] || break
        if apt-get "${apt_opts[@]}" -qq source "$source=$v" >&2 2>/dev/null; then
            fetched=$v
            [ "$v" = "$version" ] || echo "deb-source: $source $version cannot be fetched here; using $v" >&2
            break
        fi
    done
    [ -n "$fetched" ] || { echo "deb-source: no version of $source could be fetched" >&2; exit 1; }
fi
src=$(ls -d "$dir/src/$source-${upstream%.dfsg}"*/ 2>/dev/null | head -1)
[ -n "$src" ] && [ -d "$src" ] || { echo "deb-source: no $source source in $dir/src" >&2; exit 1; }
echo "${src%/}"
