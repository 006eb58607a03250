#!/bin/sh
# The conversion studio's speed, offscreen, side by side in one run:
#  - every option changed in turn through its control (threshold, dither, invert, brightness,
#    contrast, gamma, each fit with each turn, the flips, the background, back to the defaults)
#    with a 6000 x 4000 JPEG open: the median and the longest time from the change to the
#    picture area and the preview drawn again;
#  - the same for the text: typed a character at a time, then each of its options;
#  - opening a 20000 x 20000 JPEG and PNG in the window (default settings), against the core's
#    readPictureCorner alone: time and the peak memory it adds.
#   tools/bench-studio.sh        (builds the driver in build/ first)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null
cmake --build --preset default --target studio-driver >/dev/null
driver=$root/build/studio-driver
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen

"$driver" photo "$work/photo.jpg" 6000 4000 2>/dev/null
echo "== option changes, a 6000 x 4000 JPEG open"
"$driver" changes "$work/photo.jpg" 2>/dev/null
echo "== text changes (typing, font, size, bold, alignment, offsets, colour), the same JPEG open"
"$driver" text "$work/photo.jpg" 2>/dev/null

# ImageMagick refuses sides over 16000 by policy: both pictures are made by hand.
python3 "$root/tools/pictures.py" studio "$work"

echo "== opening a 20000 x 20000 picture (each in a process of its own)"
for picture in huge.jpg huge.png; do
    "$driver" open "$work/$picture" 2>/dev/null
    "$driver" corner "$work/$picture" 2>/dev/null
done
