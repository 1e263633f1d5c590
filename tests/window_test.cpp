// The window's own logic on the headless backend: creation, the routing rules of
// the window procedure, coordinates at both scales, the resize path, the loop.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <utility>

#include "platform/window_headless.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

// What the application hooks saw.
struct Calls {
    int user_message = 0;
    int before_present = 0;
    int layout = 0;
    uint32_t paints_before_present = 0; // repaints already done when it was called
};
Calls calls;

// A wheel hook that draws, as a widget's redraw would.
void wheel_draws(uintptr_t) {
    tk::window.dirty = 1;
}

// Forgets every window, input and widget state and installs hooks that record their calls.
void reset() {
    platform::headless_reset();
    tk::reset_window();
    tk::reset_input();
    tk::reset_widgets();
    calls = {};
    tk::window.hooks.user_message = [] { ++calls.user_message; };
    tk::window.hooks.layout = [] { ++calls.layout; };
    tk::window.hooks.before_present = [] {
        ++calls.before_present;
        EXPECT_EQ(tk::window.dirty, 1) << "called only while dirty is set";
        calls.paints_before_present = platform::headless.paint_count;
    };
}

// A new window, with the hooks of reset.
void open(uint32_t options = 0, uint32_t height = 40, uint32_t width = 50) {
    reset();
    tk::create_window(options, height, width, "t");
}

// The framebuffer and its header both describe width x height, and the block holds that many pixels.
void expect_buffer(uint16_t width, uint16_t height) {
    EXPECT_EQ(tk::window.fb.width, width);
    EXPECT_EQ(tk::window.fb.height, height);
    EXPECT_EQ(tk::window.header.width, width);
    EXPECT_EQ(tk::window.header.height, height); // positive: bottom-up rows
    EXPECT_EQ(tk::window.header.size_image, uint32_t(width) * height * 4);
    ASSERT_NE(tk::window.fb.pixels, nullptr);
    tk::window.fb.pixels[size_t(width) * height - 1] = 1; // the sanitizers watch this write
}

class Window : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
};

