#!/usr/bin/env python3
"""Draws the glyph table of toolkit/font.cpp as a PNG, to look at the font as a picture.

The sheet shows 16 glyphs a row on the toolkit's 9 x 13 character cell, each labelled by its code in the
row and column rulers, scaled up; row 12 (the descender row) is tinted so that a body reaching into it
stands out, and the 9th column of each cell is tinted so that a glyph touching its neighbour shows. Below
the sheet, sample lines are set at the true 9-pixel advance. The script also checks that the glyph
comments count 1..195 in order.

usage: font_preview.py [font.cpp] [out.png] [scale] [first-last]
       (defaults: toolkit/font.cpp, font.png, 3, the whole font 0-195)
"""
import os
import re
import struct
import sys
import zlib

ROWS, CELL_W, CELL_H, PER_ROW = 13, 9, 13, 16
PAPER, INK, DESCENDER, GAP, RULE = (255, 255, 255), (0, 0, 0), (255, 228, 228), (228, 236, 255), (160, 160, 160)

SAMPLES = [
    "The quick brown fox jumps over the lazy dog. 0123456789",
    "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG! O0 Il1| {[()]}",
    "Съешь же ещё этих мягких французских булок, да выпей чаю.",
    "ЪЫЬЭЮЯ ЁЙЦУКЕН ГШЩЗХ ФВАПРОЛДЖ ЯЧСМИТБЮ  qypgj,;_ $%&@#*+-=/\\<>?^~`'\"",
]


def read_glyphs(path):
    """Returns the 195 glyphs as lists of 13 strings, in code order, checking the code comments."""
    text = open(path, encoding="utf-8").read()
    glyphs = []
    for m in re.finditer(r"//\s*(\d+)\s[^\n]*\n\s*\{((?:\s*\"[^\"]*\",?)+)\s*\}", text):
        code = int(m.group(1))
        if code != len(glyphs) + 1:
            sys.exit("glyph comment %d found where code %d belongs" % (code, len(glyphs) + 1))
        rows = re.findall(r'"([^"]*)"', m.group(2))
        if len(rows) != ROWS or any(not re.fullmatch(r"[#.]{8}", r) for r in rows):
            sys.exit("glyph %d is not 13 rows of 8 '#' or '.'" % code)
        glyphs.append(rows)
    if len(glyphs) != 195:
        sys.exit("found %d glyphs, expected 195" % len(glyphs))
    return glyphs


def code_of(ch):
    """The toolkit's code for a character of the samples."""
    o = ord(ch)
    if 32 <= o < 127:
        return o
    if 0x0410 <= o <= 0x044F:
        return 128 + o - 0x0410
    return {0x0401: 192, 0x0451: 193}.get(o, 63)


class Image:
    def __init__(self, width, height):
        self.width, self.height = width, height
        self.pixels = [[PAPER] * width for _ in range(height)]

    def fill(self, x, y, w, h, colour):
        for yy in range(max(y, 0), min(y + h, self.height)):
            row = self.pixels[yy]
            for xx in range(max(x, 0), min(x + w, self.width)):
                row[xx] = colour

    def glyph(self, rows, x, y, scale, shade=True):
        if shade:
            self.fill(x, y + 12 * scale, 8 * scale, scale, DESCENDER)
            self.fill(x + 8 * scale, y, scale, CELL_H * scale, GAP)
        for r, bits in enumerate(rows):
            for c, ch in enumerate(bits):
                if ch == "#":
                    self.fill(x + c * scale, y + r * scale, scale, scale, INK)

    def digits(self, glyphs, text, x, y, scale):
        for ch in text:
            self.glyph(glyphs[code_of(ch) - 1], x, y, scale, shade=False)
            x += CELL_W * scale

    def png(self, path):
        raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in self.pixels)

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)))
            f.write(chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    source = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "toolkit", "font.cpp")
    out = sys.argv[2] if len(sys.argv) > 2 else "font.png"
    scale = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    first, last = map(int, sys.argv[4].split("-")) if len(sys.argv) > 4 else (0, 195)
    first -= first % PER_ROW
    glyphs = read_glyphs(source)
    samples = SAMPLES if (first, last) == (0, 195) else []  # sample lines only under the whole sheet

    pitch_x, pitch_y = (CELL_W + 2) * scale, (CELL_H + 3) * scale
    margin = 4 * CELL_W * scale  # room for the row ruler
    sheet_rows = (last - first + PER_ROW) // PER_ROW
    sample_scale = max(1, scale - 1)
    width = max([margin + PER_ROW * pitch_x] + [len(s) * CELL_W * sample_scale + 2 * scale for s in samples])
    height = (sheet_rows + 1) * pitch_y + (len(samples) * (CELL_H + 4) * sample_scale + pitch_y if samples else 0)
    img = Image(width, height)

    for col in range(PER_ROW):
        img.digits(glyphs, "%X" % col, margin + col * pitch_x, 0, 1 if scale < 3 else scale // 2)
    for code in range(first, last + 1):
        r, c = divmod(code - first, PER_ROW)
        x, y = margin + c * pitch_x, (r + 1) * pitch_y
        if c == 0:
            img.digits(glyphs, "%3d" % code, 0, y, 1 if scale < 3 else scale // 2)
        if code == 0:
            img.fill(x, y, 8 * scale, CELL_H * scale, RULE)
        else:
            img.glyph(glyphs[code - 1], x, y, scale)

    y = (sheet_rows + 1) * pitch_y + pitch_y // 2
    for line in samples:
        img.digits(glyphs, line, scale, y, sample_scale)
        y += (CELL_H + 4) * sample_scale
    img.png(out)
    print("wrote %s (%dx%d)" % (out, width, height))


if __name__ == "__main__":
    main()
