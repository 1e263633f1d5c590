#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"

namespace {

constexpr uint32_t fill = 0x00ABCDEF; // test::Canvas's untouched value
constexpr uint32_t dark = 0x404040, grey = 0x808080, face = 0xD0D0D0, white = 0xFFFFFF;
constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;

using Glyph = std::array<uint8_t, tk::glyph_rows>;

Glyph font_glyph(uint32_t code) {
    Glyph g{};
    for (int r = 0; r < tk::glyph_rows; ++r) g[r] = tk::font[(code - 1) * tk::glyph_rows + r];
    return g;
}

// Reads the 8 x 13 cell at (x, y) back as glyph rows: a bit is set where the pixel holds ink.
Glyph read_cell(const test::Canvas& canvas, int x, int y, uint32_t ink) {
    Glyph g{};
    for (int r = 0; r < tk::glyph_rows; ++r)
        for (int c = 0; c < 8; ++c)
            if (canvas.at(x + c, y + r) == ink) g[r] |= uint8_t(0x80 >> c);
    return g;
}

size_t bits_of(const Glyph& g) {
    size_t n = 0;
    for (uint8_t row : g) n += std::popcount(row);
    return n;
}

// One call of a primitive. RECT: width, height, colour; LINE: end, mode, colour; FRAME: width,
// height, style; GLYPH: code, -, colour; STRING (three block glyphs): -, -, colour.
enum Kind { RECT, LINE, FRAME, GLYPH, STRING };
struct Shape {
    Kind kind;
    int32_t x, y, a, b, c;
};

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

TEST(Addressing, ScreenPositionsLandBottomUpAndFollowAResize) {
    test::Canvas large(6, 4);
    tk::fill_rect(0, 0, 1, 1, 4); // top-left: first pixel of the last row in memory
    tk::fill_rect(0, 3, 1, 1, 5); // bottom-left: first pixel in memory
    {
        test::Canvas small(7, 5); // a resize between two calls
        tk::draw_line(2, 3, 2, tk::LINE_H, 6);
        EXPECT_EQ(small.pixels()[(5 - 1 - 3) * 7 + 2], 0x550055u);
        EXPECT_EQ(small.changed(), 1u);
    }
    EXPECT_EQ(large.pixels()[3 * 6], white);
    EXPECT_EQ(large.pixels()[0], 0x008000u);
    EXPECT_EQ(large.changed(), 2u);
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
        {{LINE, 1, 6, 2, -1, 7}, {{1, 6}, {2, 6}}},
        {{LINE, 1, 6, 3, tk::LINE_H, 99}, {}},
        {{FRAME, 2, 2, 0, 5, 0}, {}},
        {{GLYPH, 2, 2, 0, 0, 7}, {}},
        {{GLYPH, 2, 2, 196, 0, 7}, {}},
    };
    for (const auto& [shape, pixels] : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << shape.kind << " (" << shape.x << ", " << shape.y << ") "
                                        << shape.a << " " << shape.b << " " << shape.c);
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

// The glyphs whose pictures the application relies on.
TEST(Glyphs, TellingGlyphsMatchTheirBitmaps) {
    const std::pair<uint32_t, Glyph> cases[] = {
        {24, {0x18, 0x3C, 0x7E, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00}},
        {25, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x7E, 0x7E, 0x3C, 0x18, 0x00}},
        {32, {}},
        {46, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x18, 0x18, 0}},
        {48, {0x3C, 0x42, 0xC3, 0xC3, 0xC7, 0xCB, 0xD3, 0xE3, 0xC3, 0xC3, 0x42, 0x3C, 0x00}},
        {65, {0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00}},
        {128, {0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00}},
        {95, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF}},
        {121, {0x00, 0x00, 0x00, 0xC3, 0xC3, 0xC3, 0x63, 0x36, 0x1E, 0x0C, 0x18, 0x30, 0x60}},
    };
    for (const auto& [code, bitmap] : cases) {
        SCOPED_TRACE(code);
        test::Canvas canvas(12, 16, face);
        tk::draw_glyph(code, 0, 2, 1);
        EXPECT_EQ(read_cell(canvas, 2, 1, 0), bitmap);
        EXPECT_EQ(canvas.changed(face), bits_of(bitmap)); // clear bits leave the face
    }
}

TEST(Glyphs, EveryCodeDrawsItsFontBitsOnly) {
    for (uint32_t code = 1; code <= uint32_t(tk::glyph_count); ++code) {
        SCOPED_TRACE(code);
        test::Canvas canvas(11, 15, face);
        tk::draw_glyph(code, 5, 1, 1);
        ASSERT_EQ(read_cell(canvas, 1, 1, 0x008000), font_glyph(code));
        ASSERT_EQ(canvas.changed(face), bits_of(font_glyph(code)));
    }
}

