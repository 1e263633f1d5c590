// Pixel contracts of the drawing primitives, and their clipping against the framebuffer.
#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <tuple>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"

namespace {

constexpr uint32_t fill = 0x00ABCDEF; // test::Canvas's untouched value
constexpr uint32_t dark = 0x404040, grey = 0x808080, face = 0xD0D0D0, white = 0xFFFFFF;
constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;

// Whether the font sets column x of row y in the glyph's 8 x 13 cell; false outside the cell.
bool font_bit(uint32_t code, int x, int y) {
    if (x < 0 || x >= 8 || y < 0 || y >= tk::glyph_rows) return false;
    return tk::font[(code - 1) * tk::glyph_rows + y] >> (7 - x) & 1;
}

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

// Catches: rows counted from the top in memory, and a framebuffer remembered from an earlier call.
TEST(Addressing, TopLeftIsTheLastRowInMemoryAndAResizeIsFollowed) {
    test::Canvas large(6, 4);
    tk::fill_rect(0, 0, 1, 1, 4);
    EXPECT_EQ(large.pixels()[3 * 6], white);
    test::Canvas small(7, 5); // a resize between two calls
    tk::fill_rect(0, 0, 1, 1, 5);
    EXPECT_EQ(small.pixels()[4 * 7], 0x008000u);
    EXPECT_EQ(large.changed() + small.changed(), 2u);
}

// Exact pixel sets of single calls, all in colour 7, including inputs that draw nothing.
TEST(Primitives, WriteExactlyTheirPixels) {
    const std::pair<Shape, std::vector<std::pair<int, int>>> cases[] = {
        {{RECT, 5, 5, 1, 1, 7}, {{5, 5}}},
        {{RECT, 1, 2, 2, 2, 7}, {{1, 2}, {2, 2}, {1, 3}, {2, 3}}},
        {{RECT, 5, 5, 0, 3, 7}, {}},
        {{RECT, 5, 5, 3, -1, 7}, {}},
        {{RECT, 5, 5, 2, 2, 16}, {}},
        {{LINE, 4, 2, 4, tk::LINE_H, 7}, {{4, 2}}},
        {{LINE, 4, 2, 3, tk::LINE_H, 7}, {}},
        {{LINE, 3, 1, 10, tk::LINE_H_DOTTED, 7}, {{3, 1}, {5, 1}, {7, 1}, {9, 1}}},
        {{LINE, 0, 0, 2, tk::LINE_V, 7}, {{0, 0}, {0, 1}, {0, 2}}},
        {{LINE, 6, 5, 4, tk::LINE_V, 7}, {}}, // a vertical end above the start draws nothing
        {{LINE, 2, 3, 10, tk::LINE_V_DOTTED, 7}, {{2, 3}, {2, 5}, {2, 7}, {2, 9}}},
        {{LINE, 2, 3, 11, tk::LINE_V_DOTTED, 7}, {{2, 3}, {2, 5}, {2, 7}, {2, 9}, {2, 11}}},
        {{LINE, 1, 6, 3, 7, 7}, {{1, 6}, {2, 6}, {3, 6}}}, // unknown modes are solid horizontal
        {{LINE, 1, 6, 3, tk::LINE_H, 99}, {}},
        {{FRAME, 2, 2, 0, 5, 0}, {}},
        {{GLYPH, 2, 2, 0, 0, 7}, {}},
        {{GLYPH, 2, 2, 196, 0, 7}, {}},
    };
    for (const auto& [shape, pixels] : cases) {
        SCOPED_TRACE(testing::Message() << shape);
        test::Canvas canvas(16, 14);
        draw(shape);
        for (auto [x, y] : pixels) EXPECT_EQ(canvas.at(x, y), 0xC04040u) << "(" << x << ", " << y << ")";
        EXPECT_EQ(canvas.changed(), pixels.size());
    }
}

// The 12 x 16 frames at (0, 0), classified pixel by pixel from how each style should look.
TEST(Frames, RaisedAndSunkenPixelByPixel) {
    auto raised = [](int x, int y) {
        if (y == 15 || x == 11) return dark;
        if (y == 0 || x == 0) return white;
        return y == 14 || x == 10 ? grey : face;
    };
    auto sunken = [](int x, int y) {
        if (y == 0 || x == 0) return dark;
        if (y == 15 || x == 11) return white;
        return y == 1 || x == 1 ? grey : face;
    };
    for (int style : {tk::FRAME_RAISED, 1, -3}) {
        SCOPED_TRACE(style);
        test::Canvas canvas(14, 18, face);
        tk::draw_frame(0, 0, 12, 16, style);
        for (int y = 0; y < 18; ++y)
            for (int x = 0; x < 14; ++x) {
                const uint32_t want = x >= 12 || y >= 16 ? face : style == 0 ? raised(x, y) : sunken(x, y);
                ASSERT_EQ(canvas.at(x, y), want) << "(" << x << ", " << y << ")";
            }
    }
}

// Catches: a reversed bit order, a glyph taken from the wrong place in the font, clear bits that
// paint over what lies beneath, and rows or columns drawn outside the cell.
TEST(Glyphs, EveryCodeDrawsItsFontBitsOnly) {
    for (uint32_t code = 1; code <= uint32_t(tk::glyph_count); ++code) {
        SCOPED_TRACE(code);
        test::Canvas canvas(11, 15, face);
        tk::draw_glyph(code, 5, 1, 1);
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 11; ++x)
                ASSERT_EQ(canvas.at(x, y), font_bit(code, x - 1, y - 1) ? 0x008000u : face) << x << ", " << y;
    }
}

