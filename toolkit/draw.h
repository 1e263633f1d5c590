// Drawing primitives over the framebuffer: rectangles, lines, 3-D frames, glyphs
// and strings. Colours are palette indices. Every primitive clips once per call
// to the framebuffer, so nothing is ever written outside it.
#pragma once
#include <array>
#include <cstdint>

namespace tk {

// The sixteen colours, 0x00RRGGBB.
extern const std::array<uint32_t, 16> palette;

inline constexpr int LINE_H = 0;
inline constexpr int LINE_V = 1;
inline constexpr int LINE_H_DOTTED = 2;
inline constexpr int LINE_V_DOTTED = 3;

inline constexpr int FRAME_RAISED = 0; // any other style is sunken

// Fills width x height pixels from (x, y) downward and to the right.
void fill_rect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour);

// Horizontal or vertical line from (x, y) to the inclusive end column or row; unknown modes draw LINE_H.
void draw_line(int32_t x, int32_t y, int32_t end, int32_t mode, uint32_t colour);

// Two-pixel 3-D frame on the outline of the rectangle; style 0 raised, anything else sunken.
void draw_frame(int32_t x, int32_t y, int32_t width, int32_t height, int32_t style);

// Glyph of code 1..195 with its top-left corner at (x, y); set bits only.
void draw_glyph(uint32_t code, uint32_t colour, int32_t x, int32_t y);

// A NUL-terminated string at 9 pixels a character; sets dirty even when empty.
void draw_string(const char* text, int32_t x, int32_t y, uint32_t colour);

} // namespace tk
