// Hexadecimal and fixed-point number fields, each judged against its cells drawn glyph by glyph.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>

#include "tests/test_support.h"
#include "toolkit/draw.h"
#include "toolkit/numfield.h"

namespace {

constexpr int width = 300, height = 20, x0 = 5, y0 = 3;
constexpr uint32_t ink = 6;

// Draws the expected characters one per 9-pixel cell (a space is a blank cell) into a canvas of
// its own, then checks the field's canvas holds exactly the same picture and its x ends after them.
void expect_field(const test::Canvas& field, int32_t end, const std::string& cells) {
    EXPECT_EQ(end, x0 + 9 * int32_t(cells.size()));
    std::vector<uint32_t> drawn = field.pixels();
    test::Canvas expected(width, height);
    for (size_t i = 0; i < cells.size(); ++i)
        if (cells[i] != ' ') tk::draw_glyph(uint8_t(cells[i]), ink, x0 + 9 * int32_t(i), y0);
    EXPECT_EQ(drawn, expected.pixels());
}

// The value sits in a 32-bit word whose upper bytes hold junk, so reading too wide shows.
TEST(HexField, ReadsTheNamedSizeAndShowsTheLowestDigits) {
    // The 32-bit word holding the value, the format, the cells drawn.
    const std::tuple<uint32_t, uint32_t, const char*> cases[] = {
        {0xEEEEEE0A, 0x02, "0A"},       {0xEEEEEE0A, 0x01, "A"},
        {0xEEEEEE0A, 0x00, ""},         {0xEEEEEE0F, 0x01, "F"},
        {0xEEEE1234, 0x48, "00001234"}, {0xEEEEEE0A, 0x1F, "0000000A"}, // more than 8 digits shows 8
        {0xEEEEEE0A, 0x20, ""},                                         // bit 5 alone: a byte, no digits
        {0xDEADBEEF, 0x88, "DEADBEEF"}, {0x12345678, 0x84, "5678"},
        {0x9ABCDEF0, 0xC8, "9ABCDEF0"}, // both size bits: 32-bit
    };
    for (const auto& [word, format, cells] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << word << " format " << format);
        uint8_t memory[4];
        std::memcpy(memory, &word, 4); // the value's low byte first, as the machine stores it
        test::Canvas canvas(width, height);
        expect_field(canvas, tk::draw_hex_field(memory, format, x0, y0, ink), cells);
    }
}

// Catches: a null address read, and a field near the right end of the range returning a wrapped x.
TEST(HexField, NoAddressMarksTheCellsAndThePenNeverWraps) {
    test::Canvas canvas(width, height);
    expect_field(canvas, tk::draw_hex_field(nullptr, 0x02, x0, y0, ink), "##");
    const uint8_t byte = 0x5A;
    EXPECT_EQ(tk::draw_hex_field(&byte, 0x02, INT32_MAX - 10, y0, ink), INT32_MAX);
    EXPECT_EQ(tk::draw_number_field(7, 1, 0x03, INT32_MAX - 30, y0, ink), INT32_MAX);
}

// A value the field cannot hold, or a format wider than 9 digits, fills every digit cell with '#'.
TEST(NumberField, DrawsFixedPointDigits) {
    // The value, the scale, the format, the cells drawn.
    const std::tuple<uint32_t, uint32_t, uint32_t, const char*> cases[] = {
        {8, 5, 0x21, " 4.0"},
        {63, 5, 0x21, "31.5"},
        {1, 5, 0x21, " 0.5"},
        {0, 5, 0x21, " 0.0"},
        {124, 125, 0x14, "1.5500"},
        {69, 125, 0x14, "0.8625"},
        {0, 125, 0x14, "0.0000"},
        {7, 1, 0x03, ".007"},
        {0, 1, 0x30, "  0"},
        {105, 1, 0x30, "105"},
        {999999999, 1, 0x90, "999999999"},
        {0x80000001, 2, 0x30, "  2"}, // product reduced to 32 bits
        {0, 1, 0x00, ""},
        {1000, 1, 0x30, "###"},
        {200, 5, 0x21, "##.#"},
        {0xFFFFFFFF, 1, 0x90, "#########"},
        {0, 1, 0xA0, "##########"},
        {0, 1, 0x0A, ".##########"},
    };
    for (const auto& [value, scale, format, cells] : cases) {
        SCOPED_TRACE(testing::Message() << value << " x " << scale << " format " << std::hex << format);
        test::Canvas canvas(width, height);
        expect_field(canvas, tk::draw_number_field(value, scale, format, x0, y0, ink), cells);
    }
}

} // namespace
