// Input handling: mouse and keyboard messages become focus moves, pressed states,
// changed bound values and calls of button actions.
#pragma once
#include <cstdint>

namespace tk {

struct InputState {
    int32_t focus = -1;          // focused widget id, -1 none
    int32_t pressed_widget = -1; // widget under a left-button press, -1 none
    int32_t press_x = 0, press_y = 0;
    uint16_t press_pos = 0; // pressed widget's pos at the press
    int32_t drag_anchor = -1;
    int32_t drag_x = 0, drag_y = 0;
    uint8_t shift_held = 0;
    uint8_t char_input = 1; // 1: keys from WM_CHAR (and key_table keys from WM_KEYDOWN); 0: WM_KEYDOWN only
};
extern InputState input;

// Handles one message; y and x are framebuffer coordinates (mouse messages only).
void handle_input(int32_t y, int32_t x, uintptr_t wparam, uint32_t message);

// Id of the last non-static widget whose rectangle (edges inclusive, one pixel larger) holds the point, or
// -1.
int32_t hit_test(int32_t y, int32_t x);

// Moves the focus to the next (previous with Shift) non-static widget, or to none past the end.
void tab_focus();

// Moves the focus d slots (wrapping) until a widget of the focused widget's group.
void step_focus_in_group(int32_t d);

// Performs a widget's action by its kind, then redraws everything if asked, then releases.
void activate_widget(int32_t id);

// Clears every pressed bit (redrawing those widgets) and pressed_widget.
void release_pressed();

// Back to the start state (tests start clean with this).
void reset_input();

} // namespace tk
