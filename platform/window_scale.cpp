// The window's opening scale, decided from the screen and QUILM_SCALE.
#include "platform/window_scale.h"

#include <cstring>

namespace platform {

namespace {

constexpr float high_dpi = 144;       // above this, 1:1 pixels are too small to read
constexpr int small_window_share = 6; // a window under a sixth of the screen's height is doubled

} // namespace

ScaleSetting scale_setting(const char* value) {
    if (!value || !*value) return ScaleSetting::automatic;
    if (std::strcmp(value, "1") == 0) return ScaleSetting::normal;
    if (std::strcmp(value, "2") == 0) return ScaleSetting::double_size;
    return ScaleSetting::invalid;
}

int window_scale(ScaleSetting setting, float dpi, int window_height, int screen_height) {
    if (setting == ScaleSetting::normal) return 0;
    if (setting == ScaleSetting::double_size) return 1;
    if (window_height <= 0 || screen_height <= 0) return 0; // nothing known about the screen
    // Widened: a height near INT_MAX must not wrap into a small one.
    const long long window = window_height;
    if (2 * window > screen_height) return 0; // the doubled window would not fit
    const bool dense = dpi > high_dpi;        // false for NaN, an unknown DPI
    const bool small = window * small_window_share < screen_height;
    return dense || small ? 1 : 0;
}

} // namespace platform
