#!/usr/bin/env python3
"""One-time conversion of an 8x13 X11 PCF bitmap font into the readable glyph table of toolkit/font.cpp.

Reads a PCF font (plain or gzip-compressed), picks the glyph for each of the toolkit's character codes
1..195, places it in the 8x13 cell and prints one C++ block per glyph: a comment naming the code and the
character, then 13 string literals of '#' (set) and '.' (clear), top row first.

The X11 fixed fonts put the baseline under row 10 and give descenders two rows; the toolkit keeps
bodies in rows 0..11 and descenders in row 12 only. The conversion therefore moves every glyph down one
row and folds a two-row descender into one, keeping the upper of its rows that holds ink. Codes the
source lacks come out blank with "missing" in the comment, to be drawn by hand, and the glyphs that the
toolkit fixes bit for bit (the arrows, space, full stop, zero, A and y) replace the converted ones.

The output is a starting point only: the toolkit's glyphs are much heavier than the X11 ones (capitals
fill rows 0..11 with 2-pixel stems), so most letters and digits are redrawn by hand in toolkit/font.cpp,
which is the table the build uses. This script is not part of the build.

usage: font_from_pcf.py [font.pcf.gz]   (default /usr/share/fonts/X11/misc/8x13.pcf.gz)
"""
import gzip
import struct
import sys

WIDTH, ROWS = 8, 13

# Unicode code points of the code page 437 symbols at codes 1..31; codes 9, 10 and 13 stay blank.
CP437_LOW = [
    0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, None, None, 0x2642, 0x2640, None,
    0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8, 0x2191, 0x2193,
    0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
]


# Glyphs the toolkit fixes bit for bit; they override the converted ones (code 128, Cyrillic A, is the A).
LISTED = {
    24: [0x18, 0x3C, 0x7E, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00],
    25: [0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x7E, 0x7E, 0x3C, 0x18, 0x00],
    32: [0x00] * 13,
    46: [0x00] * 10 + [0x18, 0x18, 0x00],
    48: [0x3C, 0x42, 0xC3, 0xC3, 0xC7, 0xCB, 0xD3, 0xE3, 0xC3, 0xC3, 0x42, 0x3C, 0x00],
    65: [0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00],
    95: [0x00] * 12 + [0xFF],
    121: [0x00, 0x00, 0x00, 0xC3, 0xC3, 0xC3, 0x63, 0x36, 0x1E, 0x0C, 0x18, 0x30, 0x60],
}
LISTED[128] = LISTED[65]


def code_points():
    """Unicode code point (or None for a blank or solid glyph) for each toolkit code 1..195."""
    table = {}
    for code, cp in enumerate(CP437_LOW, start=1):
        table[code] = cp
    for code in range(32, 127):
        table[code] = code
    table[127] = 0x2302  # house
    for i in range(32):
        table[128 + i] = 0x0410 + i  # А..Я
        table[160 + i] = 0x0430 + i  # а..я
    table[192] = 0x0401  # Ё
    table[193] = 0x0451  # ё
    table[194] = table[195] = None  # solid blocks, filled below
    return table


