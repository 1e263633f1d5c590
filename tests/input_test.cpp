// Scripted input: messages go straight into handle_input, and the tests look at focus, pressed bits,
// bound bytes, widget positions, recorded action and hook calls, and which widgets were repainted.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <tuple>
#include <vector>

#include "platform/window_headless.h"
#include "tests/test_support.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

using namespace tk;
using platform::headless;

constexpr uint32_t fill = 0x00ABCDEF;
constexpr int32_t none = -1;

uint8_t values[8];
char text[12];
std::vector<int32_t> actions;   // ids the recording button action was called with
std::vector<uint32_t> keys;     // key_hook codes
std::vector<uint32_t> released; // key_released_hook codes
std::vector<std::array<int32_t, 4>> canvas_calls;

alignas(4) const uint8_t programs[4] = {OP_END, OP_END, OP_END, OP_END};
const Binding bindings[] = {{}, {values}, {nullptr, [](int32_t id) { actions.push_back(id); }}, {text}};
constexpr uint32_t VALUE = make_ref(1), ACTION = make_ref(2), TEXT = make_ref(3);

using Msg = std::tuple<uint32_t, int32_t, int32_t, uintptr_t>; // message, x, y, wParam
constexpr auto press = [](int32_t x, int32_t y) { return Msg{WM_LBUTTONDOWN, x, y, MK_LBUTTON}; };
constexpr auto release = [](int32_t x, int32_t y) { return Msg{WM_LBUTTONUP, x, y, 0}; };
constexpr auto move = [](int32_t x, int32_t y, uintptr_t held) { return Msg{WM_MOUSEMOVE, x, y, held}; };
constexpr auto key = [](uint32_t vk) { return Msg{WM_KEYDOWN, 0, 0, vk}; };
constexpr auto key_up = [](uint32_t vk) { return Msg{WM_KEYUP, 0, 0, vk}; };
void send(std::initializer_list<Msg> ms) {
    for (const auto& [message, x, y, wparam] : ms) handle_input(y, x, wparam, message);
}

class Input : public ::testing::Test {
  protected:
    test::Canvas canvas_{200, 120, fill};

    Input() {
        const Framebuffer canvas = window.fb; // installed by canvas_; reset_window would forget it
        reset_window(), window.fb = canvas, reset_widgets(), reset_input(), platform::headless_reset();
        input.char_input = 0; // as the application sets it
        set_resources({programs, sizeof programs, bindings, 4, nullptr, 0});
        actions.clear(), keys.clear(), released.clear(), canvas_calls.clear(), std::fill_n(values, 8, 0);
        window.hooks.key = [](uint32_t k) { keys.push_back(k); };
        window.hooks.key_released = [](uint32_t k) { released.push_back(k); };
        window.hooks.canvas = [](auto y, auto x, auto c, auto id) { canvas_calls.push_back({y, x, c, id}); };
    }

    static int32_t add(uint8_t kind, uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t group = 0,
                       uint8_t flags = 0, uint32_t data = 0, uint16_t pos = 0, uint8_t hotkey = 0) {
        const auto id = static_cast<int32_t>(widgets.used_length);
        widgets.used_length += 4;
        wx(id) = x, wy(id) = y, wwidth(id) = w, wheight(id) = h, wkind(id) = kind, wgroup(id) = group;
        wflags(id) = flags, wdata(id) = data, wpos(id) = pos, whotkey(id) = hotkey, wcolour(id) = 7;
        return id;
    }
    void clear_screen() { std::fill_n(window.fb.pixels, canvas_.pixels().size(), fill), window.dirty = 0; }
    // A widget repainted since the last clear_screen shows its face (or focus interior) inside its edge.
    bool drawn(int32_t id) const { return canvas_.at(wx(id) + 1, wy(id) + 1) != fill; }
};

// Catches: edges taken as exclusive (a widget's rectangle reaches one pixel past its width and height),
// static widgets hit, and the earlier of two overlapping widgets winning.
TEST_F(Input, HitTestEdgesAreInclusiveAndTheLaterWidgetWins) {
    const int32_t a = add(KIND_BUTTON, 20, 30, 40, 10);
    const int32_t b = add(KIND_TOGGLE, 50, 35, 20, 20); // overlaps a's lower right corner
    add(KIND_STATIC, 0, 0, 200, 120);                   // on top of everything, never hit
    // x, y, widget hit
    const std::array<int32_t, 3> cases[] = {{20, 30, a},    {60, 34, a},    {40, 40, a},    {55, 38, b},
                                            {70, 55, b},    {19, 35, none}, {61, 34, none}, {40, 41, none},
                                            {71, 55, none}, {70, 56, none}, {5, 5, none}};
    for (const auto& [x, y, want] : cases) EXPECT_EQ(hit_test(y, x), want) << x << "," << y;
}

