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


python3 - "$work" <<'PY'
import struct, sys, zlib
work = sys.argv[1]

def jpeg(name, width, height, frame, scans, comps=((1, 0x22), (2, 0x11), (3, 0x11)), data=5000):
    # One quantisation table and one-code Huffman tables: every coefficient the decoder reads is
    # zero, and it pads a scan cut short with zeros, so a few KB declare any size.
    seg = lambda m, body: b"\xff" + bytes([m]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8" + seg(0xDB, b"\x00" + b"\x01" * 64)
    out += seg(frame, struct.pack(">BHHB", 8, height, width, len(comps)) + b"".join(bytes([c, s, 0]) for c, s in comps))
    out += seg(0xC4, b"\x00\x01" + b"\x00" * 15 + b"\x00") + seg(0xC4, b"\x10\x01" + b"\x00" * 15 + b"\x00")
    for ids, ss, se in scans:
        out += seg(0xDA, bytes([len(ids)]) + b"".join(bytes([i, 0]) for i in ids) + bytes([ss, se, 0]))
        out += b"\x00" * data
    open(f"{work}/{name}", "wb").write(out + b"\xff\xd9")

def png(name, width, height, interlaced, colour=b"\x80", depth=8):
    # Grey, one colour: rows compress a thousandfold, written pass by pass when interlaced.
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)] if interlaced else [(0, 0, 1, 1)]
    z = zlib.compressobj(9)
    idat = []
    for x0, y0, dx, dy in passes:
        cols, rows = (width - x0 + dx - 1) // dx, (height - y0 + dy - 1) // dy
        if cols <= 0 or rows <= 0:
            continue
        row = b"\x00" + (colour * cols if depth == 8 else b"\x00" * ((cols + 7) // 8))
        for _ in range(rows):
            idat.append(z.compress(row))
    idat.append(z.flush())
    chunk = lambda t, b: struct.pack(">I", len(b)) + t + b + struct.pack(">I", zlib.crc32(t + b))
    body = b"".join(idat)
    open(f"{work}/{name}", "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 0, 0, 0, int(interlaced)))
                                       + chunk(b"IDAT", body) + chunk(b"IEND", b""))

def gif(name, side):
    # LZW without compression: 9-bit codes, a clear code before every 254 literals.
    bits = nbits = 0
    group = bytearray()
    for code in ([256] + [0] * 254) * 8:
        bits |= code << nbits
        nbits += 9
        while nbits >= 8:
            group.append(bits & 255)
            bits >>= 8
            nbits -= 8
    data = bytes(group) * ((side * side + 254 * 8 - 1) // (254 * 8))
    blocks = b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255))
    open(f"{work}/{name}", "wb").write(b"GIF89a" + struct.pack("<HHBBB", side, side, 0x80, 0, 0) + b"\x80\x80\x80\0\0\0,"
                                       + struct.pack("<HHHHB", 0, 0, side, side, 0) + b"\x08" + blocks + b"\0;")

def text(name, side, kind):
    pixel = {"ppm": b"128 128 128\n", "xbm": b"0x00,"}[kind]
    with open(f"{work}/{name}", "wb") as f:
        if kind == "ppm":
            f.write(b"P3\n%d %d\n255\n" % (side, side) + pixel * (side * side))
        else:
            f.write(b"#define a_width %d\n#define a_height %d\nstatic char a_bits[] = {\n" % (side, side) + (pixel * (side // 8) + b"\n") * side + b"};\n")

gif("whole-gif-5600.gif", 5600)
gif("whole-gif-8000.gif", 8000)
text("whole-text-1600.ppm", 1600, "ppm")
text("whole-text-4000.ppm", 4000, "ppm")
text("whole-8000.xbm", 8000, "xbm")

all3 = ([1, 2, 3], 0, 0)
for n in (20000, 30000, 65500):
    jpeg(f"progressive-{n}.jpg", n, n, 0xC2, [all3, ([1], 1, 63)])
jpeg("separate-scans-20000.jpg", 20000, 20000, 0xC0, [([1], 0, 63), ([2], 0, 63), ([3], 0, 63)])
jpeg("arithmetic-progressive-20000.jpg", 20000, 20000, 0xCA, [all3])
jpeg("baseline-20000.jpg", 20000, 20000, 0xC0, [([1, 2, 3], 0, 63)], data=20000 * 20000 // 64 * 6 // 8)
png("interlaced-12000.png", 12000, 12000, True)
png("interlaced-1bit-40000.png", 40000, 40000, True, depth=1)
png("plain-20000.png", 20000, 20000, False)
PY

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
