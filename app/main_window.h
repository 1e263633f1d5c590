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
inline constexpr int32_t SET_HEADER_EXT = 5;     // header whose heading and note follow the layout
inline constexpr int32_t SET_ROW_F15_SVI2 = 6;   // family 15h rows with 6.25 mV voltage steps
inline constexpr int32_t SET_ROW_SVI1 = 7;       // MHz and 12.5 mV voltage steps
inline constexpr int32_t SET_PSTATE_ROW_PVI = 8; // family 10h on a parallel voltage interface
inline constexpr int32_t SET_ROW_ZEN_SVI2 = 9;   // MHz, 6.25 mV voltage steps, current limit
inline constexpr int32_t SET_ROW_ZEN_SVI3 = 10;  // MHz, 5 mV voltage steps, current limit
inline constexpr int32_t SET_ROW_RAW = 11;       // the register only

struct Layout;

// Texts of the header that follow the layout.
struct MainWindowState {
    char heading[48];  // the column heading
    char note[16];     // the layout's short name, or "uncertain"
    uint8_t uncertain; // 1 when the layout is not known for certain (the note is drawn in red)
    char cores[12];    // the processor count in decimal
};
extern MainWindowState main_window;

// Hands the toolkit the main window's programs, bindings and template sets, and its key hook
// (F2 opens the live page).
void install_main_window();

// Adds the header, eight rows (P-state rows below pstate_count, empty rows after) and the button
// bar, with the header and row sets of the layout.
void add_main_window(uint32_t pstate_count, const Layout& layout, bool certain);

} // namespace app
