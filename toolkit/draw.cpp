// Work in progress: placeholder bodies until the primitives land.
#include "toolkit/draw.h"

namespace tk {
const std::array<uint32_t, 16> palette{};
void fill_rect(int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void draw_line(int32_t, int32_t, int32_t, int32_t, uint32_t) {}
void draw_frame(int32_t, int32_t, int32_t, int32_t, int32_t) {}
void draw_glyph(uint32_t, uint32_t, int32_t, int32_t) {}
void draw_string(const char*, int32_t, int32_t, uint32_t) {}
} // namespace tk
