// Hexadecimal and scaled decimal fields. Every character takes one 9-pixel cell; the
// digits come straight from the value by integer arithmetic, with no text in between.
// A value the field cannot show exactly is never shown as some other number: its digit
// cells are filled with '#' instead, so the field keeps its width and the layout stays.
#include "toolkit/numfield.h"

#include <algorithm>
#include <cstring>

#include "toolkit/draw.h"

namespace tk {

namespace {

constexpr int32_t cell = 9;
constexpr uint32_t code_zero = 48;     // '0'; the capitals A to F start 7 codes after '9'
constexpr uint32_t code_point = 46;    // '.'
constexpr uint32_t code_no_value = 35; // '#', in every digit cell of a value that does not fit
constexpr uint32_t max_digits = 9;     // 10^9 is the largest power of ten below 2^32

// Where the next cell goes and how it is drawn.
struct Pen {
    int32_t x;
    int32_t y;
    uint32_t colour;
};

// Draws the glyph in the pen's cell (code 0: a blank cell) and moves the pen one cell right;
// a pen far past the right edge stops at the largest position rather than wrap around.
void put(Pen& pen, uint32_t code) {
    if (code != 0) draw_glyph(code, pen.colour, pen.x, pen.y);
    pen.x = pen.x > INT32_MAX - cell ? INT32_MAX : pen.x + cell;
}

// The value at address as an unsigned 8-, 16- or 32-bit quantity (size 0, 1, 2 or 3 from format bits 6..7).
uint32_t read_value(const void* address, uint32_t size) {
    if (size == 0) {
        uint8_t v;
        std::memcpy(&v, address, sizeof v);
        return v;
    }
    if (size == 1) {
        uint16_t v;
        std::memcpy(&v, address, sizeof v);
        return v;
    }
    uint32_t v;
    std::memcpy(&v, address, sizeof v);
    return v;
}

// Takes the leading digit off v, where d is ten times that digit's place value; d becomes the place value.
uint32_t next_digit(uint32_t& v, uint32_t& d) {
    d /= 10;
    const uint32_t digit = v / d;
    v -= digit * d;
    return digit;
}

} // namespace

int32_t draw_hex_field(const void* address, uint32_t format, int32_t x, int32_t y, uint32_t colour) {
    const uint32_t digits = std::min(format & 0x1F, 8u);
    Pen pen{x, y, colour};
    if (address == nullptr) {
        for (uint32_t i = 0; i < digits; ++i) put(pen, code_no_value);
        return pen.x;
    }
    const uint32_t value = read_value(address, format >> 6 & 3);
    for (uint32_t i = digits; i > 0; --i) {
        const uint32_t nibble = value >> (4 * (i - 1)) & 0xF;
        put(pen, code_zero + nibble + (nibble > 9 ? 7 : 0));
    }
    return pen.x;
}

int32_t draw_number_field(uint32_t value, uint32_t scale, uint32_t format, int32_t x, int32_t y,
                          uint32_t colour) {
    const uint32_t whole = format >> 4 & 0xF, fraction = format & 0xF;
    uint32_t v = value * scale; // unsigned: the product keeps its low 32 bits

    // d = 10^(whole + fraction), the first power of ten the field cannot reach.
    uint32_t d = 1;
    bool fits = whole + fraction <= max_digits;
    if (fits) {
        for (uint32_t n = whole + fraction; n > 0; --n) d *= 10;
        fits = v < d;
    }

    Pen pen{x, y, colour};
    // Integer part: leading zeros are blank cells, but the units digit always shows.
    uint32_t seen = 0;
    for (uint32_t k = whole; k > 0; --k) {
        if (!fits) {
            put(pen, code_no_value);
            continue;
        }
        const uint32_t digit = next_digit(v, d);
        seen += digit;
        put(pen, seen == 0 && k != 1 ? 0 : code_zero + digit);
    }
    if (fraction == 0) return pen.x;

    put(pen, code_point);
    for (uint32_t k = fraction; k > 0; --k) {
        if (!fits) {
            put(pen, code_no_value);
            continue;
        }
        put(pen, code_zero + next_digit(v, d));
    }
    return pen.x;
}

} // namespace tk
