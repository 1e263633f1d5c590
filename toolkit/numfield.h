// Hexadecimal and scaled decimal fields, drawn glyph by glyph in 9-pixel cells.
#pragma once
#include <cstdint>

namespace tk {

// Draws the lowest (format & 0x1F) hexadecimal digits of the value at address, read as
// 8, 16 or 32 bits by format bits 6..7; returns the x after the last digit.
int32_t draw_hex_field(const void* address, uint32_t format, int32_t x, int32_t y, uint32_t colour);

// Draws value * scale as a fixed-point number with (format >> 4) integer and (format & 15)
// fraction digits; returns the x after the field.
int32_t draw_number_field(uint32_t value, uint32_t scale, uint32_t format, int32_t x, int32_t y,
                          uint32_t colour);

} // namespace tk