// Each character takes a 9-pixel cell, also one without a glyph; bytes above 127 are unsigned
// codes. Catches also dirty left clear by a string that draws nothing.
TEST(Strings, AdvanceNineAndSetDirty) {
    // The text, its colour, and the code each cell shows (0: none).
    const std::tuple<const char*, uint32_t, std::vector<uint32_t>> cases[] = {
        {"", 6, {}},
        {"a b", 6, {'a', ' ', 'b'}},
        {"\xC2\xC3", 6, {194, 195}},
        {"\xC4z", 6, {0, 'z'}},
        {"\xC2\xC2", 16, {}},
        {nullptr, 6, {}},
    };
    for (const auto& [text, colour, codes] : cases) {
        SCOPED_TRACE(testing::Message() << (text ? text : "null") << " in colour " << colour);
        test::Canvas expected(60, 40);
        for (size_t i = 0; i < codes.size(); ++i) tk::draw_glyph(codes[i], colour, 10 + 9 * int(i), 20);
        test::Canvas drawn(60, 40);
        tk::window.dirty = 0;
        tk::draw_string(text, 10, 20, colour);
        EXPECT_EQ(tk::window.dirty, 1);
        EXPECT_EQ(drawn.pixels(), expected.pixels());
    }
}

// Clipping. The framebuffer gets one spare row below and above it in memory, where a write past
// either end would land; each shape is judged against itself drawn wholly inside a larger one.
constexpr int W = 24, H = 20, M = 40; // the small framebuffer, and the large one's margin around it

class Clipped {
  public:
    explicit Clipped(int w = W, int h = H) : w_(w), h_(h), canvas_(uint16_t(w), uint16_t(h + 2)) {
        tk::window.fb.pixels += w;
        tk::window.fb.height = uint16_t(h);
    }
    uint32_t at(int x, int y) const { return canvas_.pixels()[w_ + (h_ - 1 - y) * w_ + x]; }
    size_t changed() const { return canvas_.changed(); }
    void expect_spare_rows_untouched() const {
        const std::vector<uint32_t>& p = canvas_.pixels();
        const std::vector<uint32_t> untouched(size_t(w_), fill);
        EXPECT_EQ(std::vector<uint32_t>(p.begin(), p.begin() + w_), untouched) << "below";
        EXPECT_EQ(std::vector<uint32_t>(p.end() - w_, p.end()), untouched) << "above";
    }

  private:
    int w_, h_;
    test::Canvas canvas_;
};

