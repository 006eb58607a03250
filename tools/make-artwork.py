#!/usr/bin/env python3
"""Draws Pixelwright's own artwork and writes it as XPM files into resources/images/
(and the program icon once more as resources/pixelwright.png for the desktop entry).

The program icon is a 32 x 32, 16-colour picture of a small monochrome LCD module; the
toolbar images are 16 x 16 on light grey (C0C0C0), the colour the image list treats as
transparent. Run it again after changing a drawing; the XPM files are kept in the
repository as sources.

    python3 tools/make-artwork.py [output-folder]
"""

import os
import struct
import sys
import zlib

# The 16 colours of the classic palette, one character each.
PALETTE = {
    ".": "#C0C0C0",  # light grey: transparent in the toolbar images
    "k": "#000000",
    "w": "#FFFFFF",
    "g": "#808080",
    "r": "#FF0000",
    "R": "#800000",
    "y": "#FFFF00",
    "Y": "#808000",
    "b": "#0000FF",
    "B": "#000080",
    "G": "#00FF00",
    "D": "#008000",
    "c": "#00FFFF",
    "C": "#008080",
    "m": "#FF00FF",
    "M": "#800080",
    " ": "None",     # outside the program icon's board
}


def grid(rows, size=16):
    rows = [r for r in rows]
    assert len(rows) == size, f"{len(rows)} rows"
    for r in rows:
        assert len(r) == size, f"row {r!r} is {len(r)} wide"
    return [list(r) for r in rows]


def blank(size, fill="."):
    return [[fill] * size for _ in range(size)]


def stamp(canvas, x0, y0, rows):
    """Paints rows of characters onto canvas; '_' leaves the canvas as it is."""
    for dy, row in enumerate(rows):
        for dx, ch in enumerate(row):
            if ch != "_":
                canvas[y0 + dy][x0 + dx] = ch


def rect(canvas, x0, y0, x1, y1, ch):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            canvas[y][x] = ch


def frame(canvas, x0, y0, x1, y1, ch):
    for x in range(x0, x1 + 1):
        canvas[y0][x] = canvas[y1][x] = ch
    for y in range(y0, y1 + 1):
        canvas[y][x0] = canvas[y][x1] = ch


# --- shared pieces -------------------------------------------------------------------------

# An open folder, bottom-left, drawn over whatever sticks out of it.
FOLDER = [
    ".kkkk___________",
    "kYYYYk__________",
    "kYYYYYkkkkkkkkkk",
    "kYYYYYYYYYYYk...",
    "kYYkkkkkkkkkkkk.",
    "kYkyyyyyyyyyyyk.",
    "kYkyyyyyyyyyyk..",
    "kkyyyyyyyyyyyk..",
    "kkyyyyyyyyyyk...",
    "kkkkkkkkkkkkk...",
]

# A small landscape: sky, sun, green hill.
LANDSCAPE = [
    "kkkkkkkkk",
    "kbbbbbyyk",
    "kbbbbbyyk",
    "kbbbbbbbk",
    "kbbbDbbbk",
    "kbbDDDbbk",
    "kbDDDDDbk",
    "kDDDDDDDk",
]

# A sheet with "01" on it.
BINARY_SHEET = [
    "kkkkkkkkkk",
    "kwwwwwwwwk",
    "kwkkkwwkwk",
    "kwkwkwkkwk",
    "kwkwkwwkwk",
    "kwkwkwwkwk",
    "kwkkkwwkwk",
    "kwwwwwwwwk",
]

# A floppy disk; the label area (columns 3-11, rows 8-13) is filled by the caller.
FLOPPY = [
    "kkkkkkkkkkkkkkk.",
    "kBBkggggggkBBBk.",
    "kBBkggkkggkBBBk.",
    "kBBkggkkggkBBBk.",
    "kBBkggggggkBBBk.",
    "kBBBkkkkkkBBBBk.",
    "kBBBBBBBBBBBBBk.",
    "kBkkkkkkkkkkkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkwwwwwwwwwkBk.",
    "kBkkkkkkkkkkkBk.",
    "kkkkkkkkkkkkkkk.",
]

# An arrow pointing right, 6 x 5; its tip touches whatever stands right of it.
ARROW_RIGHT = [
    "___k__",
    "___kk_",
    "kkkkkk",
    "___kk_",
    "___k__",
]
ARROW_LEFT = [row[::-1] for row in ARROW_RIGHT]

