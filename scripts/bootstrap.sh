#!/usr/bin/env bash
# Installs the system packages the build needs. Idempotent: it asks apt only for
# what is missing.
#
#   bootstrap.sh          everything `make test` needs: the native, 32-bit and
#                         sanitizer builds, the Windows presets (mingw-w64, nasm and
#                         wine, whose libjpeg is built from Debian's source package
#                         by dpkg-dev's apt-get source, see cmake/WinJpeg.cmake),
#                         ffmpeg (the tool's end-to-end test and the reader
#                         benchmark's peer), util-linux (setpriv, for the page-lock
#                         limit test), help2man (the man page) and, for the
#                         Python module (python/), Debian's pybind11, numpy
#                         and pytest; for the GStreamer plugin (gst/) and its
#                         tests, GStreamer's development packages, its base
#                         plugins, gst-launch, gst-discoverer and
#                         shared-mime-info.
#   bootstrap.sh demo     only what the release build of the tool and `make demo` need.
#
# Wine's 32-bit half (wine32:i386) runs the i686 DLL's host tests; it is installed
# wherever the kernel runs 32-bit programs.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

DEMO=(cmake make g++ pkg-config libjpeg62-turbo-dev libpng-dev libcli11-dev nlohmann-json3-dev)
NATIVE=("${DEMO[@]}" git
        googletest libgtest-dev libgmock-dev libbenchmark-dev
        libjpeg-turbo-progs
        gcc-multilib g++-multilib qemu-user
        clang-14 libclang-rt-14-dev valgrind
        ffmpeg util-linux
        gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
        gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
        nasm wine64 dpkg-dev help2man
        python3-dev python3-pybind11 python3-numpy python3-pytest
        libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base
        gstreamer1.0-tools gstreamer1.0-plugins-base-apps shared-mime-info)
FOREIGN=(libjpeg62-turbo:i386 libjpeg62-turbo-dev:i386 libpng-dev:i386)

# A tiny static i386 ELF that calls exit(0) through int 0x80: it runs only where
# the kernel runs 32-bit programs (IA32 emulation), which Wine's 32-bit half needs.
runs_32bit() {
    local f
    f=$(mktemp)
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$f"
    chmod +x "$f"
    local rc=0
    "$f" 2>/dev/null || rc=$?
    rm -f "$f"
    return $rc
}

if [ "${1:-}" = "demo" ]; then
    WANT=("${DEMO[@]}")
else
    WANT=("${NATIVE[@]}" "${FOREIGN[@]}")
    if runs_32bit; then WANT+=(wine32:i386); fi
fi

# A name without an architecture means the machine's own (or arch: all): an i386
# twin alone does not count.
NATIVE_ARCH=$(dpkg --print-architecture)
installed() {
    case "$1" in
        *:*) dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null ;;
        *)   dpkg-query -W -f='${Status} ${Architecture}\n' "$1" 2>/dev/null | grep -E " ($NATIVE_ARCH|all)\$" ;;
    esac | grep -q "install ok installed"
}

find_missing() {
    missing=()
    for p in "${WANT[@]}"; do
        installed "$p" || missing+=("$p")
    done
}

# Without one architecture's security list, an i386 library can exist only in an
# older or newer version than its installed amd64 twin, and the two halves of a
# multi-arch package must be the same version. Ask for both halves at the version
# the i386 list has, until apt finds a plan (a few rounds at most).
install_missing() {
    local extra=() plan names n v round
    for round in 1 2 3 4 5 6 7 8; do
        if plan=$(apt-get install -s --no-install-recommends --allow-downgrades "${missing[@]}" "${extra[@]}" 2>&1); then
            break
        fi
        names=$(printf '%s\n' "$plan" | grep -oE '(Pre)?Depends: [a-z0-9.+-]+:i386' | awk '{print $2}' | sort -u || true)
        if [ "$round" = 8 ]; then
            printf '%s\n' "$plan" | tail -20 >&2
            echo "bootstrap: apt finds no plan for ${missing[*]}" >&2
            exit 1
        fi
        # A -dev package whose newer version wants a library twin held back by the
        # i386 list: take the -dev package at the version of the library kept.
        while read -r n v; do
            apt-cache madison "$n" | awk -v v="$v" '$3 == v {f = 1} END {exit !f}' && extra+=("$n=$v")
        done < <(printf '%s\n' "$plan" | sed -nE 's/^ *([^ ]+) : (Pre)?Depends: [^ ]+ \(= [^)]+\) but ([^ ]+) is to be installed.*/\1 \3/p')
        for n in $names; do
            v=$(apt-cache policy "$n" | awk '/Candidate:/ {print $2}')
            [ -n "$v" ] && [ "$v" != "(none)" ] && extra+=("${n%:i386}:amd64=$v" "$n=$v")
        done
    done
    [ ${#extra[@]} -gt 0 ] && echo "bootstrap: aligning multi-arch twins: ${extra[*]}"
    $SUDO apt-get install -y -qq --no-install-recommends --allow-downgrades "${missing[@]}" "${extra[@]}"
}

find_missing
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${WANT[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index (seen: bookworm-security's i386 list);
# the others still load, and the install below says so if a package is truly missing.
$SUDO apt-get update -qq || echo "bootstrap: apt-get update reported errors; installing from the indexes it has"

# Aligning a twin can take away a -dev package built for the old version
# (libpng-dev with libpng16-16), so look again until nothing we need is missing.
for pass in 1 2 3; do
    install_missing
    find_missing
    [ ${#missing[@]} -eq 0 ] && exit 0
    echo "bootstrap: still missing after pass $pass: ${missing[*]}"
done
echo "bootstrap: could not install ${missing[*]}" >&2
exit 1