// Catches: an action on a release away from the pressed widget, or after the button was released
// outside it; a Space release acting after a mouse release disarmed it; Space passed on to the key
// hook; a pressed look left on screen; a press on nothing arming anything or taking the focus.
TEST_F(Input, ReleaseOrSpaceUpActivatesOnlyWhileThePressedBitHolds) {
    const int32_t button = add(KIND_BUTTON, 20, 20, 40, 20, 0, 0, ACTION);
    add(KIND_BUTTON, 100, 20, 30, 20, 0, 0, ACTION);
    const Msg off = move(90, 90, MK_LBUTTON), space = key(VK_SPACE), space_up = key_up(VK_SPACE);
    // What follows a left press on the button, and how often the button's action then ran.
    const std::tuple<const char*, std::vector<Msg>, size_t> cases[] = {
        // clang-format off
        {"click", {release(30, 30)}, 1},             {"moved off", {off, release(90, 90)}, 0},
        {"off and back", {off, release(35, 35)}, 1}, {"released outside, back over it", {off, move(35, 35, 0)}, 1},
        {"released outside, back elsewhere", {move(90, 90, 0)}, 0},
        {"released over another widget", {release(110, 30)}, 0},
        {"Space", {space, space_up}, 1}, {"Space, disarmed by a release elsewhere", {space, release(150, 100), space_up}, 0},
        // clang-format on
    };
    for (const auto& [name, after_press, activations] : cases) {
        actions.clear(), send({press(30, 30)}), clear_screen();
        for (const Msg& m : after_press) send({m});
        EXPECT_EQ(actions, std::vector<int32_t>(activations, button)) << name;
        EXPECT_TRUE(input.focus == button && input.pressed_widget == none &&
                    !(wflags(button) & FLAG_PRESSED) && drawn(button))
            << name << ": the focus kept, drawn released";
    }
    EXPECT_TRUE(released.empty()) << "Space on a focused widget is not passed on";
    send({press(90, 90), release(30, 30)}); // a press on nothing arms nothing and keeps the focus
    EXPECT_TRUE(actions.empty() && input.focus == button);
}

// Catches: the knob jumping to the pointer instead of keeping its offset, a drag moving it the other
// way, the knob leaving its track at either end or moving on a track too short for it, arrow keys not
// stepping or not stopping at the ends, and a knob moved without a repaint.
TEST_F(Input, SliderKnobStaysOnItsTrackAndIsRepainted) {
    const int32_t slider = add(KIND_SLIDER, 20, 60, 68, 20, 0, 0, VALUE, 10);
    send({press(31, 70)}); // the knob keeps its offset from the pointer: pos = x - 31 + 10
    const auto drag = [](int32_t x) { return move(x, 5, MK_LBUTTON); };
    // message, how often it is sent, pos after
    const std::tuple<Msg, int, int> steps[] = {
        {drag(40), 1, 19},        {drag(0), 1, 0},       {drag(76), 1, 55},     {drag(77), 1, 56},
        {drag(78), 1, 56},        {drag(199), 1, 56},    {drag(22), 1, 1},      {release(22, 5), 1, 1},
        {key(VK_RIGHT), 100, 56}, {key(VK_LEFT), 3, 53}, {key(VK_LEFT), 100, 0}};
    for (const auto& [msg, times, pos] : steps) {
        window.dirty = 0;
        for (int i = 0; i < times; ++i) send({msg});
        EXPECT_TRUE(wpos(slider) == pos && window.dirty) << "wanted " << pos << ", pos " << wpos(slider);
    }
    for (uint16_t width : {12, 5}) { // no room for the knob to move: pos stays 0
        wwidth(slider) = width, wpos(slider) = 0;
        send({press(21, 70), move(150, 70, MK_LBUTTON), release(150, 70), key(VK_RIGHT)});
        EXPECT_EQ(wpos(slider), 0) << "width " << width;
    }
}

