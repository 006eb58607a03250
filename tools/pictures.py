#!/usr/bin/env python3
"""Pictures made by hand (no image library), so that any size can be declared: hostile pictures
(small files that declare huge pictures, or that take long to decode), huge ones for the
benchmarks, and small assets. Importable; or run to fill a folder with one set:

    tools/pictures.py hostile FOLDER    every hostile picture (tools/bench-hostile.sh)
    tools/pictures.py decoder FOLDER    the decoder benchmark's pictures (tools/bench-decoder.sh)
    tools/pictures.py cli FOLDER        1000 small PNGs in FOLDER/in, huge.jpg and huge.png
    tools/pictures.py studio FOLDER     huge.jpg and huge.png, 20000 square
"""
import os
import random
import struct
import sys
import zlib

# Where each Adam7 pass starts and its steps across and down.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png_file(width, height, depth, colour_type, interlaced, idat):
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, int(interlaced)))
            + chunk(b"IDAT", idat) + chunk(b"IEND", b""))


def png(path, width, height, interlaced=False, depth=8, grey=b"\x80", bits=b"\x55", level=9):
    """A grey PNG of one colour, `grey` at depth 8 or the byte `bits` at depth 1: its rows
    compress a thousandfold, so any size fits in a small file; written pass by pass when
    interlaced."""
    z = zlib.compressobj(level)
    idat = []
    for x0, y0, dx, dy in (ADAM7 if interlaced else [(0, 0, 1, 1)]):
        cols, rows = (width - x0 + dx - 1) // dx, (height - y0 + dy - 1) // dy
        if cols <= 0 or rows <= 0:
            continue
        row = b"\x00" + (grey * cols if depth == 8 else bits * ((cols + 7) // 8))
        for _ in range(rows):
            idat.append(z.compress(row))
    idat.append(z.flush())
    write(path, png_file(width, height, depth, 0, interlaced, b"".join(idat)))


def png_rows(path, width, height, rows, depth=8, colour_type=2):
    """A PNG of the given rows (raw bytes each, filter none)."""
    raw = b"".join(b"\x00" + r for r in rows)
    write(path, png_file(width, height, depth, colour_type, False, zlib.compress(raw, 6)))


ALL3 = ([1, 2, 3], 0, 0)
PROGRESSIVE = [ALL3, ([1], 1, 63)]


def jpeg(path, width, height, frame=0xC2, scans=PROGRESSIVE, comps=((1, 0x22), (2, 0x11), (3, 0x11)), data=5000):
    """One quantisation table and one-code Huffman tables: every coefficient the decoder reads
    is zero, and it pads a scan cut short with zeros, so a few KB declare any size. `frame` is
    the frame marker (C0 sequential, C2 progressive, CA arithmetic progressive), each scan lists
    its components and its first and last coefficient, and `data` zero bytes follow each."""
    seg = lambda m, body: b"\xff" + bytes([m]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8" + seg(0xDB, b"\x00" + b"\x01" * 64)
    out += seg(frame, struct.pack(">BHHB", 8, height, width, len(comps)) + b"".join(bytes([c, s, 0]) for c, s in comps))
    out += seg(0xC4, b"\x00\x01" + b"\x00" * 15 + b"\x00") + seg(0xC4, b"\x10\x01" + b"\x00" * 15 + b"\x00")
    for ids, ss, se in scans:
        out += seg(0xDA, bytes([len(ids)]) + b"".join(bytes([i, 0]) for i in ids) + bytes([ss, se, 0]))
        out += b"\x00" * data
    write(path, out + b"\xff\xd9")


def baseline_jpeg(path, side):
    """A uniform grey sequential JPEG of `side` square with all its data: tens of MB at 20000."""
    jpeg(path, side, side, 0xC0, [([1, 2, 3], 0, 63)], data=side * side // 64 * 6 // 8)


def lzw(indices, min_code=8):
    """GIF's LZW, with the code table reset when it is full."""
    clear, end = 1 << min_code, (1 << min_code) + 1
    out = bytearray()
    bits = nbits = 0

    def put(code, size):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 255)
            bits >>= 8
            nbits -= 8

    size = min_code + 1
    table = {bytes([i]): i for i in range(clear)}
    nxt = end + 1
    put(clear, size)
    w = b""
    for i in indices:
        wc = w + bytes([i])
        if wc in table:
            w = wc
            continue
        put(table[w], size)
        if nxt < 4096:
            table[wc] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            put(clear, size)
            table = {bytes([j]): j for j in range(clear)}
            nxt, size = end + 1, min_code + 1
        w = bytes([i])
    put(table[w], size)
    put(end, size)
    if nbits:
        out.append(bits & 255)
    return bytes(out)


def sub_blocks(data):
    return b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255] for i in range(0, len(data), 255)) + b"\0"


def gif(path, screen, frames, frame_side):
    """A GIF whose logical screen is `screen` square, with `frames` frames of `frame_side`
    square, each one colour (so each compresses to a couple of KB)."""
    head = b"GIF89a" + struct.pack("<HHBBB", screen, screen, 0x81, 0, 0) + b"\x00\x00\x00\xff\xff\xff\x80\x80\x80\x20\x20\x20"
    loop = b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    body = bytearray()
    data = {}
    for k in range(frames):
        colour = k % 4
        if colour not in data:
            data[colour] = sub_blocks(lzw([colour] * (frame_side * frame_side), 2))
        body += b"\x21\xf9\x04\x00\x02\x00\x00\x00"  # no disposal, 2/100 s
        body += b"," + struct.pack("<HHHHB", 0, 0, frame_side, frame_side, 0) + b"\x02" + data[colour]
    write(path, head + loop + bytes(body) + b";")


def uncompressed_gif(path, side):
    """A one-frame GIF of `side` square whose LZW compresses nothing (9-bit codes, a clear code
    before every 254 literals), so the decoder does the most work a byte allows."""
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
    write(path, b"GIF89a" + struct.pack("<HHBBB", side, side, 0x80, 0, 0) + b"\x80\x80\x80\0\0\0,"
          + struct.pack("<HHHHB", 0, 0, side, side, 0) + b"\x08" + blocks + b"\0;")


def text(path, side, kind):
    """A text PPM (P3) or an XBM of `side` square: every pixel spelled out."""
    pixel = {"ppm": b"128 128 128\n", "xbm": b"0x00,"}[kind]
    if kind == "ppm":
        write(path, b"P3\n%d %d\n255\n" % (side, side) + pixel * (side * side))
    else:
        write(path, b"#define a_width %d\n#define a_height %d\nstatic char a_bits[] = {\n" % (side, side)
              + (pixel * (side // 8) + b"\n") * side + b"};\n")


def tiff(path, side):
    """An RGB TIFF of `side` square in deflate-compressed strips of 16 rows."""
    rows = 16
    strip = zlib.compress(b"\x80\x80\x80" * side * rows, 9)
    nstrips = (side + rows - 1) // rows
    last = zlib.compress(b"\x80\x80\x80" * side * (side - rows * (nstrips - 1)), 9)
    data_at = 8
    offsets, counts, at = [], [], data_at
    for s in range(nstrips):
        block = strip if s < nstrips - 1 else last
        offsets.append(at)
        counts.append(len(block))
        at += len(block)
    bps_at = at
    off_at = bps_at + 6
    cnt_at = off_at + 4 * nstrips
    ifd_at = cnt_at + 4 * nstrips
    entries = [
        (256, 4, 1, side), (257, 4, 1, side), (258, 3, 3, bps_at), (259, 3, 1, 8), (262, 3, 1, 2),
        (273, 4, nstrips, off_at), (277, 3, 1, 3), (278, 4, 1, rows), (279, 4, nstrips, cnt_at), (284, 3, 1, 1),
    ]
    ifd = struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        ifd += struct.pack("<HHII", tag, kind, count, value) if kind == 4 or count > 1 else struct.pack("<HHIHH", tag, kind, count, value, 0)
    ifd += struct.pack("<I", 0)
    with open(path, "wb") as f:
        f.write(b"II*\x00" + struct.pack("<I", ifd_at))
        for s in range(nstrips):
            f.write(strip if s < nstrips - 1 else last)
        f.write(struct.pack("<HHH", 8, 8, 8))
        f.write(struct.pack("<%dI" % nstrips, *offsets))
        f.write(struct.pack("<%dI" % nstrips, *counts))
        f.write(ifd)


def bmp(path, side):
    """A BMP header declaring a 24-bit picture of `side` square, followed by a little data."""
    row = (side * 3 + 3) // 4 * 4
    write(path, b"BM" + struct.pack("<IHHI", 54 + row * side, 0, 0, 54)
          + struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, row * side, 2835, 2835, 0, 0) + b"\x80" * 4096)


def hostile(folder):
    jpeg(f"{folder}/progressive-30000.jpg", 30000, 30000)
    png(f"{folder}/interlaced-12000.png", 12000, 12000, True)
    png(f"{folder}/1bit-40000.png", 40000, 40000, False, depth=1)
    png(f"{folder}/interlaced-1bit-40000.png", 40000, 40000, True, depth=1)
    gif(f"{folder}/screen-65535.gif", 65535, 1, 16)
    gif(f"{folder}/frames-2000x1000.gif", 1000, 2000, 1000)
    gif(f"{folder}/frames-200000x1.gif", 1, 200000, 1)
    tiff(f"{folder}/rgb-8000.tiff", 8000)
    bmp(f"{folder}/declared-30000.bmp", 30000)


def decoder(folder):
    uncompressed_gif(f"{folder}/whole-gif-5600.gif", 5600)
    uncompressed_gif(f"{folder}/whole-gif-8000.gif", 8000)
    text(f"{folder}/whole-text-1600.ppm", 1600, "ppm")
    text(f"{folder}/whole-text-4000.ppm", 4000, "ppm")
    text(f"{folder}/whole-8000.xbm", 8000, "xbm")
    for n in (20000, 30000, 65500):
        jpeg(f"{folder}/progressive-{n}.jpg", n, n)
    jpeg(f"{folder}/separate-scans-20000.jpg", 20000, 20000, 0xC0, [([1], 0, 63), ([2], 0, 63), ([3], 0, 63)])
    jpeg(f"{folder}/arithmetic-progressive-20000.jpg", 20000, 20000, 0xCA, [ALL3])
    baseline_jpeg(f"{folder}/baseline-20000.jpg", 20000)
    png(f"{folder}/interlaced-12000.png", 12000, 12000, True)
    png(f"{folder}/interlaced-1bit-40000.png", 40000, 40000, True, depth=1, bits=b"\x00")
    png(f"{folder}/plain-20000.png", 20000, 20000)


def huge(folder):
    # ImageMagick refuses sides over 16000 by policy, so the benchmarks' huge pictures are made here.
    baseline_jpeg(f"{folder}/huge.jpg", 20000)
    png(f"{folder}/huge.png", 20000, 20000, grey=b"\xc8", level=1)


def assets(folder, count=1000):
    """`count` 128 x 64 RGB PNGs of shapes and noise in colour, as small display assets are;
    the same every run."""
    os.makedirs(folder, exist_ok=True)
    rnd = random.Random(1)
    for i in range(count):
        cx, cy, r = rnd.randrange(128), rnd.randrange(64), rnd.randrange(8, 40)
        rows = []
        for y in range(64):
            row = bytearray()
            for x in range(128):
                inside = (x - cx) ** 2 + (y - cy) ** 2 < r * r
                base = 220 if inside else (x * 2 + y) % 256
                row += bytes((base, (base + i) % 256, rnd.randrange(256)))
            rows.append(bytes(row))
        png_rows(f"{folder}/p{i:04d}.png", 128, 64, rows)


def main():
    sets = {
        "hostile": hostile,
        "decoder": decoder,
        "cli": lambda folder: (assets(f"{folder}/in"), huge(folder)),
        "studio": huge,
    }
    if len(sys.argv) != 3 or sys.argv[1] not in sets:
        sys.exit(f"usage: {sys.argv[0]} {'|'.join(sets)} FOLDER")
    os.makedirs(sys.argv[2], exist_ok=True)
    sets[sys.argv[1]](sys.argv[2])


if __name__ == "__main__":
    main()
