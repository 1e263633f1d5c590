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

using platform::headless;

// What the application hooks saw: calls of each, and the repaints done when before_present was called.
struct {
    int user_message, before_present, layout;
    uint32_t paints_before_present;
} calls;

// A wheel hook that draws, as a widget's redraw would.
constexpr auto wheel_draws = [](uintptr_t) { tk::window.dirty = 1; };

// Forgets every window, input and widget state and installs hooks that record their calls.
void reset() {
    platform::headless_reset(), tk::reset_window(), tk::reset_input(), tk::reset_widgets(), calls = {};
    tk::window.hooks.user_message = [] { ++calls.user_message; };
    tk::window.hooks.layout = [] { ++calls.layout; };
    tk::window.hooks.before_present = [] {
        ++calls.before_present;
        EXPECT_EQ(tk::window.dirty, 1) << "called only while dirty is set";
        calls.paints_before_present = headless.paint_count;
    };
}

// A new window, with the hooks of reset.
void open(uint32_t options = 0, uint32_t height = 40, uint32_t width = 50, const char* title = "t") {
    reset(), tk::create_window(options, height, width, title);
}

// The framebuffer and its header both describe width x height, and the block holds that many pixels.
void expect_buffer(uint16_t width, uint16_t height) {
    const tk::BitmapHeader& h = tk::window.header; // a positive height: bottom-up rows
    EXPECT_EQ(std::tuple(tk::window.fb.width, tk::window.fb.height, h.width, h.height, h.size_image),
              std::tuple(width, height, int32_t{width}, int32_t{height}, uint32_t{width} * height * 4));
    ASSERT_NE(tk::window.fb.pixels, nullptr);
    tk::window.fb.pixels[size_t(width) * height - 1] = 1; // the sanitizers watch this write
}

// Catches: sizes taken from the wrong argument (height comes before width) or not cut to 16 bits,
// a stale header, focus, pressed widget or scale left over, a native window of another size; a paint
// that copies part of the buffer or flips it, uncleared memory shown before the first drawing, present
// not painting at once, and present leaving dirty set, which kept the next message (a title, a close)
// from the system.
TEST(Window, CreateWindowSetsUpBufferHeaderAndWindowAndPaintsIt) {
    // The options, height and width given; the options stored (their low byte), the buffer's size.
    const std::tuple<uint32_t, uint32_t, uint32_t, uint8_t, uint16_t, uint16_t, bool> cases[] = {
        {0, 400, 544, 0, 400, 544, false}, // the program's own window
        {0x100 | tk::OPTION_CONSOLE | tk::OPTION_RESIZABLE, 3, 2, 5, 3, 2, true},
        {tk::OPTION_KEEP_ESC, 0x10010, 0x10020, 2, 0x10, 0x20, false},
    };
    for (const auto& [options, height, width, stored, fb_height, fb_width, resizable] : cases) {
        SCOPED_TRACE(options);
        reset();
        tk::input.focus = 8, tk::input.pressed_widget = 4, tk::window.scale = tk::window.requested_scale = 1;
        EXPECT_EQ(tk::create_window(options, height, width, "QUILM (manual)"), 0);
        tk::window.dirty = 1, tk::present();
        EXPECT_TRUE(headless.frame == std::vector<uint32_t>(size_t(fb_width) * fb_height, 0) &&
                    !tk::window.dirty)
            << "a new buffer is black, and shown at once";
        expect_buffer(fb_width, fb_height);
        EXPECT_EQ(std::tuple(tk::window.options, tk::window.scale, tk::window.requested_scale,
                             tk::input.focus, tk::input.pressed_widget, headless.resizable,
                             headless.client_width, headless.client_height),
                  std::tuple(stored, 0, 0, -1, -1, resizable, int{fb_width}, int{fb_height}));
        EXPECT_EQ(platform::headless_titles(), std::vector<std::string>{"QUILM (manual)"});
    }
    platform::headless_send(tk::WM_SETTEXT);
    EXPECT_TRUE(!headless.defaulted.empty() && headless.defaulted.back().message == tk::WM_SETTEXT);
    // Pixel (x, y) counted from the top lives at (height - 1 - y) * width + x; this window is 32 x 16.
    for (int i = 0; i < 32 * 16; ++i) tk::window.fb.pixels[(15 - i / 32) * 32 + i % 32] = uint32_t(i);
    EXPECT_EQ(platform::headless_send(tk::WM_PAINT), 0);
    for (int i = 0; i < 32 * 16; ++i) EXPECT_EQ(platform::headless_pixel(i % 32, i / 32), uint32_t(i));
}

