// Work in progress: placeholder bodies until the number fields land.
#include "toolkit/numfield.h"

namespace tk {
int32_t draw_hex_field(const void*, uint32_t, int32_t x, int32_t, uint32_t) { return x; }
int32_t draw_number_field(uint32_t, uint32_t, uint32_t, int32_t x, int32_t, uint32_t) { return x; }
} // namespace tk
