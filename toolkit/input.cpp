// Work in progress: placeholder bodies until the input handling lands.
#include "toolkit/input.h"

namespace tk {
InputState input;
void handle_input(int32_t, int32_t, uintptr_t, uint32_t) {}
int32_t hit_test(int32_t, int32_t) { return -1; }
void tab_focus() {}
void step_focus_in_group(int32_t) {}
void activate_widget(int32_t) {}
void release_pressed() {}
void reset_input() { input = InputState{}; }
} // namespace tk