// Catches: pixels lost or added at any edge, rows wrapped into the next, a dotted line whose phase
// restarts at the edge, a glyph or string cut in the wrong column.
TEST(Clipping, TheInsidePartExactlyOnEverySide) {
    const Shape cases[] = {
        {RECT, -3, 2, 6, 4, 1},       {RECT, 20, 2, 10, 4, 1},   {RECT, 2, -5, 4, 8, 1},
        {RECT, 2, 17, 4, 10, 1},      {RECT, -5, -5, 34, 30, 1}, {RECT, -10, 2, 5, 5, 1},
        {RECT, 2, 20, 5, 5, 1},       {LINE, -5, 3, 5, 0, 2},    {LINE, 20, 5, 30, 7, 2},
        {LINE, -5, 4, 30, 2, 2},      {LINE, -4, 6, 30, 2, 2},   {LINE, 0, -1, 10, 0, 2},
        {LINE, 3, -7, 5, 1, 2},       {LINE, 4, -7, 30, 3, 2},   {LINE, 5, -6, 30, 3, 2},
        {LINE, 24, 0, 10, 1, 2},      {FRAME, -4, 3, 10, 8, 0},  {FRAME, 18, 3, 10, 8, 1},
        {FRAME, 3, -5, 8, 10, 0},     {FRAME, 3, 15, 8, 10, 1},  {FRAME, -1, -1, 26, 22, 0},
        {FRAME, -3, -3, 30, 26, 1},   {GLYPH, -3, 2, 194, 0, 3}, {GLYPH, 20, 2, 194, 0, 3},
        {GLYPH, 2, -6, 65, 0, 3},     {GLYPH, 2, 12, 121, 0, 3}, {GLYPH, -7, -12, 194, 0, 3},
        {STRING, W - 12, 2, 0, 0, 4}, {STRING, -14, 5, 0, 0, 4},
    };
    for (const Shape& s : cases) {
        SCOPED_TRACE(testing::Message() << s);
        test::Canvas large(W + 2 * M, H + 2 * M);
        draw(s, M, M);
        std::vector<uint32_t> want(W * H); // the large picture's window onto the small framebuffer
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) want[y * W + x] = large.at(x + M, y + M);
        Clipped small;
        draw(s);
        small.expect_spare_rows_untouched();
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                ASSERT_EQ(small.at(x, y), want[y * W + x]) << "(" << x << ", " << y << ")";
    }
}

// Catches: positions and sizes at the ends of the 32-bit range that wrap around, and long runs
// (whole rows back to back, or single rows longer than the fill's widest store) that stop early
// or run on past the edge.
TEST(Clipping, ExtremeCoordinatesAndLongRuns) {
    // The framebuffer's size, the shape, the pixels it changes.
    const std::tuple<int, int, Shape, size_t> cases[] = {
        {W, H, {RECT, lo, lo, hi, hi, 1}, 0},
        {W, H, {RECT, -2, -2, hi, hi, 1}, W * H},
        {W, H, {RECT, hi - 1, 0, hi, 3, 1}, 0},
        {W, H, {LINE, lo, 2, hi, tk::LINE_H_DOTTED, 1}, W / 2},
        {W, H, {LINE, 7, lo + 1, hi, tk::LINE_V_DOTTED, 1}, H / 2},
        {W, H, {LINE, hi - 2, 3, hi, tk::LINE_H, 1}, 0},
        {W, H, {FRAME, lo, lo, hi, hi, 0}, 0},
        {W, H, {FRAME, -1, -1, hi, hi, 1}, W + H - 1},
        {W, H, {GLYPH, lo, hi, 194, 0, 1}, 0},
        {W, H, {STRING, hi - 5, 0, 0, 0, 1}, 0},
        {W, H, {STRING, lo, 0, 0, 0, 1}, 0},
        {544, 3, {RECT, -1, -1, 550, 9, 2}, 544 * 3},
        {1025, 1, {RECT, -1, -1, 1030, 9, 2}, 1025},
        {2049, 2, {RECT, 1, -1, 2060, 9, 2}, 2048 * 2},
        {333, 7, {RECT, 1, -1, 340, 9, 2}, 332 * 7},
    };
    for (const auto& [w, h, shape, changed] : cases) {
        SCOPED_TRACE(testing::Message() << w << "x" << h << ", " << shape);
        Clipped small(w, h);
        draw(shape);
        small.expect_spare_rows_untouched();
        EXPECT_EQ(small.changed(), changed);
    }
}

} // namespace
