// The window's own logic on the headless backend: creation, the routing rules of
// the window procedure, coordinates at both scales, the resize path, the loop.
#include <gtest/gtest.h>

#include <thread>

#include "platform/window_headless.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

struct Calls {
    int user_message = 0;
    int before_present = 0;
    int layout = 0;
    int wheel = 0;
    uint8_t dirty_seen_before_present = 0;
    uint32_t paints_seen_before_present = 0;
};
Calls calls;

void count_user_message() {
    ++calls.user_message;
}
void count_layout() {
    ++calls.layout;
}
void count_wheel(uintptr_t) {
    ++calls.wheel;
}
void wheel_draws(uintptr_t) {
    tk::window.dirty = 1;
}
void note_before_present() {
    ++calls.before_present;
    calls.dirty_seen_before_present = tk::window.dirty;
    calls.paints_seen_before_present = platform::headless.paint_count;
}

class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::headless_reset();
        tk::reset_window();
        tk::reset_input();
        tk::reset_widgets();
        tk::input.char_input = 0;
        calls = {};
        tk::window.hooks.user_message = count_user_message;
        tk::window.hooks.before_present = note_before_present;
        tk::window.hooks.layout = count_layout;
    }
    void TearDown() override { tk::reset_window(); }
};

// Catches: sizes or options stored from the wrong argument (height comes before width), a header
// that does not describe the buffer, focus or pressed widget left over, scale not reset, a native
// window of another size, the console option changing anything but the stored byte.
TEST_F(Window, CreateWindowSetsUpBufferHeaderAndWindow) {
    struct Case {
        uint32_t options, height, width;
        uint8_t stored_options;
        uint16_t fb_height, fb_width;
        bool resizable;
    };
    const Case cases[] = {
        {0, 400, 544, 0, 400, 544, false},                             // the program's own window
        {tk::OPTION_CONSOLE, 400, 544, 1, 400, 544, false},            // console accepted, nothing opened
        {tk::OPTION_RESIZABLE, 100, 60, 4, 100, 60, true},             // resizable
        {0x100 | tk::OPTION_RESIZABLE, 3, 2, 4, 3, 2, true},           // only the low byte of options counts
        {tk::OPTION_KEEP_ESC, 0x10010, 0x10020, 2, 0x10, 0x20, false}, // sizes are 16-bit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "options " << c.options << ", " << c.width << " x " << c.height);
        platform::headless_reset();
        tk::reset_window();
        tk::input.focus = 8;
        tk::input.pressed_widget = 4;
        tk::window.requested_scale = 1;
        tk::window.scale = 1;

        EXPECT_EQ(tk::create_window(c.options, c.height, c.width, "QUILM (manual)"), 0);

        EXPECT_EQ(tk::window.fb.width, c.fb_width);
        EXPECT_EQ(tk::window.fb.height, c.fb_height);
        ASSERT_NE(tk::window.fb.pixels, nullptr);
        EXPECT_EQ(tk::window.header.width, c.fb_width);
        EXPECT_EQ(tk::window.header.height, c.fb_height); // positive: bottom-up rows
        EXPECT_EQ(tk::window.header.size_image, uint32_t(c.fb_width) * c.fb_height * 4);
        EXPECT_EQ(tk::window.options, c.stored_options);
        EXPECT_EQ(tk::window.scale, 0);
        EXPECT_EQ(tk::window.requested_scale, 0);
        EXPECT_EQ(tk::input.focus, -1);
        EXPECT_EQ(tk::input.pressed_widget, -1);
        EXPECT_TRUE(platform::headless.created);
        EXPECT_EQ(platform::headless.resizable, c.resizable);
        EXPECT_EQ(platform::headless.client_width, c.fb_width);
        EXPECT_EQ(platform::headless.client_height, c.fb_height);
        EXPECT_EQ(platform::headless_titles(), std::vector<std::string>{"QUILM (manual)"});
        EXPECT_TRUE(platform::headless.message_boxes.empty());
    }
}