// Catches: Tab stopping on static widgets, Shift+Tab not going back, a focus past either end not
// becoming none (or none not staying none), Shift still held after its release, Alt not moving into and
// out of group 1, a focus change not repainting both widgets, and Tab or Alt acting on one widget.
TEST_F(Input, TabShiftTabAndAltMoveTheFocus) {
    add(KIND_STATIC, 0, 0, 10, 10);
    const int32_t b1 = add(KIND_BUTTON, 10, 10, 10, 10);
    const int32_t s2 = add(KIND_STATIC, 20, 20, 10, 10, 1);
    const int32_t t3 = add(KIND_TOGGLE, 30, 30, 10, 10, 1);
    const int32_t b4 = add(KIND_BUTTON, 40, 40, 10, 10);
    const Msg tab = key(VK_TAB), shift = key(VK_SHIFT), unshift = key_up(VK_SHIFT);
    const Msg alt = {WM_SYSKEYDOWN, 0, 0, VK_MENU}, f10 = {WM_SYSKEYDOWN, 0, 0, 121};
    const std::pair<Msg, int32_t> steps[] = {
        // clang-format off
        {tab, b1}, {tab, t3}, {tab, b4}, {tab, none}, {tab, b1}, // statics skipped; past the end, none
        {shift, b1}, {tab, none}, {tab, none}, {unshift, none},  // back past the first; none stays none
        {alt, s2}, {alt, none}, {f10, none}, {tab, b1},          // Alt into group 1 (a static too), out
        {alt, s2}, {tab, t3}, {shift, t3}, {tab, b1},            // Tab on from a static, both ways
        // clang-format on
    };
    const auto shown = [&](int32_t id) { return id == none || drawn(id); };
    for (const auto& [msg, focus] : steps) {
        const int32_t before = input.focus;
        clear_screen(), send({msg});
        // Both the widget that lost the focus and the one that got it are repainted.
        EXPECT_TRUE(input.focus == focus && (before == focus || (shown(before) && shown(focus))))
            << "from " << before << " to " << focus << ", focus " << input.focus;
    }
    EXPECT_EQ(released, std::vector<uint32_t>{VK_SHIFT});

    reset_widgets(), reset_input(), input.char_input = 0;
    input.focus = add(KIND_BUTTON, 10, 10, 10, 10); // one widget, none in group 1: neither key does anything
    window.dirty = 0, send({tab, alt});
    EXPECT_TRUE(input.focus == 0 && window.dirty == 0);
}

// Catches: a toggle not flipping or keeping bits other than bit 0, a cycler not wrapping at its pos, a
// static widget's byte changed, FLAG_REDRAW_ALL ignored, and an activation repainting without it.
TEST_F(Input, ActivationChangesTheBoundByteByKindAndFlagRedrawsAll) {
    const int32_t toggle = add(KIND_TOGGLE, 0, 0, 10, 10, 0, 0, VALUE);
    const int32_t cycler = add(KIND_CYCLER, 20, 0, 10, 10, 0, FLAG_REDRAW_ALL, VALUE, 3);
    const int32_t stat = add(KIND_STATIC, 40, 0, 10, 10, 0, 0, VALUE);
    // widget, bound byte before, after
    const std::array<int32_t, 3> cases[] = {{toggle, 0, 1}, {toggle, 1, 0},    {toggle, 2, 1},
                                            {toggle, 3, 0}, {toggle, 0xFF, 0}, {cycler, 0, 1},
                                            {cycler, 1, 2}, {cycler, 2, 0},    {stat, 5, 5}};
    for (const auto& [id, before, after] : cases) {
        values[0] = static_cast<uint8_t>(before), clear_screen(), activate_widget(id);
        // Only the cycler's flag repaints the other widgets; an activation alone repaints nothing.
        EXPECT_TRUE(values[0] == after && drawn(toggle) == (id == cycler))
            << "kind " << int(wkind(id)) << " from " << before << " to " << int(values[0]);
    }
}

