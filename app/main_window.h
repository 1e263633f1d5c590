// The main window's contents as data: template sets, drawing programs and the
// bindings to the P-state table, the processor identification and auto_mode.
#pragma once
#include <cstdint>

namespace app {

// Template set numbers (also the widgets' groups).
inline constexpr int32_t SET_HEADER = 0;
inline constexpr int32_t SET_BUTTON_BAR = 1;
inline constexpr int32_t SET_PSTATE_ROW = 2;
inline constexpr int32_t SET_PSTATE_ROW_F15 = 3;
inline constexpr int32_t SET_EMPTY_ROW = 4;

// Hands the toolkit the main window's programs, bindings and template sets.
void install_main_window();

// Adds the header, eight rows (P-state rows below pstate_count, empty rows after) and the button bar.
void add_main_window(uint32_t pstate_count, int32_t row_set);

} // namespace app
