// Pixel contracts of the drawing primitives, their clipping against the framebuffer, and the
// hexadecimal and fixed-point number fields drawn with them.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/numfield.h"

namespace {

constexpr uint32_t fill = 0x00ABCDEF; // test::Canvas's untouched value
constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;

// One call of a primitive. RECT: width, height, colour; LINE: end, mode, colour; FRAME: width,
// height, style; GLYPH: code, -, colour; STRING (three block glyphs): -, -, colour.
enum Kind { RECT, LINE, FRAME, GLYPH, STRING };
struct Shape {
    Kind kind;
    int32_t x, y, a, b, c;
};
std::ostream& operator<<(std::ostream& out, const Shape& s) {
    return out << "kind " << s.kind << " (" << s.x << ", " << s.y << ") " << s.a << " " << s.b << " " << s.c;
}

// Draws the shape moved by (dx, dy).
void draw(const Shape& s, int32_t dx = 0, int32_t dy = 0) {
    const int32_t x = s.x + dx, y = s.y + dy;
    switch (s.kind) {
    case RECT: return tk::fill_rect(x, y, s.a, s.b, s.c);
    case LINE:
        return tk::draw_line(x, y, s.a + (s.b == tk::LINE_V || s.b == tk::LINE_V_DOTTED ? dy : dx), s.b, s.c);
    case FRAME: return tk::draw_frame(x, y, s.a, s.b, s.c);
    case GLYPH: return tk::draw_glyph(s.a, s.c, x, y);
    case STRING: return tk::draw_string("\xC2\xC2\xC2", x, y, s.c);
    }
}

// Exact pixel sets of single calls, all in colour 7, including inputs that draw nothing. Catches: rows
// counted from the top in memory, a pixel too many or too few at either end, a dotted line's phase,
// unknown modes, colours and codes drawn.
TEST(Primitives, WriteExactlyTheirPixels) {
    // clang-format off
    const std::pair<Shape, std::vector<std::pair<int, int>>> cases[] = {
        {{RECT, 5, 5, 1, 1, 7}, {{5, 5}}},  {{RECT, 1, 2, 2, 2, 7}, {{1, 2}, {2, 2}, {1, 3}, {2, 3}}},
        {{RECT, 5, 5, 0, 3, 7}, {}},        {{RECT, 5, 5, 3, -1, 7}, {}},     {{RECT, 5, 5, 2, 2, 16}, {}},
        {{LINE, 4, 2, 4, tk::LINE_H, 7}, {{4, 2}}},                           {{LINE, 4, 2, 3, tk::LINE_H, 7}, {}},
        {{LINE, 3, 1, 10, tk::LINE_H_DOTTED, 7}, {{3, 1}, {5, 1}, {7, 1}, {9, 1}}},
        {{LINE, 0, 0, 2, tk::LINE_V, 7}, {{0, 0}, {0, 1}, {0, 2}}},
        {{LINE, 6, 5, 4, tk::LINE_V, 7}, {}}, // a vertical end above the start draws nothing
        {{LINE, 2, 3, 10, tk::LINE_V_DOTTED, 7}, {{2, 3}, {2, 5}, {2, 7}, {2, 9}}},
        {{LINE, 2, 3, 11, tk::LINE_V_DOTTED, 7}, {{2, 3}, {2, 5}, {2, 7}, {2, 9}, {2, 11}}},
        {{LINE, 1, 6, 3, 7, 7}, {{1, 6}, {2, 6}, {3, 6}}}, // unknown modes are solid horizontal
        {{LINE, 1, 6, 3, tk::LINE_H, 99}, {}}, {{FRAME, 2, 2, 0, 5, 0}, {}},
        {{GLYPH, 2, 2, 0, 0, 7}, {}},          {{GLYPH, 2, 2, 196, 0, 7}, {}},
    };
    // clang-format on
    for (const auto& [shape, pixels] : cases) {
        SCOPED_TRACE(testing::Message() << shape);
        test::Canvas canvas(16, 14);
        draw(shape);
        for (auto [x, y] : pixels) EXPECT_EQ(canvas.at(x, y), 0xC04040u) << "(" << x << ", " << y << ")";
        EXPECT_EQ(canvas.changed(), pixels.size());
    }
}

// A width x height picture of characters straight from the font's bits, one per 9-pixel cell from
// (x, y) in the colour; a space, and a byte that is no character, leave the cell blank.
std::vector<uint32_t> cells(const std::string& text, int width, int height, int x, int y, uint32_t colour) {
    test::Canvas canvas{uint16_t(width), uint16_t(height)};
    for (size_t i = 0; i < text.size(); ++i)
        for (int p = 0, code = uint8_t(text[i]);
             code >= 1 && code <= tk::glyph_count && p < 8 * tk::glyph_rows; ++p)
            if (tk::font[(code - 1) * tk::glyph_rows + p / 8] & 0x80 >> p % 8)
                tk::fill_rect(x + 9 * int(i) + p % 8, y + p / 8, 1, 1, colour);
    return canvas.pixels();
}

// Each character takes a 9-pixel cell, also one without a glyph, and sets its font bits only; bytes
// above 127 are unsigned codes. Catches: a reversed bit order, a glyph taken from the wrong place in
// the font, clear bits that paint over what lies beneath, rows or columns drawn outside the cell, and
// dirty left clear by a string that draws nothing.
TEST(Strings, EveryCodeSetsItsFontBitsInCellsOfNine) {
    std::string every;
    for (int code = 1; code <= tk::glyph_count; ++code) every += char(code);
    // The text, its colour, and the characters the cells show.
    const std::tuple<const char*, uint32_t, std::string> cases[] = {
        {"", 6, ""},      {"a b", 6, "a b"},    {"\xC2\xC3", 6, "\xC2\xC3"}, {"\xC4z", 6, " z"},
        {nullptr, 6, ""}, {"\xC2\xC2", 16, ""}, {every.c_str(), 5, every}};
    for (const auto& [text, colour, shown] : cases) {
        SCOPED_TRACE(testing::Message() << (text ? std::strlen(text) : 0) << " bytes in colour " << colour);
        const std::vector<uint32_t> want = cells(shown, 1800, 40, 10, 20, colour);
        test::Canvas drawn(1800, 40);
        tk::window.dirty = 0, tk::draw_string(text, 10, 20, colour);
        EXPECT_TRUE(tk::window.dirty == 1 && drawn.pixels() == want);
    }
}

// Clipping. A w x h framebuffer with one spare row below and above it in memory, where a write past
// either end would land.
constexpr int W = 24, H = 20, M = 40; // the small framebuffer, and the large one's margin around it
struct Clipped : test::Canvas {
    int w, h;
    explicit Clipped(int w = W, int h = H) : test::Canvas(uint16_t(w), uint16_t(h + 2)), w(w), h(h) {
        tk::window.fb.pixels += w, tk::window.fb.height = uint16_t(h);
    }
    uint32_t inside(int x, int y) const { return pixels()[w + (h - 1 - y) * w + x]; }
    bool spare_rows_untouched() const {
        const std::vector<uint32_t>& p = pixels();
        return std::count(p.begin(), p.begin() + w, fill) + std::count(p.end() - w, p.end(), fill) == 2 * w;
    }
};

// Each shape is judged against itself drawn wholly inside a larger framebuffer. Catches: pixels lost
// or added at any edge, rows wrapped into the next, a dotted line whose phase restarts at the edge,
// a glyph or string cut in the wrong column.
TEST(Clipping, TheInsidePartExactlyOnEverySide) {
    // clang-format off
    const Shape cases[] = {
        {RECT, -3, 2, 6, 4, 1},     {RECT, 20, 2, 10, 4, 1},   {RECT, 2, -5, 4, 8, 1},      {RECT, 2, 17, 4, 10, 1},
        {RECT, -5, -5, 34, 30, 1},  {RECT, -10, 2, 5, 5, 1},   {RECT, 2, 20, 5, 5, 1},      {LINE, -5, 3, 5, 0, 2},
        {LINE, 20, 5, 30, 7, 2},    {LINE, -5, 4, 30, 2, 2},   {LINE, -4, 6, 30, 2, 2},     {LINE, 0, -1, 10, 0, 2},
        {LINE, 3, -7, 5, 1, 2},     {LINE, 4, -7, 30, 3, 2},   {LINE, 5, -6, 30, 3, 2},     {LINE, 24, 0, 10, 1, 2},
        {FRAME, -4, 3, 10, 8, 0},   {FRAME, 18, 3, 10, 8, 1},  {FRAME, 3, -5, 8, 10, 0},    {FRAME, 3, 15, 8, 10, 1},
        {FRAME, -1, -1, 26, 22, 0}, {FRAME, -3, -3, 30, 26, 1}, {GLYPH, -3, 2, 194, 0, 3},  {GLYPH, 20, 2, 194, 0, 3},
        {GLYPH, 2, -6, 65, 0, 3},   {GLYPH, 2, 12, 121, 0, 3}, {GLYPH, -7, -12, 194, 0, 3}, {STRING, W - 12, 2, 0, 0, 4},
        {STRING, -14, 5, 0, 0, 4},
    };
    // clang-format on
    for (const Shape& s : cases) {
        SCOPED_TRACE(testing::Message() << s);
        test::Canvas large(W + 2 * M, H + 2 * M);
        draw(s, M, M);
        std::vector<uint32_t> want; // the large picture's window onto the small framebuffer
        for (int i = 0; i < W * H; ++i) want.push_back(large.at(i % W + M, i / W + M));
        Clipped small;
        draw(s);
        EXPECT_TRUE(small.spare_rows_untouched());
        for (int i = 0; i < W * H; ++i)
            ASSERT_EQ(small.inside(i % W, i / W), want[i]) << "(" << i % W << ", " << i / W << ")";
    }
}

// Catches: positions and sizes at the ends of the 32-bit range that wrap around, and long runs
// (whole rows back to back, or single rows longer than the fill's widest store) that stop early
// or run on past the edge. A frame of style -3 is sunken: only its inner shadow lines show.
TEST(Clipping, ExtremeCoordinatesAndLongRuns) {
    // The framebuffer's size, the shape, the pixels it changes.
    const std::tuple<int, int, Shape, size_t> cases[] = {
        // clang-format off
        {W, H, {RECT, lo, lo, hi, hi, 1}, 0},                    {W, H, {RECT, -2, -2, hi, hi, 1}, W * H},
        {W, H, {RECT, hi - 1, 0, hi, 3, 1}, 0},                  {W, H, {LINE, hi - 2, 3, hi, tk::LINE_H, 1}, 0},
        {W, H, {LINE, lo, 2, hi, tk::LINE_H_DOTTED, 1}, W / 2},  {W, H, {LINE, 7, lo + 1, hi, tk::LINE_V_DOTTED, 1}, H / 2},
        {W, H, {FRAME, lo, lo, hi, hi, 0}, 0},                   {W, H, {FRAME, -1, -1, hi, hi, -3}, W + H - 1},
        {W, H, {GLYPH, lo, hi, 194, 0, 1}, 0},                   {W, H, {STRING, hi - 5, 0, 0, 0, 1}, 0},
        {W, H, {STRING, lo, 0, 0, 0, 1}, 0},                     {544, 3, {RECT, -1, -1, 550, 9, 2}, 544 * 3},
        {1025, 1, {RECT, -1, -1, 1030, 9, 2}, 1025},             {2049, 2, {RECT, 1, -1, 2060, 9, 2}, 2048 * 2},
        {333, 7, {RECT, 1, -1, 340, 9, 2}, 332 * 7},
        // clang-format on
    };
    for (const auto& [w, h, shape, changed] : cases) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << ", " << shape);
        Clipped small(w, h);
        draw(shape);
        EXPECT_TRUE(small.spare_rows_untouched());
        EXPECT_EQ(small.changed(), changed);
    }
}

