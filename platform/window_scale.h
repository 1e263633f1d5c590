// The size the window opens at: 1:1, or every pixel doubled on screens where 1:1
// would be too small to read, or as QUILM_SCALE asks.
#pragma once

namespace platform {

// What QUILM_SCALE asks for.
enum class ScaleSetting {
    automatic,   // unset or empty: the screen decides
    normal,      // "1"
    double_size, // "2"
    invalid,     // anything else: the screen decides, and the user is told
};

// Reads the value of QUILM_SCALE (null when unset).
ScaleSetting scale_setting(const char* value);

// The toolkit's window scale (0: 1:1, 1: double) for a window window_height pixels tall on a
// screen of dpi dots per inch and screen_height pixels (0 or less when unknown). The screen
// doubles it when its DPI is above 144 or the window would take less than a sixth of its height,
// and only when the doubled window still fits on it.
int window_scale(ScaleSetting setting, float dpi, int window_height, int screen_height);

} // namespace platform
