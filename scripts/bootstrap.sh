#!/usr/bin/env bash
# Installs every system package the build, the tests, the benchmarks and the demo need
# (ffmpeg: the rvo tool's end-to-end test and the reader benchmark's peer;
# util-linux: setpriv, for the page-lock limit test; mingw-w64, nasm and wine64: the
# Windows presets, whose libjpeg is built from Debian's source package by dpkg-dev's
# apt-get source, see cmake/WinJpeg.cmake; help2man: the man page).
# Idempotent: it asks apt only for what is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi

NATIVE=(cmake make g++ pkg-config git
        googletest libgtest-dev libgmock-dev libbenchmark-dev
        libjpeg62-turbo-dev libjpeg-turbo-progs libpng-dev libcli11-dev
        gcc-multilib g++-multilib qemu-user
        clang-14 libclang-rt-14-dev valgrind
        ffmpeg util-linux
        gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix binutils-mingw-w64-i686
        gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
        nasm wine64 dpkg-dev help2man)
FOREIGN=(libjpeg62-turbo:i386 libjpeg62-turbo-dev:i386 libpng-dev:i386)

missing=()
for p in "${NATIVE[@]}" "${FOREIGN[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
