// Work in progress: placeholder until the font lands.
#include "toolkit/font.h"

namespace tk {
const std::array<uint8_t, glyph_count * glyph_rows> font{};
} // namespace tk