// Number fields, judged against their cells. The hex value sits in a 32-bit word whose upper bytes
// hold junk, so reading too wide shows. Catches also a null address read, a field near the right end
// of the range returning a wrapped x, and, for fixed point: leading zeros drawn or the units zero left
// blank, the scale ignored or the product taken wider than 32 bits, the point missing, and a value that
// does not fit (or a format wider than 9 digits) shown as some other number instead of '#' cells.
TEST(NumberFields, DrawTheirDigitsAndEndAfterThem) {
    // Hex fields (scale 0): the 32-bit word holding the value, the format, the cells drawn. Fixed point:
    // the value, its scale, the format, the cells drawn.
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*> cases[] = {
        // clang-format off
        {0xEEEEEE0A, 0, 0x02, "0A"},       {0xEEEEEE0A, 0, 0x01, "A"},        {0xEEEEEE0A, 0, 0x00, ""},
        {0xEEEEEE0F, 0, 0x01, "F"},        {0xEEEE1234, 0, 0x48, "00001234"}, {0xEEEEEE0A, 0, 0x1F, "0000000A"},
        {0xEEEEEE0A, 0, 0x20, ""},         {0xDEADBEEF, 0, 0x88, "DEADBEEF"}, {0x12345678, 0, 0x84, "5678"},
        {0x9ABCDEF0, 0, 0xC8, "9ABCDEF0"}, // both size bits: 32-bit; 0x1F: more than 8 digits shows 8
        {63, 5, 0x21, "31.5"},        {1, 5, 0x21, " 0.5"},          {0, 5, 0x21, " 0.0"},
        {124, 125, 0x14, "1.5500"},   {69, 125, 0x14, "0.8625"},     {7, 1, 0x03, ".007"},
        {0, 1, 0x30, "  0"},          {105, 1, 0x30, "105"},         {999999999, 1, 0x90, "999999999"},
        {0x80000001, 2, 0x30, "  2"}, {0, 1, 0x00, ""},              {1000, 1, 0x30, "###"},
        {200, 5, 0x21, "##.#"},       {0xFFFFFFFF, 1, 0x90, "#########"},
        {0, 1, 0xA0, "##########"},   {0, 1, 0x0A, ".##########"},
        // clang-format on
    };
    for (const auto& [value, scale, format, shown] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << value << " x " << scale << " format " << format);
        test::Canvas drawn(300, 20);
        // A hex field reads the value's bytes as the machine stores them, the low byte first.
        EXPECT_EQ(scale == 0 ? tk::draw_hex_field(&value, format, 5, 3, 6)
                             : tk::draw_number_field(value, scale, format, 5, 3, 6),
                  5 + 9 * int(std::strlen(shown)));
        EXPECT_TRUE(drawn.pixels() == cells(shown, 300, 20, 5, 3, 6));
    }
    test::Canvas drawn(300, 20);
    EXPECT_EQ(tk::draw_hex_field(nullptr, 0x02, 5, 3, 6), 5 + 18);
    EXPECT_TRUE(drawn.pixels() == cells("##", 300, 20, 5, 3, 6));
    const uint8_t byte = 0x5A;
    EXPECT_EQ(tk::draw_hex_field(&byte, 0x02, INT32_MAX - 10, 3, 6), INT32_MAX);
    EXPECT_EQ(tk::draw_number_field(7, 1, 0x03, INT32_MAX - 30, 3, 6), INT32_MAX);
}

} // namespace
