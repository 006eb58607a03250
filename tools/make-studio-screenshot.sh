#!/bin/sh
# Draws docs/studio.png, the README's picture of the conversion studio: the program's own
# window, offscreen, with a sample picture open and a few settings changed (全体を収める,
# Floyd–Steinberg, コントラスト 20). Run it again whenever the studio changes.
#   tools/make-studio-screenshot.sh        (builds the driver in build/ first)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target studio-driver >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
build/studio-driver photo "$work/sample.jpg" 960 600 2>/dev/null
build/studio-driver screenshot "$work/sample.jpg" "$root/docs/studio.png" 2>/dev/null
echo "docs/studio.png"