// Catches: arrows moving the focus without their flag or out of the group, Down on a widget with both
// flags not activating it, Enter acting without FLAG_ENTER, hotkeys of group 0 or of another group
// taken, keys nothing handles kept from the key hook, and a focus past the table read as a widget.
TEST_F(Input, KeyStepsArrowsEnterHotkeysAndAnInvalidFocus) {
    const int32_t lr = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT, ACTION);
    const int32_t st = add(KIND_STATIC, 0, 0, 10, 10, 2);
    const int32_t ud = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_UP_DOWN, ACTION);
    const int32_t both = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT | FLAG_UP_DOWN, ACTION);
    const int32_t other = add(KIND_BUTTON, 0, 0, 10, 10, 3, 0, ACTION, 0, 'A');
    const int32_t hot = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT, ACTION, 0, 'B');
    const int32_t g0 = add(KIND_BUTTON, 0, 0, 10, 10, 0, FLAG_ENTER, ACTION, 0, 'C');
    const int32_t bad = 40; // beyond the table: no widget
    // focus, key, focus after, widget activated, code passed to key_hook (0: not called)
    const std::array<int32_t, 5> cases[] = {
        // clang-format off
        {lr, VK_RIGHT, st, none, 0},      {lr, VK_LEFT, hot, none, 0},      {hot, VK_RIGHT, lr, none, 0},
        {ud, VK_DOWN, both, none, 0},     {ud, VK_UP, st, none, 0},         {ud, VK_LEFT, ud, none, VK_LEFT},
        {both, VK_DOWN, both, both, 0},   {both, VK_UP, both, none, VK_UP},
        {lr, 'B', lr, hot, 0},            {lr, 'A', lr, none, 'A'},         {other, 'A', other, other, 0},
        {g0, 'C', g0, none, 'C'},         {g0, VK_RETURN, g0, g0, 0},       {ud, VK_RETURN, ud, none, VK_RETURN},
        {bad, VK_TAB, bad, none, VK_TAB}, {bad, VK_RIGHT, bad, none, VK_RIGHT},
        // clang-format on
    };
    for (const auto& [focus, vk, focus_after, activated, hook] : cases) {
        actions.clear(), keys.clear(), input.focus = focus, send({key(vk)});
        EXPECT_EQ(std::tuple(input.focus, actions, keys),
                  std::tuple(focus_after, std::vector<int32_t>(activated != none, activated),
                             std::vector<uint32_t>(hook != 0, hook)))
            << "focus " << focus << " key " << vk;
    }
    send({key_up(VK_SPACE)}), step_focus_in_group(1); // with the invalid focus still set
    EXPECT_EQ(input.focus, bad);
    input.focus = none, send({key_up(VK_SPACE)}); // as with no focus at all
    EXPECT_EQ(released, (std::vector<uint32_t>{VK_SPACE, VK_SPACE}));
}

// Catches: a click not blanking the text, typing past the field's end or over its terminating zero,
// Backspace before the first cell, a zero stored, and Tab or Enter typed into the text.
TEST_F(Input, TextFieldEditsWithinItsText) {
    std::copy_n("abcde\0XYZ", 10, text);
    const int32_t field = add(KIND_TEXT, 10, 10, 60, 16, 0, 0, TEXT, 3);
    // The text up to its terminating zero, then the cursor.
    const auto typed = [&] { return std::string(text) + '|' + std::to_string(wpos(field)); };
    send({press(20, 20)}); // a click blanks the text and puts the cursor first
    EXPECT_EQ(typed(), "     |0");
    send({key('A'), key('B'), key('C'), key('D'), key('E'), key('F')});
    EXPECT_EQ(typed(), "ABCDE|5");
    for (int i = 0; i < 7; ++i) send({key(VK_BACK)}); // two more than there is text
    EXPECT_EQ(typed(), "     |0");
    wpos(field) = 9; // a cursor past the terminating zero writes nothing beyond it
    // A zero would cut the field short; Tab (with one widget) and Enter are not typed.
    send({key('Q'), key(VK_BACK), key(0), key(VK_TAB), key(VK_RETURN)});
    EXPECT_EQ(typed() + std::string(text + 6), "     |4XYZ"); // and the bytes past the zero kept
    EXPECT_EQ(keys, std::vector<uint32_t>{VK_RETURN});
}

// Catches: in character input, key-downs of other keys passed on, keys of the table lost or passed
// without their mark of 256, WM_CHAR ignored; Escape not closing, or closing although kept, and a kept
// Escape not passed on.
TEST_F(Input, KeysComeFromTheChosenSourceAndEscapeClosesUnlessKept) {
    input.char_input = 1;
    for (uint32_t vk = 0; vk < 256; ++vk) send({key(vk)}); // Shift sets shift_held, Control does nothing
    std::vector<uint32_t> want = {18,  19,  20,  33,  34,  35,  36,  37,  38,  39,  40,  45, 46,
                                  112, 113, 114, 115, 116, 117, 118, 119, 120, 121, 144, 145};
    for (uint32_t& code : want) code += 256; // the table's keys but Shift and Control, marked as key-downs
    EXPECT_EQ(keys, want);
    keys.clear();
    send({{WM_CHAR, 0, 0, 'a'}, {WM_CHAR, 0, 0, VK_ESCAPE}});
    input.char_input = 0, window.options = OPTION_KEEP_ESC;
    send({{WM_CHAR, 0, 0, 'a'}, key('A'), key(VK_ESCAPE)});
    // A kept Escape goes on to the key hook; only the first Escape closes.
    EXPECT_EQ(keys, (std::vector<uint32_t>{'a', 'A', VK_ESCAPE}));
    EXPECT_TRUE(headless.queue.size() == 1 && headless.queue[0].message == WM_CLOSE);
}

