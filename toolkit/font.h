// The toolkit's 8x13 bitmap font for character codes 1..195.
#pragma once
#include <array>
#include <cstdint>

namespace tk {

inline constexpr int glyph_count = 195;
inline constexpr int glyph_rows = 13;

// 13 bytes a glyph, top row first, bit 7 the leftmost column; code n starts at (n - 1) * 13.
extern const std::array<uint8_t, glyph_count * glyph_rows> font;

} // namespace tk