// Catches: a paint that copies part of the buffer, flips it, paints at the wrong scale, or shows
// uncleared memory before the first drawing.
TEST_F(Window, PaintShowsTheWholeBottomUpBuffer) {
    tk::create_window(0, 3, 4, "t");
    const uint16_t w = tk::window.fb.width;
    const uint16_t h = tk::window.fb.height;
    tk::present();
    ASSERT_EQ(platform::headless.frame.size(), size_t(w) * h);
    for (uint32_t p : platform::headless.frame) EXPECT_EQ(p, 0u) << "a new buffer is black";

    // Pixel (x, y) counted from the top lives at (height - 1 - y) * width + x.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) tk::window.fb.pixels[(h - 1 - y) * w + x] = uint32_t(y << 8 | x);
    EXPECT_EQ(platform::headless_send(tk::WM_PAINT), 0);
    EXPECT_EQ(platform::headless.frame_width, w);
    EXPECT_EQ(platform::headless.frame_height, h);
    EXPECT_EQ(platform::headless.frame_scale, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) EXPECT_EQ(platform::headless_pixel(x, y), uint32_t(y << 8 | x));
}

// The routing rules, one message at a time. Catches: WM_USER reaching the input path or the
// default, hooks called while disabled, a paint that clears dirty, a message that drew being
// passed on (or one that did not being swallowed), the default's answer lost, close not
// destroying, destroy not posting the quit, the before-present hook run after the repaint.
TEST_F(Window, ProcedureRoutesEachMessage) {
    struct Case {
        const char* name;
        uint32_t message;
        bool wheel_draws;
        uint8_t user_hook_enabled, before_present_enabled, dirty_before;
        intptr_t result;
        bool reaches_default;
        uint32_t paints;
        int user_calls, before_present_calls;
        uint8_t dirty_after;
        bool quit, destroyed;
    };
    // clang-format off
    const Case cases[] = {
        // name                            message            draws  user bp dirty result default paints user bp dirty quit   destroyed
        {"user message, hook enabled",     tk::WM_USER,       false, 1,   0, 1,    0,     false,  0,     1,   0, 1,    false, false},
        {"user message, hook disabled",    tk::WM_USER,       false, 0,   0, 0,    0,     false,  0,     0,   0, 0,    false, false},
        {"create",                         tk::WM_CREATE,     false, 0,   0, 0,    0,     false,  0,     0,   0, 0,    false, false},
        {"paint keeps dirty",              tk::WM_PAINT,      false, 0,   0, 1,    0,     false,  1,     0,   0, 1,    false, false},
        {"destroy posts the quit",         tk::WM_DESTROY,    false, 0,   0, 0,    0,     false,  0,     0,   0, 0,    true,  false},
        {"input that drew",                tk::WM_MOUSEWHEEL, true,  0,   0, 0,    0,     false,  1,     0,   0, 0,    false, false},
        {"input that drew, hook enabled",  tk::WM_MOUSEWHEEL, true,  0,   1, 0,    0,     false,  1,     0,   1, 0,    false, false},
        {"input that did not draw",        tk::WM_MOUSEWHEEL, false, 0,   1, 0,    77,    true,   0,     0,   0, 0,    false, false},
        {"size of a fixed window",         tk::WM_SIZE,       false, 0,   0, 0,    77,    true,   0,     0,   0, 0,    false, false},
        {"close destroys",                 tk::WM_CLOSE,      false, 0,   0, 0,    77,    true,   0,     0,   0, 0,    true,  true},
    };
    // clang-format on
    const uintptr_t wparam = uintptr_t(120) << 16;
    const intptr_t lparam = tk::make_lparam(7, 9);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        tk::create_window(0, 40, 50, "t");
        platform::headless.default_result = 77;
        tk::window.hooks.wheel = c.wheel_draws ? wheel_draws : nullptr;
        tk::window.user_message_hook_enabled = c.user_hook_enabled;
        tk::window.before_present_hook_enabled = c.before_present_enabled;
        tk::window.dirty = c.dirty_before;

        EXPECT_EQ(platform::headless_send(c.message, wparam, lparam), c.result);

        if (c.reaches_default) {
            ASSERT_FALSE(platform::headless.defaulted.empty());
            const platform::Message& m = platform::headless.defaulted.front();
            EXPECT_EQ(m.message, c.message);
            EXPECT_EQ(m.wparam, wparam);
            EXPECT_EQ(m.lparam, lparam);
        } else {
            EXPECT_TRUE(platform::headless.defaulted.empty());
        }
        EXPECT_EQ(platform::headless.paint_count, c.paints);
        EXPECT_EQ(calls.user_message, c.user_calls);
        EXPECT_EQ(calls.before_present, c.before_present_calls);
        if (c.before_present_calls) { // just before the repaint, with dirty still set
            EXPECT_EQ(calls.dirty_seen_before_present, 1);
            EXPECT_EQ(calls.paints_seen_before_present, 0u);
        }
        EXPECT_EQ(tk::window.dirty, c.dirty_after);
        EXPECT_EQ(platform::headless.quit_posted, c.quit);
        if (c.quit) {
            EXPECT_EQ(platform::headless.quit_code, 0);
        }
        EXPECT_EQ(platform::headless.destroyed, c.destroyed);
        EXPECT_EQ(tk::window.fb.width, 50); // only a resizable window changes its buffer
        EXPECT_EQ(tk::window.fb.height, 40);
    }
}

