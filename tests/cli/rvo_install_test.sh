#!/usr/bin/env bash
# The install tree: cmake --install into a scratch prefix gives bin/rvo,
# lib/rvo/rvoplugin.so, the man page and the user documentation, and the
# installed tool runs from outside the checkout with a bare environment
# (no run path into the build, nothing read from the source tree). With
# PYTHON, the rvo Python module installed for it is imported from the folder
# the install names and reads the installed demo's movie. The desktop's MIME
# type and thumbnailer (naming the installed tool), and, when the build has
# it, the GStreamer plugin, which decodebin then finds with GST_PLUGIN_PATH.
# Usage: rvo_install_test.sh CMAKE BUILD_DIR SCRATCH_DIR VERSION [PYTHON]
set -uo pipefail
CMAKE="$1"
BUILD="$2"
DIR="$3/install-tree"
VERSION="$4"
PYTHON="${5:-}"
rm -rf "$DIR" && mkdir -p "$DIR/run" && DIR=$(cd "$DIR" && pwd)
source "$(dirname "$0")/common.sh"
P="$DIR/prefix"

installed=$("$CMAKE" --install "$BUILD" --prefix "$P" 2>&1) || fail "cmake --install failed: $installed"
for f in bin/rvo lib/rvo/rvoplugin.so share/man/man1/rvo.1.gz share/doc/rvo/README.md \
         share/doc/rvo/copyright share/doc/rvo/changelog.gz share/mime/packages/rvo.xml \
         share/thumbnailers/rvo.thumbnailer; do
    [ -f "$P/$f" ] || fail "$f not installed"
done
for f in bin/rvo lib/rvo/rvoplugin.so; do
    readelf -d "$P/$f" | grep -Eq 'R(UN)?PATH' && fail "$f keeps a run path: $(readelf -d "$P/$f" | grep -E 'R(UN)?PATH')"
done
man=$(zcat "$P/share/man/man1/rvo.1.gz")
grep -q '^\.SS "rvo info"' <<<"$man" || fail "the man page lacks the info subcommand"
grep -q "$BUILD" <<<"$man" && fail "the man page names the build folder"
grep -q '^## The rvo tool' "$P/share/doc/rvo/README.md" || fail "the installed README lacks the tool's section"
grep -q '^## Running one test' "$P/share/doc/rvo/README.md" && fail "the installed README has the checkout's sections"

grep -qx "Exec=$P/bin/rvo thumbnail -s %s %i %o" "$P/share/thumbnailers/rvo.thumbnailer" ||
    fail "the thumbnailer does not run the installed tool: $(cat "$P/share/thumbnailers/rvo.thumbnailer")"
plugin=""
if [ -f "$BUILD/gst/libgstrvo.so" ]; then
    plugin=$(find "$P/lib" -name libgstrvo.so -path '*gstreamer-1.0*')
    [ -n "$plugin" ] || fail "the GStreamer plugin is not installed"
fi

cd "$DIR/run" || exit 1
run() { env -i PATH=/usr/bin:/bin HOME="$DIR/run" "$P/bin/rvo" "$@"; }
expect 0 "^rvo $VERSION" -- run --version
expect 0 "storage modes: 2 ImageList .* 5 PackedFrames" -- run --version
expect 0 "libjpeg: built with .*JPEG_LIB_VERSION [0-9]+; running API .* from /" -- run --version
expect 0 "PackedFrames +demo-packed.rvo" -- run demo --out . --frames 2 --width 48 --height 32
expect 0 "mode +5 \(PackedFrames\)" -- run info demo-packed.rvo
expect 0 "frame size +48 x 32" -- run info demo-jpeg.rvo
[ -f contact-sheet.png ] || fail "the installed demo wrote no contact sheet"

if [ -n "$plugin" ]; then
    gst() { env -i PATH=/usr/bin:/bin HOME="$DIR/run" GST_PLUGIN_PATH="$(dirname "$plugin")" \
        GST_REGISTRY="$DIR/run/registry.bin" "$@"; }
    gst gst-launch-1.0 -q filesrc location=demo-packed.rvo ! decodebin ! videoconvert ! video/x-raw,format=BGRA \
        ! filesink location=gst.bgra || fail "decodebin with the installed plugin"
    run decode demo-packed.rvo -o - >tool.bgra
    cmp -s gst.bgra tool.bgra || fail "the installed plugin's frames are not rvo decode's"
fi

if [ -n "$PYTHON" ]; then
    site=$(sed -n 's/^-- rvo Python module for .*: \(.*\) (PYTHONPATH=.*/\1/p' <<<"$installed")
    case "$site" in "$P"/*) ;; *) fail "the install names no Python site folder under the prefix: $installed" ;; esac
    [ -f "$site/rvo.pyi" ] || fail "rvo.pyi not installed beside the module in $site"
    for f in "$site"/rvo.*.so; do
        readelf -d "$f" | grep -Eq 'R(UN)?PATH' && fail "$f keeps a run path"
    done
    py() { env -i PATH=/usr/bin:/bin HOME="$DIR/run" PYTHONPATH="$site" "$PYTHON" "$@"; }
    expect 0 "^$VERSION \(2, 32, 48, 4\) \(32, 48, 4\)$" -- \
        py -c "import rvo; m = rvo.open('demo-packed.rvo'); print(rvo.__version__, m.shape, m[0].shape)"
    expect 0 "rvo.open" -- py -c "import rvo; help(rvo)"
fi

finish "install tree"
