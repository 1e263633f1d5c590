// Checks the font table against the glyphs other parts of the program rely on and against the
// rules every glyph keeps: the row convention, the blank and solid codes, and distinct bitmaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <set>
#include <utility>
#include <vector>

#include "toolkit/font.h"

namespace {

using Rows = std::vector<uint8_t>;

Rows glyph(int code) {
    return {tk::font.begin() + (code - 1) * tk::glyph_rows, tk::font.begin() + code * tk::glyph_rows};
}

// Glyphs fixed bit for bit: the arrows on the up and down buttons, and the ones that set the style.
// Catches a shifted table (a glyph missing or doubled upstream), a reversed bit order (y and the
// zero's stroke are not mirror-symmetric) and a vertical bar without its one-row gap.
TEST(Font, ListedGlyphsMatchBitForBit) {
    // clang-format off
    const std::pair<int, Rows> listed[] = {
        {24, {0x18, 0x3C, 0x7E, 0x7E, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00}},
        {25, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x7E, 0x7E, 0x3C, 0x18, 0x00}},
        {48, {0x3C, 0x42, 0xC3, 0xC3, 0xC7, 0xCB, 0xD3, 0xE3, 0xC3, 0xC3, 0x42, 0x3C, 0x00}},
        {65, {0x18, 0x3C, 0x66, 0xC3, 0xC3, 0xC3, 0xFF, 0xC3, 0xC3, 0xC3, 0xC3, 0xC3, 0x00}},
        {95, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF}},
        {121, {0x00, 0x00, 0x00, 0xC3, 0xC3, 0xC3, 0x63, 0x36, 0x1E, 0x0C, 0x18, 0x30, 0x60}},
        {124, {0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18}},
    };
    // clang-format on
    for (const auto& [code, rows] : listed) EXPECT_EQ(glyph(code), rows) << "code " << code;
}

// Only space and the control codes tab, line feed and carriage return are blank, only the two block
// codes are solid, and row 12 holds descenders only while every descender reaches it. Catches a glyph
// left blank when the table was drawn, a body sitting one row too low and a tail clipped off.
TEST(Font, BlankSolidAndDescenderRows) {
    const std::set<int> descenders = {
        44,  59,  81,  95,  103, 106, 112, 113, 121, 124, // , ; Q _ g j p q y |
        132, 150, 153,                                    // Д Ц Щ
        164, 176, 179, 180, 182, 185,                     // д р у ф ц щ
        194, 195,                                         // solid blocks
    };
    for (int code = 1; code <= tk::glyph_count; ++code) {
        const Rows rows = glyph(code);
        EXPECT_EQ(rows == Rows(tk::glyph_rows, 0), code == 9 || code == 10 || code == 13 || code == 32)
            << "code " << code;
        EXPECT_EQ(std::count(rows.begin(), rows.end(), 0xFF) == tk::glyph_rows, code >= 194)
            << "code " << code;
        EXPECT_EQ(rows[12] != 0, descenders.count(code) == 1) << "code " << code;
    }
}

// The only glyphs drawn alike are the Cyrillic letters that look like Latin ones, the blanks and the
// blocks, and O differs from the zero in at least the four pixels of its stroke: catches a glyph
// pasted over its neighbour, such as Щ drawn as Ш or Й as И.
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
    int differing = 0;
    for (int r = 0; r < tk::glyph_rows; ++r)
        differing += std::popcount(unsigned(glyph('0')[r] ^ glyph('O')[r]));
    EXPECT_GE(differing, 4);
}

} // namespace