// Catches: sizes taken from the wrong argument (height comes before width) or not cut to 16 bits,
// a stale header, focus, pressed widget or scale left over, a native window of another size.
TEST_F(Window, CreateWindowSetsUpBufferHeaderAndWindow) {
    struct Case {
        uint32_t options, height, width;
        uint8_t stored_options;
        uint16_t fb_height, fb_width;
        bool resizable;
    };
    const Case cases[] = {
        {0, 400, 544, 0, 400, 544, false}, // the program's own window
        // Only the low byte of the options is stored.
        {0x100 | tk::OPTION_CONSOLE | tk::OPTION_RESIZABLE, 3, 2, 5, 3, 2, true},
        {tk::OPTION_KEEP_ESC, 0x10010, 0x10020, 2, 0x10, 0x20, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        reset();
        tk::input.focus = 8;
        tk::input.pressed_widget = 4;
        tk::window.scale = tk::window.requested_scale = 1;

        EXPECT_EQ(tk::create_window(c.options, c.height, c.width, "QUILM (manual)"), 0);

        expect_buffer(c.fb_width, c.fb_height);
        EXPECT_EQ(tk::window.options, c.stored_options);
        EXPECT_EQ(tk::window.scale, 0);
        EXPECT_EQ(tk::window.requested_scale, 0);
        EXPECT_EQ(std::pair(tk::input.focus, tk::input.pressed_widget), std::pair(-1, -1));
        EXPECT_EQ(platform::headless.resizable, c.resizable);
        EXPECT_EQ(platform::headless.client_width, c.fb_width);
        EXPECT_EQ(platform::headless.client_height, c.fb_height);
        EXPECT_EQ(platform::headless_titles(), std::vector<std::string>{"QUILM (manual)"});
    }
}

// Catches: a paint that copies part of the buffer or flips it, uncleared memory shown before the
// first drawing, present not painting at once, and present leaving dirty set, which kept the
// next message (a title, a close) from the system.
TEST_F(Window, PaintShowsTheWholeBottomUpBuffer) {
    tk::create_window(0, 3, 4, "t");
    tk::window.dirty = 1;
    tk::present();
    EXPECT_EQ(platform::headless.frame, std::vector<uint32_t>(4 * 3, 0)) << "a new buffer is black";
    EXPECT_EQ(tk::window.dirty, 0);
    platform::headless_send(tk::WM_SETTEXT);
    ASSERT_FALSE(platform::headless.defaulted.empty());
    EXPECT_EQ(platform::headless.defaulted.back().message, tk::WM_SETTEXT);

    // Pixel (x, y) counted from the top lives at (height - 1 - y) * width + x.
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) tk::window.fb.pixels[(2 - y) * 4 + x] = uint32_t(y << 8 | x);
    EXPECT_EQ(platform::headless_send(tk::WM_PAINT), 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(platform::headless_pixel(x, y), uint32_t(y << 8 | x));
}

// The routing rules, one message at a time. Catches: WM_USER reaching the input path or the
// default, hooks called while disabled, a paint that clears dirty, a message that drew being
// passed on (or one that did not being swallowed), the default's answer lost, close not
// destroying, destroy not posting the quit, the before-present hook run after the repaint, a
// requested scale never adopted or adopted without a repaint, an impossible scale taken as it is.
TEST_F(Window, ProcedureRoutesEachMessage) {
    struct Case {
        const char* name;
        uint32_t message;
        bool wheel_draws;
        uint8_t user_hook_enabled, before_present_enabled, dirty_before, requested_scale; // before
        intptr_t result;                                                                  // after
        bool reaches_default;
        uint32_t paints;
        int user_calls, before_present_calls;
        uint8_t dirty_after, scale;
        bool quit;
    };
    // clang-format off
    const Case cases[] = {
        // name                           message            draws  user bp dirty req result default paints user bp dirty scale quit
        {"user message, hook enabled",    tk::WM_USER,       false, 1,   0, 1,    0,  0,     false,  0,     1,   0, 1,    0,    false},
        {"user message, hook disabled",   tk::WM_USER,       false, 0,   0, 0,    1,  0,     false,  0,     0,   0, 0,    0,    false},
        {"create",                        tk::WM_CREATE,     false, 0,   0, 0,    0,  0,     false,  0,     0,   0, 0,    0,    false},
        {"paint keeps dirty",             tk::WM_PAINT,      false, 0,   0, 1,    0,  0,     false,  1,     0,   0, 1,    0,    false},
        {"destroy posts the quit",        tk::WM_DESTROY,    false, 0,   0, 0,    0,  0,     false,  0,     0,   0, 0,    0,    true},
        {"input that drew",               tk::WM_MOUSEWHEEL, true,  0,   0, 0,    0,  0,     false,  1,     0,   0, 0,    0,    false},
        {"input that drew, hook enabled", tk::WM_MOUSEWHEEL, true,  0,   1, 0,    0,  0,     false,  1,     0,   1, 0,    0,    false},
        {"input that did not draw",       tk::WM_MOUSEWHEEL, false, 0,   1, 0,    0,  77,    true,   0,     0,   0, 0,    0,    false},
        {"double size requested",         tk::WM_MOUSEMOVE,  false, 0,   0, 0,    1,  0,     false,  1,     0,   0, 0,    1,    false},
        {"impossible scale requested",    tk::WM_MOUSEMOVE,  false, 0,   0, 0,    3,  0,     false,  1,     0,   0, 0,    1,    false},
        {"size of a fixed window",        tk::WM_SIZE,       false, 0,   0, 0,    0,  77,    true,   0,     0,   0, 0,    0,    false},
        {"close destroys",                tk::WM_CLOSE,      false, 0,   0, 0,    0,  77,    true,   0,     0,   0, 0,    0,    true},
    };
    // clang-format on
    const uintptr_t wparam = uintptr_t(120) << 16;
    const intptr_t lparam = tk::make_lparam(7, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        platform::headless.default_result = 77;
        tk::window.hooks.wheel = c.wheel_draws ? wheel_draws : nullptr;
        tk::window.user_message_hook_enabled = c.user_hook_enabled;
        tk::window.before_present_hook_enabled = c.before_present_enabled;
        tk::window.dirty = c.dirty_before;
        tk::window.requested_scale = c.requested_scale;

        EXPECT_EQ(platform::headless_send(c.message, wparam, lparam), c.result);

        ASSERT_EQ(platform::headless.defaulted.size(), c.reaches_default ? 1u : 0u);
        for (const platform::Message& m : platform::headless.defaulted)
            EXPECT_EQ(std::tuple(m.message, m.wparam, m.lparam), std::tuple(c.message, wparam, lparam));
        EXPECT_EQ(platform::headless.paint_count, c.paints);
        EXPECT_EQ(calls.user_message, c.user_calls);
        EXPECT_EQ(calls.before_present, c.before_present_calls);
        EXPECT_EQ(calls.paints_before_present, 0u) << "the before-present hook runs before the repaint";
        EXPECT_EQ(tk::window.dirty, c.dirty_after);
        EXPECT_EQ(tk::window.scale, c.scale);
        EXPECT_EQ(platform::headless.frame_scale, c.scale);
        EXPECT_EQ(std::pair(platform::headless.client_width, platform::headless.client_height),
                  std::pair(50 << c.scale, 40 << c.scale));
        EXPECT_EQ(platform::headless.quit_posted, c.quit);
        EXPECT_EQ(platform::headless.quit_code, 0);
    }
}

// Catches: x and y swapped, sign extension of either word, the scale not applied or applied to
// one coordinate only, the upper half of a 64-bit lParam taken into y.
TEST_F(Window, PositionsAreTakenFromLParamAtTheCurrentScale) {
    // The scale, lParam, and the position handle_input gets.
    const std::tuple<uint8_t, intptr_t, int32_t, int32_t> cases[] = {
        {0, tk::make_lparam(10, 20), 10, 20},
        {0, intptr_t(0xFFFF0000u), 0, 0xFFFF},                // the high word is unsigned
        {0, intptr_t(-1), 0xFFFF, 0xFFFF},                    // so is the low word
        {0, intptr_t(1) << 40 | tk::make_lparam(3, 4), 3, 4}, // only the low 32 bits hold the position
        {1, tk::make_lparam(11, 21), 5, 10},                  // double size: halved, rounded down
        {1, tk::make_lparam(0xFFFF, 0xFFFF), 0x7FFF, 0x7FFF},
    };
    open();
    for (const auto& [scale, lparam, x, y] : cases) {
        SCOPED_TRACE(testing::Message() << "scale " << int(scale) << ", lParam " << std::hex << lparam);
        tk::window.scale = tk::window.requested_scale = scale;
        // A left press records its position even where no widget is hit.
        platform::headless_send(tk::WM_LBUTTONDOWN, tk::MK_LBUTTON, lparam);
        EXPECT_EQ(tk::input.press_x, x);
        EXPECT_EQ(tk::input.press_y, y);
    }
}

// Catches: the buffer not following the client area, the 32-pixel minimum missing in one
// direction, the 16-bit cut missing, a stale header, the layout hook skipped, the before-present
// hook called on this path, dirty left set, no repaint of the new buffer, the message passed on.
TEST_F(Window, ResizableWindowResizesItsBuffer) {
    // What happened, the scale, the new client area, the buffer it must get.
    const std::tuple<const char*, uint8_t, int, int, uint16_t, uint16_t> cases[] = {
        {"larger", 0, 300, 150, 300, 150},
        {"too narrow", 0, 10, 200, 32, 200},
        {"too low", 0, 200, 31, 200, 32},
        {"minimised", 0, 0, 0, 32, 32},
        {"beyond 16 bits", 0, 70000, 40, 70000 & 0xFFFF, 40},
        {"double size takes half the client area", 1, 200, 100, 100, 50},
    };
    for (const auto& [name, scale, client_width, client_height, width, height] : cases) {
        SCOPED_TRACE(name);
        open(tk::OPTION_RESIZABLE, 100, 200);
        tk::window.scale = tk::window.requested_scale = scale;
        tk::window.before_present_hook_enabled = 1;
        tk::window.dirty = 1;
        platform::headless.client_width = client_width;
        platform::headless.client_height = client_height;

        EXPECT_EQ(platform::headless_send(tk::WM_SIZE, 0, tk::make_lparam(1, 1)), 0);

        EXPECT_EQ(calls.layout, 1);
        EXPECT_EQ(calls.before_present, 0);
        EXPECT_EQ(tk::window.dirty, 0);
        EXPECT_EQ(platform::headless.paint_count, 1u);
        EXPECT_EQ(platform::headless.frame.size(), size_t(width) * height);
        EXPECT_TRUE(platform::headless.defaulted.empty());
        expect_buffer(width, height);
    }
}

// Catches: a loop that stops early or skips messages, and a close that does not end the window.
TEST_F(Window, MessageLoopRunsUntilTheWindowIsClosed) {
    open();
    tk::window.hooks.wheel = wheel_draws;
    for (uint32_t m : {tk::WM_MOUSEWHEEL, tk::WM_MOUSEWHEEL, tk::WM_CLOSE})
        platform::window_post_message(m, 0, 0);
    tk::message_loop();
    EXPECT_EQ(platform::headless.paint_count, 2u); // one repaint for each wheel message
    EXPECT_TRUE(platform::headless.quit_posted);
    EXPECT_TRUE(platform::headless.queue.empty());
}

// Catches: text and caption swapped, a title from another thread lost.
TEST_F(Window, MessagesAndTitlesReachTheWindow) {
    tk::create_window(0, 40, 50, "QUILM (manual)");
    tk::show_message("couldn't create thread", "error!?");
    ASSERT_EQ(platform::headless.message_boxes.size(), 1u);
    EXPECT_EQ(platform::headless.message_boxes[0].text, "couldn't create thread");
    EXPECT_EQ(platform::headless.message_boxes[0].caption, "error!?");

    std::thread governor([] { tk::set_title("QUILM (2 auto)"); });
    governor.join();
    const std::vector<std::string> expected{"QUILM (manual)", "QUILM (2 auto)"};
    EXPECT_EQ(platform::headless_titles(), expected);
}

// Catches: a buffer size computed in 32 bits that wraps around to a small block, and any message
// on the way out.
TEST_F(Window, BufferTooLargeEndsTheProcessSilently) {
    EXPECT_EXIT(tk::create_window(0, 0xFFFF, 0xFFFF, "t"), testing::ExitedWithCode(0), "^$");
}

} // namespace
