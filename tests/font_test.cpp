// Checks the font table against the glyphs other parts of the program rely on and against the
// rules every glyph keeps: the row convention, the blank and solid codes, and distinct bitmaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <set>
#include <utility>

#include "toolkit/font.h"

namespace {

using Rows = std::array<uint8_t, tk::glyph_rows>;

Rows glyph(int code) {
    Rows rows{};
    std::copy_n(tk::font.begin() + (code - 1) * tk::glyph_rows, tk::glyph_rows, rows.begin());
    return rows;
}

bool blank(const Rows& rows) {
    return std::all_of(rows.begin(), rows.end(), [](uint8_t r) { return r == 0; });
}

// Glyphs fixed bit for bit: the arrows on the up and down buttons, and the ones that set the style.
struct Listed {
    int code;
    Rows rows;
};
const Listed listed[] = {
    {24, {0x18, 0x3C, 0x7E, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00}},
    {25, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x7E, 0x7E, 0x3C, 0x18, 0x00}},
    {32, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {46, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x18, 0x18, 0x00}},
    {48, {0x3C, 0x42, 0xC3, 0xC3, 0xC7, 0xCB, 0xD3, 0xE3, 0xC3, 0xC3, 0x42, 0x3C, 0x00}},
    {65, {0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00}},
    {128, {0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00}}, // Cyrillic A
    {95, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF}},
    {121, {0x00, 0x00, 0x00, 0xC3, 0xC3, 0xC3, 0x63, 0x36, 0x1E, 0x0C, 0x18, 0x30, 0x60}},
};

// Catches a shifted table (a glyph missing or doubled upstream) and a reversed bit order (y and the
// zero's stroke are not mirror-symmetric).
TEST(Font, ListedGlyphsMatchBitForBit) {
    for (const Listed& l : listed) EXPECT_EQ(glyph(l.code), l.rows) << "code " << l.code;
}

// The control codes tab, line feed and carriage return draw nothing; the two block codes fill the cell.
TEST(Font, BlankAndSolidCodes) {
    for (int code : {9, 10, 13}) EXPECT_TRUE(blank(glyph(code))) << "code " << code;
    Rows solid;
    solid.fill(0xFF);
    for (int code : {194, 195}) EXPECT_EQ(glyph(code), solid) << "code " << code;
}

// Every other code has a picture: catches a glyph left blank when the table was drawn.
TEST(Font, OnlySpaceAndControlCodesAreBlank) {
    for (int code = 1; code <= tk::glyph_count; ++code) {
        const bool may_be_blank = code == 9 || code == 10 || code == 13 || code == 32;
        EXPECT_EQ(blank(glyph(code)), may_be_blank) << "code " << code;
    }
}

// Row 12 holds descenders only, and every descender reaches it: catches a body sitting one row too low
// and a tail clipped off at the bottom of the cell.
TEST(Font, RowTwelveHoldsExactlyTheDescenders) {
    const std::set<int> descenders = {
        44,  59,  81,  95,  103, 106, 112, 113, 121, 124, // , ; Q _ g j p q y |
        132, 150, 153,                                    // Д Ц Щ
        164, 176, 179, 180, 182, 185,                     // д р у ф ц щ
        194, 195,                                         // solid blocks
    };
    for (int code = 1; code <= tk::glyph_count; ++code)
        EXPECT_EQ(glyph(code)[12] != 0, descenders.count(code) == 1) << "code " << code;
}

// The only glyphs drawn alike are the Cyrillic letters that look like Latin ones, the blanks and the
// blocks: catches a glyph pasted over its neighbour, such as Щ drawn as Ш or Й as И.
TEST(Font, GlyphsAreDistinctButForLookAlikes) {
    const std::set<std::pair<int, int>> alike = {
        {9, 10},    {9, 13},    {9, 32},    {10, 13},   {10, 32},   {13, 32},   // blanks
        {65, 128},  {66, 130},  {67, 145},  {69, 133},  {72, 141},  {75, 138},  // A B C E H K
        {77, 140},  {79, 142},  {80, 144},  {84, 146},  {88, 149},              // M O P T X
        {97, 160},  {99, 177},  {101, 165}, {111, 174}, {112, 176}, {120, 181}, // a c e o p x
        {121, 179}, {194, 195},                                                 // y, solid blocks
    };
    for (int a = 1; a <= tk::glyph_count; ++a)
        for (int b = a + 1; b <= tk::glyph_count; ++b)
            EXPECT_EQ(glyph(a) == glyph(b), alike.count({a, b}) == 1) << "codes " << a << " and " << b;
}

// O is not drawn so close to the zero that the two can be confused: they differ in at least the four
// pixels of the stroke.
TEST(Font, ZeroStandsApartFromO) {
    const Rows zero = glyph('0'), o = glyph('O');
    int differing = 0;
    for (int r = 0; r < tk::glyph_rows; ++r) differing += std::popcount(unsigned(zero[r] ^ o[r]));
    EXPECT_GE(differing, 4);
}

// The vertical bar is broken by one blank row in the middle of the cell and is solid elsewhere.
TEST(Font, VerticalBarHasOneRowGap) {
    const Rows bar = glyph('|');
    for (int r = 0; r < tk::glyph_rows; ++r) EXPECT_EQ(bar[r] == 0, r == tk::glyph_rows / 2) << "row " << r;
}

} // namespace
