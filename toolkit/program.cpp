// Work in progress: placeholder bodies until the interpreter lands.
#include "toolkit/program.h"

namespace tk {
void redraw_widget(int32_t) {}
void redraw_all() {}
void sync_sliders() {}
} // namespace tk