# A memory chip with pins on both sides and an "F" on its body, 10 x 12.
CHIP = [
    "__kkkkkk__",
    "ggkkkwwkgg",
    "__kkkkkk__",
    "ggkwwwkkgg",
    "__kwkkkk__",
    "ggkwwkkkgg",
    "__kwkkkk__",
    "ggkwkkkkgg",
    "__kkkkkk__",
    "ggkkkkkkgg",
    "__kkkkkk__",
    "__________",
]


def img_open_picture():
    c = blank(16)
    stamp(c, 7, 0, LANDSCAPE)
    stamp(c, 0, 6, FOLDER)
    return c


def img_open_bin():
    c = blank(16)
    stamp(c, 6, 0, BINARY_SHEET)
    stamp(c, 0, 6, FOLDER)
    return c


def img_save_picture():
    c = grid(FLOPPY)
    stamp(c, 3, 8, [
        "bbbbbbbyy",
        "bbbbbbbyy",
        "bbbbDbbbb",
        "bbbDDDbbb",
        "bbDDDDDbb",
        "DDDDDDDDD",
    ])
    return c


def img_save_bin():
    c = grid(FLOPPY)
    stamp(c, 3, 8, [
        "wwwwwwwww",
        "wkkkwwkww",
        "wkwkwkkww",
        "wkwkwwkww",
        "wkwkwwkww",
        "wkkkwkkkw",
    ])
    return c


def img_convert():
    # Colour stripes, an arrow, and the same block dithered to black and white.
    return grid([
        "................",
        "................",
        "kkkkk......kkkkk",
        "krrrk......kwkwk",
        "kyyyk......kkwkk",
        "kGGGk...k..kwkwk",
        "kccck...kk.kkwkk",
        "kbbbk.kkkkkkwkwk",
        "kmmmk...kk.kkwkk",
        "kMMMk...k..kwkwk",
        "kRRRk......kkwkk",
        "kkkkk......kkkkk",
        "................",
        "................",
        "................",
        "................",
    ])


def img_send_vram():
    # An arrow going into a small display that shows a face.
    c = grid([
        "................",
        "................",
        "......kkkkkkkkkk",
        "......kggggggggk",
        "......kgGGGGGGgk",
        "......kgGkGGkGgk",
        "......kgGGGGGGgk",
        "......kgGGGGGGgk",
        "......kgkGGGGkgk",
        "......kgGkkkkGgk",
        "......kgGGGGGGgk",
        "......kggggggggk",
        "......kkkkkkkkkk",
        "..........kk....",
        "........kkkkkk..",
        "................",
    ])
    stamp(c, 0, 5, ARROW_RIGHT)
    return c


def img_send_flash():
    c = blank(16)
    stamp(c, 6, 2, CHIP)
    stamp(c, 0, 5, ARROW_RIGHT)
    c[7][6] = "k"  # the arrow's tip meets the first pin row
    return c


def img_read():
    c = blank(16)
    stamp(c, 6, 2, CHIP)
    stamp(c, 0, 5, ARROW_LEFT)
    return c


def img_console():
    c = grid([
        "................",
        "gggggggggggggggg",
        "gBBBBBBBBBBBwgwg",
        "gggggggggggggggg",
        "gkkkkkkkkkkkkkkg",
        "gkkwkkkkkkkkkkkg",
        "gkkkwkkkkkkkkkkg",
        "gkkkkwkkkkkkkkkg",
        "gkkkwkkkkkkkkkkg",
        "gkkwkkkGGGGkkkkg",
        "gkkkkkkkkkkkkkkg",
        "gkkkkkkkkkkkkkkg",
        "gkkkkkkkkkkkkkkg",
        "gkkkkkkkkkkkkkkg",
        "gggggggggggggggg",
        "................",
    ])
    return c


def img_transmit():
    return grid([
        "................",
        "........k.......",
        "........kk......",
        "........krk.....",
        "........krrk....",
        "kkkkkkkkkrrrk...",
        "krrrrrrrrrrrrk..",
        "krrrrrrrrrrrrrk.",
        "kRRRRRRRRRRRRRk.",
        "kRRRRRRRRRRRRk..",
        "kkkkkkkkkRRRk...",
        "........kRRk....",
        "........kRk.....",
        "........kk......",
        "........k.......",
        "................",
    ])