// Catches: presses and drags on a canvas not passed on relative to the widget hit, a canvas taking the
// focus or a pressed look, Space on a focused canvas not passed on, and a canvas press without a hook
// arming the canvas.
TEST_F(Input, CanvasPassesPointerAndKeysToTheApplication) {
    const int32_t canvas = add(KIND_CANVAS, 10, 20, 50, 50);
    const int32_t other = add(KIND_BUTTON, 100, 20, 20, 20);
    send({press(15, 27), move(105, 30, MK_LBUTTON)});
    EXPECT_EQ(canvas_calls, (std::vector<std::array<int32_t, 4>>{{7, 5, 0, canvas}, {10, 5, 1, other}}));
    EXPECT_TRUE(input.pressed_widget == canvas && input.focus == none);
    input.focus = canvas, send({key(VK_SPACE)});
    EXPECT_TRUE(keys == std::vector<uint32_t>{VK_SPACE} && !(wflags(canvas) & FLAG_PRESSED));
    reset_input(), window.hooks.canvas = nullptr; // no hook: a press on the canvas changes nothing
    send({press(15, 27)});
    EXPECT_TRUE(input.pressed_widget == none && input.focus == none);
}

// Catches: a drag moving only the anchor or another group too, a group pushed past any edge, a group
// too wide for the framebuffer wrapping its 16-bit position, a drag that does not end with the button
// (or WM_RBUTTONUP), and a press on a widget without FLAG_GROUP_DRAG starting one.
TEST_F(Input, RightButtonDragMovesTheGroupWithinTheFramebuffer) {
    const int32_t a = add(KIND_BUTTON, 10, 10, 30, 20, 2, FLAG_GROUP_DRAG);
    const int32_t b = add(KIND_STATIC, 50, 40, 40, 20, 2);
    const int32_t bystander = add(KIND_BUTTON, 150, 100, 10, 10, 3);
    const Msg right_press = {WM_RBUTTONDOWN, 20, 20, MK_RBUTTON};
    send({right_press});
    // Pointer x, y, then where a and b end up, one step after the other: a free move, a stops at the left
    // edge, b at the right edge, a at the top, b at the bottom.
    // clang-format off
    const std::array<int, 6> steps[] = {{25, 23, 15, 13, 55, 43}, {5, 23, 0, 13, 40, 43}, {199, 23, 120, 13, 160, 43},
                                        {199, 0, 120, 0, 160, 30}, {199, 119, 120, 70, 160, 100}};
    // clang-format on
    for (const auto& [x, y, ax, ay, bx, by] : steps) {
        send({move(x, y, MK_RBUTTON)});
        EXPECT_EQ((std::array<int, 4>{wx(a), wy(a), wx(b), wy(b)}), (std::array{ax, ay, bx, by}));
    }
    send({move(150, 50, 0), move(100, 50, MK_RBUTTON)}); // a move without the button ends the drag
    EXPECT_TRUE(wx(a) == 120 && wx(bystander) == 150);

    reset_widgets(), reset_input();
    const int32_t wide = add(KIND_BUTTON, 0, 10, 250, 20, 2, FLAG_GROUP_DRAG); // wider than the framebuffer
    const int32_t plain = add(KIND_BUTTON, 0, 50, 20, 20, 3);
    send({right_press, move(25, 25, MK_RBUTTON)}); // x cannot move, y can
    EXPECT_TRUE(wx(wide) == 0 && wy(wide) == 15);
    // The drag ended with the button; a right press on a widget without FLAG_GROUP_DRAG starts none.
    send({{WM_RBUTTONUP, 25, 25, 0}, move(30, 30, MK_RBUTTON), {WM_RBUTTONDOWN, 5, 55, MK_RBUTTON}});
    send({move(30, 80, MK_RBUTTON)});
    EXPECT_TRUE(wy(wide) == 15 && wy(plain) == 50);
}

} // namespace