// The routing rules, one message at a time. Catches: WM_USER reaching the input path or the
// default, hooks called while disabled, a paint that clears dirty, a message that drew being
// passed on (or one that did not being swallowed), the default's answer lost, close not
// destroying, destroy not posting the quit, the before-present hook run after the repaint, a
// requested scale never adopted or adopted without a repaint, an impossible scale taken as it is.
TEST(Window, ProcedureRoutesEachMessage) {
    // clang-format off
    // Before: whether the wheel hook draws, the user and before-present hooks enabled, dirty, the requested
    // scale. After: the result, whether the default saw it, repaints, user and before-present hook calls,
    // dirty, the scale, whether the quit was posted.
    const std::tuple<const char*, uint32_t, bool, uint8_t, uint8_t, uint8_t, uint8_t, intptr_t, bool, uint32_t,
                     int, int, uint8_t, uint8_t, bool> cases[] = {
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
    for (const auto& [name, message, draws, user_hook, present_hook, dirty, requested, result,
                      reaches_default, paints, user_calls, present_calls, dirty_after, scale, quit] : cases) {
        SCOPED_TRACE(name);
        open();
        headless.default_result = 77, tk::window.hooks.wheel = draws ? +wheel_draws : nullptr;
        tk::window.user_message_hook_enabled = user_hook, tk::window.dirty = dirty;
        tk::window.before_present_hook_enabled = present_hook, tk::window.requested_scale = requested;

        EXPECT_EQ(platform::headless_send(message, wparam, lparam), result);

        ASSERT_EQ(headless.defaulted.size(), reaches_default ? 1u : 0u);
        for (const platform::Message& m : headless.defaulted)
            EXPECT_EQ(std::tuple(m.message, m.wparam, m.lparam), std::tuple(message, wparam, lparam));
        // The before-present hook runs before the repaint, so it never sees one done.
        EXPECT_EQ(std::tuple(headless.paint_count, calls.user_message, calls.before_present,
                             calls.paints_before_present, tk::window.dirty, headless.quit_posted,
                             headless.quit_code, tk::window.scale, headless.frame_scale,
                             headless.client_width, headless.client_height),
                  std::tuple(paints, user_calls, present_calls, 0u, dirty_after, quit, 0, scale, int{scale},
                             50 << scale, 40 << scale));
    }
}

// Catches: x and y swapped, sign extension of either word, the scale not applied or applied to
// one coordinate only, the upper half of a 64-bit lParam taken into y.
TEST(Window, PositionsAreTakenFromLParamAtTheCurrentScale) {
    // The scale, lParam, and the position handle_input gets. Both words are unsigned, only the low 32 bits
    // hold the position, and at double size both are halved, rounded down.
    const std::tuple<uint8_t, intptr_t, int32_t, int32_t> cases[] = {
        {0, tk::make_lparam(10, 20), 10, 20}, {0, intptr_t(0xFFFF0000u), 0, 0xFFFF},
        {0, intptr_t(-1), 0xFFFF, 0xFFFF},    {0, intptr_t(1) << 40 | tk::make_lparam(3, 4), 3, 4},
        {1, tk::make_lparam(11, 21), 5, 10},  {1, tk::make_lparam(0xFFFF, 0xFFFF), 0x7FFF, 0x7FFF}};
    open();
    for (const auto& [scale, lparam, x, y] : cases) {
        tk::window.scale = tk::window.requested_scale = scale;
        // A left press records its position even where no widget is hit.
        platform::headless_send(tk::WM_LBUTTONDOWN, tk::MK_LBUTTON, lparam);
        EXPECT_EQ(std::pair(tk::input.press_x, tk::input.press_y), std::pair(x, y))
            << "scale " << int(scale) << ", lParam " << std::hex << lparam;
    }
}

// Catches: the buffer not following the client area, the 32-pixel minimum missing in one
// direction, the 16-bit cut missing, a stale header, the layout hook skipped, the before-present
// hook called on this path, dirty left set, no repaint of the new buffer, the message passed on.
TEST(Window, ResizableWindowResizesItsBuffer) {
    // What happened, the scale, the new client area, the buffer it must get.
    const std::tuple<const char*, uint8_t, int, int, uint16_t, uint16_t> cases[] = {
        // clang-format off
        {"larger", 0, 300, 150, 300, 150},   {"too narrow", 0, 10, 200, 32, 200}, {"too low", 0, 200, 31, 200, 32},
        {"minimised", 0, 0, 0, 32, 32},      {"beyond 16 bits", 0, 70000, 40, 70000 & 0xFFFF, 40},
        {"double size takes half the client area", 1, 200, 100, 100, 50},
        // clang-format on
    };
    for (const auto& [name, scale, client_width, client_height, width, height] : cases) {
        SCOPED_TRACE(name);
        open(tk::OPTION_RESIZABLE, 100, 200);
        tk::window.scale = tk::window.requested_scale = scale;
        tk::window.before_present_hook_enabled = 1, tk::window.dirty = 1;
        headless.client_width = client_width, headless.client_height = client_height;

        EXPECT_EQ(platform::headless_send(tk::WM_SIZE, 0, tk::make_lparam(1, 1)), 0);

        EXPECT_EQ(std::tuple(calls.layout, calls.before_present, tk::window.dirty, headless.paint_count,
                             headless.frame.size(), headless.defaulted.size()),
                  std::tuple(1, 0, 0, 1u, size_t(width) * height, 0u));
        expect_buffer(width, height);
    }
}

// Catches: a loop that stops early or skips messages, a close that does not end the window, message
// text and caption swapped, and a title set from another thread lost.
TEST(Window, LoopMessagesAndTitlesReachTheWindow) {
    open(0, 40, 50, "QUILM (manual)");
    tk::window.hooks.wheel = wheel_draws;
    for (uint32_t m : {tk::WM_MOUSEWHEEL, tk::WM_MOUSEWHEEL, tk::WM_CLOSE})
        platform::window_post_message(m, 0, 0);
    tk::message_loop();
    EXPECT_EQ(headless.paint_count, 2u); // one repaint for each wheel message
    EXPECT_TRUE(headless.quit_posted && headless.queue.empty());

    tk::show_message("couldn't create thread", "error!?");
    ASSERT_EQ(headless.message_boxes.size(), 1u);
    EXPECT_EQ(std::pair(headless.message_boxes[0].text, headless.message_boxes[0].caption),
              std::pair(std::string("couldn't create thread"), std::string("error!?")));
    std::thread([] { tk::set_title("QUILM (2 auto)"); }).join(); // as the governor's thread does
    EXPECT_EQ(platform::headless_titles(), (std::vector<std::string>{"QUILM (manual)", "QUILM (2 auto)"}));
}

// Catches: a buffer size computed in 32 bits that wraps around to a small block, and any message
// on the way out.
TEST(Window, BufferTooLargeEndsTheProcessSilently) {
    reset();
    EXPECT_EXIT(tk::create_window(0, 0xFFFF, 0xFFFF, "t"), testing::ExitedWithCode(0), "^$");
}

} // namespace