def img_write():
    # A pencil lying from top right to bottom left, above the line it has drawn.
    c = blank(16)
    for y in range(16):
        for x in range(16):
            across = x + y - 14      # distance from the pencil's axis
            along = x - y            # +11 at the eraser, -9 at the point
            if along > 11 or along < -9:
                continue
            if along >= 9:
                ch = "r" if abs(across) <= 1 else ("k" if abs(across) == 2 else None)
            elif along >= 7:
                ch = "g" if abs(across) <= 1 else ("k" if abs(across) == 2 else None)
            elif along >= -4:
                ch = ("y" if across <= 0 else "Y") if abs(across) <= 1 else ("k" if abs(across) == 2 else None)
            else:
                # The sharpened end narrows to the lead.
                half = (along + 9) // 3
                if along <= -8:
                    ch = "k" if abs(across) <= 0 else None
                elif abs(across) < half:
                    ch = "w"
                elif abs(across) == half:
                    ch = "k"
                else:
                    ch = None
            if ch:
                c[y][x] = ch
    for x in range(0, 8):
        c[15][x] = "B"
    return c


def program_icon():
    """A monochrome LCD module: green board, header pads, bezel and a picture on the glass."""
    c = blank(32, " ")
    rect(c, 0, 3, 31, 28, "D")
    frame(c, 0, 3, 31, 28, "k")
    # Mounting holes.
    for hx, hy in ((2, 5), (28, 5), (2, 25), (28, 25)):
        rect(c, hx, hy, hx + 1, hy + 1, "w")
        c[hy + 1][hx + 1] = "g"
    # Header pads along the top edge.
    for x in range(7, 25, 2):
        c[5][x] = "y"
        c[6][x] = "Y"
    # Bezel and glass.
    rect(c, 3, 8, 28, 24, "k")
    rect(c, 4, 9, 27, 23, "g")
    rect(c, 5, 10, 26, 22, "G")
    # The picture: a moon and two hills, in the display's black pixels.
    for y in range(10, 23):
        for x in range(5, 27):
            dx, dy = x - 21, y - 13
            if dx * dx + dy * dy <= 5 and not ((x - 22) ** 2 + (y - 12) ** 2 <= 3):
                c[y][x] = "k"
            if y >= 22 - (x - 6) and y >= 22 - (16 - x) and y >= 14:
                c[y][x] = "k"          # the left hill, peak at x 11
            if y >= 17 + abs(x - 18) // 1 and 13 <= x <= 24:
                c[y][x] = "k"          # the right hill
    # Two small parts on the board below the display.
    rect(c, 8, 26, 11, 27, "k")
    rect(c, 20, 26, 23, 27, "k")
    c[26][15] = c[26][16] = "R"
    return c


IMAGES = {
    "imgopnbmp": img_open_picture,
    "imgopnbin": img_open_bin,
    "imgsavbmp": img_save_picture,
    "imgsavbin": img_save_bin,
    "imgconv": img_convert,
    "imgti": img_send_vram,
    "imgtv": img_send_flash,
    "imgtx": img_transmit,
    "imgwrite": img_write,
    "imgread": img_read,
    "imgcom": img_console,
    "program": program_icon,
}


def to_xpm(name, canvas):
    used = sorted({ch for row in canvas for ch in row})
    assert len(used) <= 16, f"{name}: {len(used)} colours"
    h, w = len(canvas), len(canvas[0])
    lines = [f'"{w} {h} {len(used)} 1",']
    lines += [f'"{ch} c {PALETTE[ch]}",' for ch in used]
    lines += [f'"{"".join(row)}",' for row in canvas]
    lines[-1] = lines[-1].rstrip(",")
    ident = name.replace("-", "_")
    return "/* XPM */\n/* Generated by tools/make-artwork.py */\nstatic const char *" + ident + "[] = {\n" + "\n".join(lines) + "\n};\n"


def to_png(canvas):
    """The same picture as an RGBA PNG (for desktop icon themes); outside pixels transparent."""
    h, w = len(canvas), len(canvas[0])
    raw = bytearray()
    for row in canvas:
        raw.append(0)  # no filter
        for ch in row:
            colour = PALETTE[ch]
            if colour == "None":
                raw += bytes(4)
            else:
                raw += bytes.fromhex(colour[1:]) + b"\xff"

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources", "images")
    os.makedirs(out, exist_ok=True)
    for name, draw in IMAGES.items():
        with open(os.path.join(out, name + ".xpm"), "w", encoding="ascii", newline="\n") as f:
            f.write(to_xpm(name, draw()))
    # The desktop entry's icon.
    with open(os.path.join(out, "..", "pixelwright.png"), "wb") as f:
        f.write(to_png(program_icon()))


if __name__ == "__main__":
    main()
