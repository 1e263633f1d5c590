// The window's opening scale: what QUILM_SCALE says, and how the screen's density
// and height decide when it says nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "platform/window_scale.h"

namespace {

using platform::ScaleSetting;

// Catches: a QUILM_SCALE value read loosely ("10" or " 2" taken as a size), an empty variable
// taken as a wish; the screen's boundaries taken on the wrong side (144 dpi, a screen exactly six
// windows tall), an unknown DPI or height counted as large, a doubled window larger than its
// screen, the settings not overriding the screen either way, an invalid setting not falling back
// to the screen, a huge window height wrapping around.
TEST(WindowScale, SettingOrScreenDecides) {
    EXPECT_EQ(platform::scale_setting(nullptr), ScaleSetting::automatic);
    EXPECT_EQ(platform::scale_setting(""), ScaleSetting::automatic);
    EXPECT_EQ(platform::scale_setting("1"), ScaleSetting::normal);
    EXPECT_EQ(platform::scale_setting("2"), ScaleSetting::double_size);
    for (const char* value : {"0", "3", "10", "20", " 2", "2 ", "double", "-1"})
        EXPECT_EQ(platform::scale_setting(value), ScaleSetting::invalid) << value;

    constexpr auto automatic = ScaleSetting::automatic;
    // The case; the setting; the screen's density; the window's and the screen's height; the scale chosen.
    const std::tuple<const char*, ScaleSetting, float, int, int, int> cases[] = {
        {"dpi at the limit", automatic, 144, 400, 1080, 0},
        {"dpi just above", automatic, 144.5f, 400, 1080, 1},
        {"height exactly six windows", automatic, 96, 400, 2400, 0},
        {"height just above six windows", automatic, 96, 400, 2401, 1},
        {"tall screen, dpi unknown", automatic, 0, 400, 2880, 1},
        {"dpi unknown (NaN)", automatic, std::nanf(""), 400, 1080, 0},
        {"height unknown", automatic, 300, 400, 0, 0},
        {"dense but too low for the doubled window", automatic, 200, 400, 768, 0},
        {"dense, doubled window just fits", automatic, 200, 400, 800, 1},
        {"a smaller window on the same screen", automatic, 96, 300, 1801, 1},
        {"window height unknown", automatic, 300, 0, 2160, 0},
        {"huge window height", automatic, 300, 0x7FFFFFFF, 0x7FFFFFFF, 0},
        {"1 keeps a dense screen at 1:1", ScaleSetting::normal, 300, 400, 2880, 0},
        {"2 doubles with nothing known", ScaleSetting::double_size, 0, 400, 0, 1},
        {"invalid: the screen doubles", ScaleSetting::invalid, 200, 400, 2160, 1},
        {"invalid: the screen keeps 1:1", ScaleSetting::invalid, 96, 400, 1080, 0},
    };
    for (const auto& [name, setting, dpi, window_height, screen_height, scale] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(platform::window_scale(setting, dpi, window_height, screen_height), scale);
    }
}

} // namespace