// Catches: x and y swapped, sign extension of the high word, the scale not applied or applied
// to one coordinate only, the upper half of a 64-bit lParam taken into y.
TEST_F(Window, PositionsAreTakenFromLParamAtTheCurrentScale) {
    struct Case {
        uint8_t scale;
        intptr_t lparam;
        int32_t x, y;
    };
    const Case cases[] = {
        {0, tk::make_lparam(10, 20), 10, 20},
        {0, tk::make_lparam(543, 399), 543, 399},
        {0, intptr_t(0xFFFF0000u), 0, 0xFFFF},                // the high word is unsigned
        {0, intptr_t(-1), 0xFFFF, 0xFFFF},                    // so is the low word
        {0, intptr_t(1) << 40 | tk::make_lparam(3, 4), 3, 4}, // only the low 32 bits hold the position
        {1, tk::make_lparam(11, 21), 5, 10},                  // double size: halved, rounded down
        {1, tk::make_lparam(0xFFFF, 0xFFFF), 0x7FFF, 0x7FFF},
        {1, tk::make_lparam(1, 1), 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "scale " << int(c.scale) << ", lParam " << std::hex << c.lparam);
        SetUp();
        tk::create_window(0, 40, 50, "t");
        tk::window.scale = c.scale;
        tk::window.requested_scale = c.scale;
        // A left press records its position even where no widget is hit.
        platform::headless_send(tk::WM_LBUTTONDOWN, tk::MK_LBUTTON, c.lparam);
        EXPECT_EQ(tk::input.press_x, c.x);
        EXPECT_EQ(tk::input.press_y, c.y);
    }
}

// Catches: a requested scale never adopted, adopted without a repaint, a client area of the wrong
// size, a message passed on although the window was repainted, an impossible scale taken as it is.
TEST_F(Window, RequestedScaleIsAdoptedAfterInput) {
    struct Case {
        uint8_t requested;
        uint8_t scale;
        int client_width, client_height;
    };
    const Case cases[] = {
        {1, 1, 100, 80}, // double size
        {3, 1, 100, 80}, // only 1:1 and double size exist
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.requested));
        SetUp();
        tk::create_window(0, 40, 50, "t");
        tk::window.requested_scale = c.requested;
        EXPECT_EQ(platform::headless_send(tk::WM_MOUSEMOVE), 0);
        EXPECT_EQ(tk::window.scale, c.scale);
        EXPECT_EQ(platform::headless.client_width, c.client_width);
        EXPECT_EQ(platform::headless.client_height, c.client_height);
        EXPECT_EQ(platform::headless.frame_scale, c.scale);
        EXPECT_EQ(platform::headless.paint_count, 1u);
        EXPECT_TRUE(platform::headless.defaulted.empty());

        // A second message with nothing to change goes on to the default.
        platform::headless_send(tk::WM_MOUSEMOVE);
        EXPECT_EQ(platform::headless.paint_count, 1u);
        EXPECT_EQ(platform::headless.defaulted.size(), 1u);
    }
}

