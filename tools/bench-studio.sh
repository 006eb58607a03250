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

# ImageMagick refuses sides over 16000 by policy: both pictures are written by hand (as in
# tools/bench-cli.sh).
python3 - "$work" <<'PY'
import struct, sys, zlib
work = sys.argv[1]
chunk = lambda t, b: struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b))
side = 20000
z = zlib.compressobj(1)
row = b"\x00" + b"\xc8" * side
body = b"".join(z.compress(row) for _ in range(side)) + z.flush()
open(f"{work}/huge.png", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 0, 0, 0, 0))
                                     + chunk(b"IDAT", body) + chunk(b"IEND", b""))
seg = lambda m, body: b"\xff" + bytes([m]) + struct.pack(">H", len(body) + 2) + body
out = b"\xff\xd8" + seg(0xDB, b"\x00" + b"\x01" * 64)
out += seg(0xC0, struct.pack(">BHHB", 8, side, side, 3) + b"".join(bytes([c, s, 0]) for c, s in ((1, 0x22), (2, 0x11), (3, 0x11))))
out += seg(0xC4, b"\x00\x01" + b"\x00" * 15 + b"\x00") + seg(0xC4, b"\x10\x01" + b"\x00" * 15 + b"\x00")
out += seg(0xDA, b"\x03" + b"".join(bytes([i, 0]) for i in (1, 2, 3)) + b"\x00\x3f\x00")
out += b"\x00" * (side * side // 64 * 6 // 8)
open(f"{work}/huge.jpg", "wb").write(out + b"\xff\xd9")
PY

echo "== opening a 20000 x 20000 picture (each in a process of its own)"
for picture in huge.jpg huge.png; do
    "$driver" open "$work/$picture" 2>/dev/null
    "$driver" corner "$work/$picture" 2>/dev/null
done
