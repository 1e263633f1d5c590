// Work in progress: placeholder bodies until the window logic lands.
#include "toolkit/window.h"

namespace tk {
WindowState window;
int create_window(uint32_t, uint32_t, uint32_t, const char*) { return 0; }
void allocate_framebuffer() {}
intptr_t window_procedure(uint32_t, uintptr_t, intptr_t) { return 0; }
void message_loop() {}
void present() {}
int show_message(const char*, const char*) { return 1; }
void set_title(const char*) {}
void reset_window() { window = WindowState{}; }
} // namespace tk