// Catches: the buffer not following the client area, the 32-pixel minimum missing in one
// direction, the 16-bit cut missing, a stale header, the layout hook skipped, the before-present
// hook called on this path, dirty left set, no repaint, the message passed on.
TEST_F(Window, ResizableWindowResizesItsBuffer) {
    struct Case {
        const char* name;
        uint8_t scale;
        int client_width, client_height;
        uint16_t width, height;
    };
    const Case cases[] = {
        {"larger", 0, 300, 150, 300, 150},
        {"too narrow", 0, 10, 200, 32, 200},
        {"too low", 0, 200, 31, 200, 32},
        {"minimised", 0, 0, 0, 32, 32},
        {"beyond 16 bits", 0, 70000, 40, 70000 & 0xFFFF, 40},
        {"double size takes half the client area", 1, 200, 100, 100, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        tk::create_window(tk::OPTION_RESIZABLE, 100, 200, "t");
        tk::window.scale = tk::window.requested_scale = c.scale;
        tk::window.before_present_hook_enabled = 1;
        tk::window.dirty = 1;
        platform::headless.client_width = c.client_width;
        platform::headless.client_height = c.client_height;

        EXPECT_EQ(platform::headless_send(tk::WM_SIZE, 0, tk::make_lparam(1, 1)), 0);

        EXPECT_EQ(tk::window.fb.width, c.width);
        EXPECT_EQ(tk::window.fb.height, c.height);
        EXPECT_EQ(tk::window.header.width, c.width);
        EXPECT_EQ(tk::window.header.height, c.height);
        EXPECT_EQ(tk::window.header.size_image, uint32_t(c.width) * c.height * 4);
        EXPECT_EQ(calls.layout, 1);
        EXPECT_EQ(calls.before_present, 0);
        EXPECT_EQ(tk::window.dirty, 0);
        EXPECT_EQ(platform::headless.paint_count, 1u);
        EXPECT_EQ(platform::headless.frame_width, c.width);
        EXPECT_EQ(platform::headless.frame_height, c.height);
        EXPECT_TRUE(platform::headless.defaulted.empty());
        // The new buffer is writable to its last pixel (the sanitizers watch this).
        tk::window.fb.pixels[size_t(c.width) * c.height - 1] = 1;
    }
}

// Catches: a loop that stops early, skips messages, or does not end when the window is closed.
TEST_F(Window, MessageLoopRunsUntilTheWindowIsClosed) {
    tk::create_window(0, 40, 50, "t");
    tk::window.hooks.wheel = count_wheel;
    platform::window_post_message(tk::WM_MOUSEWHEEL, 0, 0);
    platform::window_post_message(tk::WM_MOUSEWHEEL, 0, 0);
    platform::window_post_message(tk::WM_CLOSE, 0, 0);
    tk::message_loop();
    EXPECT_EQ(calls.wheel, 2);
    EXPECT_TRUE(platform::headless.destroyed);
    EXPECT_TRUE(platform::headless.quit_posted);
    EXPECT_EQ(platform::headless.quit_code, 0);
    EXPECT_TRUE(platform::headless.queue.empty());
}

// Catches: text and caption swapped, present clearing dirty or not painting at once, a title
// from another thread lost.
TEST_F(Window, ServicesReachTheWindow) {
    tk::create_window(0, 40, 50, "QUILM (manual)");
    tk::window.dirty = 1;
    tk::present();
    EXPECT_EQ(platform::headless.paint_count, 1u);
    EXPECT_EQ(tk::window.dirty, 1);

    EXPECT_EQ(tk::show_message("couldn't create thread", "error!?"), 1);
    tk::show_message("settings saved", "success");
    ASSERT_EQ(platform::headless.message_boxes.size(), 2u);
    EXPECT_EQ(platform::headless.message_boxes[0].text, "couldn't create thread");
    EXPECT_EQ(platform::headless.message_boxes[0].caption, "error!?");
    EXPECT_EQ(platform::headless.message_boxes[1].caption, "success");

    std::thread governor([] { tk::set_title("QUILM (2 auto)"); });
    governor.join();
    tk::set_title("QUILM (manual)");
    const std::vector<std::string> expected{"QUILM (manual)", "QUILM (2 auto)", "QUILM (manual)"};
    EXPECT_EQ(platform::headless_titles(), expected);
}

// Catches: a buffer size computed in 32 bits that wraps around to a small block, and any message
// on the way out.
TEST_F(Window, BufferTooLargeEndsTheProcessSilently) {
    EXPECT_EXIT(tk::create_window(0, 0xFFFF, 0xFFFF, "t"), testing::ExitedWithCode(0), "^$");
}

} // namespace
