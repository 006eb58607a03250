#!/usr/bin/env python3
"""Writes hostile pictures into a folder: small files that declare huge pictures, or that take
long to decode. Each is made by hand (no image library), so any size can be declared.

    tools/hostile-pictures.py FOLDER
"""
import struct
import sys
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(path, width, height, interlaced, depth=8):
    # Grey, one colour: rows compress a thousandfold, written pass by pass when interlaced.
    passes = ([(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
              if interlaced else [(0, 0, 1, 1)])
    z = zlib.compressobj(9)
    idat = []
    for x0, y0, dx, dy in passes:
        cols, rows = (width - x0 + dx - 1) // dx, (height - y0 + dy - 1) // dy
        if cols <= 0 or rows <= 0:
            continue
        row = b"\x00" + (b"\x80" * cols if depth == 8 else b"\x55" * ((cols + 7) // 8))
        for _ in range(rows):
            idat.append(z.compress(row))
    idat.append(z.flush())
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, 0, 0, 0, int(interlaced)))
                + chunk(b"IDAT", b"".join(idat)) + chunk(b"IEND", b""))


def progressive_jpeg(path, side):
    # One quantisation table and one-code Huffman tables: every coefficient is zero, and the
    # decoder pads a scan cut short with zeros, so a few KB declare any size.
    seg = lambda m, body: b"\xff" + bytes([m]) + struct.pack(">H", len(body) + 2) + body
    out = b"\xff\xd8" + seg(0xDB, b"\x00" + b"\x01" * 64)
    out += seg(0xC2, struct.pack(">BHHB", 8, side, side, 3) + b"".join(bytes([c, s, 0]) for c, s in ((1, 0x22), (2, 0x11), (3, 0x11))))
    out += seg(0xC4, b"\x00\x01" + b"\x00" * 15 + b"\x00") + seg(0xC4, b"\x10\x01" + b"\x00" * 15 + b"\x00")
    for ids, ss, se in (([1, 2, 3], 0, 0), ([1], 1, 63)):
        out += seg(0xDA, bytes([len(ids)]) + b"".join(bytes([i, 0]) for i in ids) + bytes([ss, se, 0])) + b"\x00" * 5000
    with open(path, "wb") as f:
        f.write(out + b"\xff\xd9")


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
    with open(path, "wb") as f:
        f.write(head + loop + bytes(body) + b";")


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
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 54 + row * side, 0, 0, 54)
                + struct.pack("<IiiHHIIiiII", 40, side, side, 1, 24, 0, row * side, 2835, 2835, 0, 0) + b"\x80" * 4096)


def main():
    folder = sys.argv[1]
    progressive_jpeg(f"{folder}/progressive-30000.jpg", 30000)
    png(f"{folder}/interlaced-12000.png", 12000, 12000, True)
    png(f"{folder}/1bit-40000.png", 40000, 40000, False, depth=1)
    png(f"{folder}/interlaced-1bit-40000.png", 40000, 40000, True, depth=1)
    gif(f"{folder}/screen-65535.gif", 65535, 1, 16)
    gif(f"{folder}/frames-2000x1000.gif", 1000, 2000, 1000)
    gif(f"{folder}/frames-200000x1.gif", 1, 200000, 1)
    tiff(f"{folder}/rgb-8000.tiff", 8000)
    bmp(f"{folder}/declared-30000.bmp", 30000)


if __name__ == "__main__":
    main()
