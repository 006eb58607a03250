#!/bin/sh
# Wall time and peak memory above idle of the picture decoder on large and hostile pictures,
# each read in a fresh process: the corner the picture area shows and the shrunk whole picture
# the command line fits. Its driver is built as a target of the build folder (bench-decoder-driver).
#   tools/bench-decoder.sh [build-folder]    (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
case $build in /*) ;; *) build=$root/$build ;; esac
cmake --build "$build" -j2 --target bench-decoder-driver bench-make-picture >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT


python3 "$root/tools/pictures.py" decoder "$work"

# Formats Qt's plugins decode whole: as large as the allocation limit lets through, and far
# larger. Written by Qt itself where it can write them.
for f in bmp gif webp tiff ppm tga ico; do
    QT_QPA_PLATFORM=offscreen "$build/tools/bench-make-picture" "$work/whole-8000.$f" 8000 2>/dev/null || echo "(no $f writer)"
done
QT_QPA_PLATFORM=offscreen "$build/tools/bench-make-picture" "$work/whole-16000.bmp" 16000

printf '%-36s %-32s %s\n' file "corner (128x64)" "reduced (at least 128x64)"
for f in "$work"/*.jpg "$work"/*.png "$work"/whole-*; do
    c=$(QT_QPA_PLATFORM=offscreen "$build/tools/bench-decoder-driver" corner "$f" 2>/dev/null)
    r=$(QT_QPA_PLATFORM=offscreen "$build/tools/bench-decoder-driver" reduced "$f" 2>/dev/null)
    printf '%-36s %-32s %s\n' "$(basename "$f") ($(($(stat -c %s "$f") / 1024)) KB)" "$c" "$r"
done