class Pcf:
    """The parts of a PCF font needed here: per-glyph metrics, bitmaps and the encoding map."""

    METRICS, BITMAPS, ENCODINGS, BDF_ACCELERATORS = 0x4, 0x8, 0x20, 0x100

    def __init__(self, data):
        if data[:4] != b"\x01fcp":
            raise ValueError("not a PCF font")
        (count,) = struct.unpack_from("<i", data, 4)
        self.data = data
        self.tables = {}
        for i in range(count):
            kind, fmt, size, offset = struct.unpack_from("<iiii", data, 8 + 16 * i)
            self.tables[kind] = (fmt, offset)
        self.ascent, self.descent = self._accelerators()
        self.metrics = self._metrics()
        self.bitmaps = self._bitmaps()
        self.encoding = self._encodings()

    def _table(self, kind):
        fmt, offset = self.tables[kind]
        (fmt,) = struct.unpack_from("<i", self.data, offset)
        return fmt, ">" if fmt & 4 else "<", offset + 4

    def _accelerators(self):
        fmt, e, p = self._table(self.BDF_ACCELERATORS)
        return struct.unpack_from(e + "ii", self.data, p + 8)  # after 8 flag bytes: font ascent, descent

    def _metrics(self):
        fmt, e, p = self._table(self.METRICS)
        result = []
        if fmt & 0x100:  # compressed: five unsigned bytes biased by 0x80
            (n,) = struct.unpack_from(e + "h", self.data, p)
            p += 2
            for i in range(n):
                lsb, rsb, width, asc, desc = (b - 0x80 for b in self.data[p + 5 * i : p + 5 * i + 5])
                result.append((lsb, rsb, asc, desc))
        else:
            (n,) = struct.unpack_from(e + "i", self.data, p)
            p += 4
            for i in range(n):
                lsb, rsb, width, asc, desc, attr = struct.unpack_from(e + "hhhhhH", self.data, p + 12 * i)
                result.append((lsb, rsb, asc, desc))
        return result

    def _bitmaps(self):
        fmt, e, p = self._table(self.BITMAPS)
        if not fmt & 8:
            raise ValueError("only fonts with the most significant bit first are handled")
        pad = 1 << (fmt & 3)
        (n,) = struct.unpack_from(e + "i", self.data, p)
        offsets = struct.unpack_from(e + "%di" % n, self.data, p + 4)
        base = p + 4 + 4 * n + 16
        glyphs = []
        for i in range(n):
            lsb, rsb, asc, desc = self.metrics[i]
            stride = ((rsb - lsb + 7) // 8 + pad - 1) // pad * pad
            rows = []
            for r in range(asc + desc):
                row = self.data[base + offsets[i] + r * stride : base + offsets[i] + (r + 1) * stride]
                rows.append(int.from_bytes(row, "big") >> (8 * stride - (rsb - lsb)))
            glyphs.append(rows)
        return glyphs

    def _encodings(self):
        fmt, e, p = self._table(self.ENCODINGS)
        min2, max2, min1, max1, default = struct.unpack_from(e + "hhhhh", self.data, p)
        span = max2 - min2 + 1
        count = span * (max1 - min1 + 1)
        indices = struct.unpack_from(e + "%dH" % count, self.data, p + 10)
        table = {}
        for k, index in enumerate(indices):
            if index != 0xFFFF:
                table[(min1 + k // span) * 256 + min2 + k % span] = index
        return table

    def cell(self, cp):
        """The glyph of a code point as ROWS pixel rows of the font's own cell, or None if it has none."""
        index = self.encoding.get(cp)
        if index is None:
            return None
        lsb, rsb, asc, desc = self.metrics[index]
        rows = [0] * (self.ascent + self.descent)
        for r, bits in enumerate(self.bitmaps[index]):
            y = self.ascent - asc + r
            if 0 <= y < len(rows):
                shift = WIDTH - rsb
                rows[y] |= (bits << shift if shift >= 0 else bits >> -shift) & 0xFF
        return rows


def to_toolkit_rows(rows, ascent):
    """Moves a glyph from the font's baseline to the toolkit's: body in rows 0..11, descender in row 12."""
    body = rows[:ascent]
    below = [r for r in rows[ascent:] if r]
    out = [0] * (12 - len(body)) + body[-12:] + [below[0] if below else 0]
    return out[:ROWS]


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/fonts/X11/misc/8x13.pcf.gz"
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"\x1f\x8b":
        data = gzip.decompress(data)
    font = Pcf(data)
    for code, cp in sorted(code_points().items()):
        if code in LISTED:
            rows, name = LISTED[code], chr(cp) if cp > 32 else "space"
        elif code in (194, 195):
            rows, name = [0xFF] * ROWS, "solid block"
        elif cp is None:
            rows, name = [0] * ROWS, "blank"
        else:
            cell = font.cell(cp)
            name = chr(cp) if cp > 32 else "space"
            if cell is None:
                rows, name = [0] * ROWS, name + " (missing)"
            else:
                rows = to_toolkit_rows(cell, font.ascent)
        print("    // %d %s" % (code, name))
        lines = ['"%s"' % format(r, "08b").replace("1", "#").replace("0", ".") for r in rows]
        print("    {" + ",\n     ".join(lines) + "},")

if __name__ == "__main__":
    main()