TEST(Strings, AdvanceNineAndSetDirty) {
    const std::pair<const char*, std::vector<uint32_t>> cases[] = {
        {"ab", {'a', 'b'}},       {"", {}},
        {"a b", {'a', ' ', 'b'}}, {"\xC2\xC3", {194, 195}}, // bytes above 127 are unsigned codes
        {"\xC4z", {0, 'z'}},                                // a code without a glyph still takes its cell
    };
    for (const auto& [text, cells] : cases) {
        SCOPED_TRACE(text);
        test::Canvas canvas(60, 40, face);
        tk::window.dirty = 0;
        tk::draw_string(text, 10, 20, 6);
        EXPECT_EQ(tk::window.dirty, 1);
        size_t bits = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const Glyph want = cells[i] == 0 ? Glyph{} : font_glyph(cells[i]);
            EXPECT_EQ(read_cell(canvas, 10 + 9 * int(i), 20, 0x550055), want) << "cell " << i;
            bits += bits_of(want);
        }
        EXPECT_EQ(canvas.changed(face), bits);
    }
    test::Canvas canvas(60, 40);
    for (auto [text, colour] : {std::pair<const char*, uint32_t>{"\xC2\xC2", 16}, {nullptr, 0}}) {
        tk::window.dirty = 0;
        tk::draw_string(text, 0, 0, colour);
        EXPECT_EQ(tk::window.dirty, 1);
    }
    EXPECT_EQ(canvas.changed(), 0u);
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
        for (int x = 0; x < w_; ++x) {
            EXPECT_EQ(canvas_.pixels()[x], fill) << "below, column " << x;
            EXPECT_EQ(canvas_.pixels()[(h_ + 1) * w_ + x], fill) << "above, column " << x;
        }
    }

  private:
    int w_, h_;
    test::Canvas canvas_;
};

// Long fills are done in blocks; runs that end inside a block must stop exactly.
TEST(Clipping, LongFillsCoverTheirPixelsExactly) {
    for (auto [w, h] : {std::pair{544, 3}, {333, 7}, {1025, 1}, {2049, 2}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        for (int left : {-1, 1}) {
            Clipped small(w, h);
            tk::fill_rect(left, -1, w + 5, h + 5, 2);
            small.expect_spare_rows_untouched();
            EXPECT_EQ(small.changed(), size_t(w - std::max(left, 0)) * h);
            EXPECT_EQ(small.at(w - 1, h - 1), grey);
        }
    }
}

TEST(Clipping, TheInsidePartExactlyOnEverySide) {
    const Shape cases[] = {
        {RECT, -3, 2, 6, 4, 1},    {RECT, 20, 2, 10, 4, 1},     {RECT, 2, -5, 4, 8, 1},
        {RECT, 2, 17, 4, 10, 1},   {RECT, -5, -5, 34, 30, 1},   {RECT, 1, 3, 30, 4, 1},
        {RECT, -1, 5, 30, 3, 1},   {RECT, -10, 2, 5, 5, 1},     {RECT, 2, 20, 5, 5, 1},
        {LINE, -5, 3, 5, 0, 2},    {LINE, 20, 5, 30, 7, 2},     {LINE, -5, 4, 30, 2, 2},
        {LINE, -4, 6, 30, 2, 2},   {LINE, 0, -1, 10, 0, 2},     {LINE, 3, -7, 5, 1, 2},
        {LINE, 4, -7, 30, 3, 2},   {LINE, 5, -6, 30, 3, 2},     {LINE, 24, 0, 10, 1, 2},
        {FRAME, -4, 3, 10, 8, 0},  {FRAME, 18, 3, 10, 8, 1},    {FRAME, 3, -5, 8, 10, 0},
        {FRAME, 3, 15, 8, 10, 1},  {FRAME, -1, -1, 26, 22, 0},  {FRAME, -3, -3, 30, 26, 1},
        {GLYPH, -3, 2, 194, 0, 3}, {GLYPH, 20, 2, 194, 0, 3},   {GLYPH, 2, -6, 65, 0, 3},
        {GLYPH, 2, 12, 121, 0, 3}, {GLYPH, -7, -12, 194, 0, 3}, {STRING, W - 12, 2, 0, 0, 4},
        {STRING, -14, 5, 0, 0, 4},
    };
    for (const Shape& s : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << s.kind << " (" << s.x << ", " << s.y << ") " << s.a
                                        << " " << s.b << " " << s.c);
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

// Positions and sizes at the ends of the 32-bit range neither wrap around nor write outside.
TEST(Clipping, ExtremeCoordinates) {
    const std::pair<Shape, size_t> cases[] = {
        {{RECT, lo, lo, hi, hi, 1}, 0},
        {{RECT, -2, -2, hi, hi, 1}, W * H},
        {{RECT, hi - 1, 0, hi, 3, 1}, 0},
        {{LINE, lo, 2, hi, tk::LINE_H_DOTTED, 1}, W / 2},
        {{LINE, 7, lo + 1, hi, tk::LINE_V_DOTTED, 1}, H / 2},
        {{LINE, hi - 2, 3, hi, tk::LINE_H, 1}, 0},
        {{FRAME, lo, lo, hi, hi, 0}, 0},
        {{FRAME, -1, -1, hi, hi, 1}, W + H - 1},
        {{GLYPH, lo, hi, 194, 0, 1}, 0},
        {{STRING, hi - 5, 0, 0, 0, 1}, 0},
        {{STRING, lo, 0, 0, 0, 1}, 0},
    };
    for (const auto& [shape, changed] : cases) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << shape.kind << " (" << shape.x << ", " << shape.y << ")");
        Clipped small;
        draw(shape);
        small.expect_spare_rows_untouched();
        EXPECT_EQ(small.changed(), changed);
    }
}

} // namespace
