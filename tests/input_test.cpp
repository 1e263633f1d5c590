// Scripted input: messages go straight into handle_input, and the tests look at focus, pressed bits,
// bound bytes, widget positions, recorded action and hook calls, and which widgets were repainted.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/window.h"
#include "tests/test_support.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

using namespace tk;

constexpr uint32_t fill = 0x00ABCDEF;
constexpr int32_t none = -1;

uint8_t values[8];
uint8_t text[12];
std::vector<int32_t> actions;   // ids the recording button action was called with
std::vector<uint32_t> keys;     // key_hook codes
std::vector<uint32_t> released; // key_released_hook codes
std::vector<std::array<int32_t, 4>> canvas_calls;

void record_action(int32_t id) {
    actions.push_back(id);
}

alignas(4) const uint8_t programs[4] = {OP_END, OP_END, OP_END, OP_END};
const Binding bindings[] = {{}, {values, nullptr}, {nullptr, record_action}, {text, nullptr}};
constexpr uint32_t VALUE = make_ref(1), ACTION = make_ref(2), TEXT = make_ref(3);

// Runs before the canvas is installed, so that reset_window does not take the canvas away again.
struct Reset {
    Reset() {
        reset_window();
        reset_widgets();
        reset_input();
        set_resources({programs, sizeof programs, bindings, 4, nullptr, 0});
        input.char_input = 0; // as the application sets it
        std::fill(std::begin(values), std::end(values), 0);
        actions.clear(), keys.clear(), released.clear(), canvas_calls.clear();
        window.hooks.key = [](uint32_t k) { keys.push_back(k); };
        window.hooks.key_released = [](uint32_t k) { released.push_back(k); };
        window.hooks.canvas = [](int32_t y, int32_t x, int32_t code, int32_t id) {
            canvas_calls.push_back({y, x, code, id});
        };
        platform::Message m;
        for (int i = 0; i < 100 && platform::window_get_message(&m); ++i) {
        }
    }
};

struct Msg {
    uint32_t message;
    int32_t x, y;
    uintptr_t wparam;
};
Msg press(int32_t x, int32_t y) {
    return {WM_LBUTTONDOWN, x, y, MK_LBUTTON};
}
Msg release(int32_t x, int32_t y) {
    return {WM_LBUTTONUP, x, y, 0};
}
Msg move(int32_t x, int32_t y, uintptr_t buttons) {
    return {WM_MOUSEMOVE, x, y, buttons};
}
Msg key(uint32_t vk) {
    return {WM_KEYDOWN, 0, 0, vk};
}
Msg key_up(uint32_t vk) {
    return {WM_KEYUP, 0, 0, vk};
}
void send(const Msg& m) {
    handle_input(m.y, m.x, m.wparam, m.message);
}
void send(std::initializer_list<Msg> ms) {
    for (const Msg& m : ms) send(m);
}

class Input : public ::testing::Test {
  protected:
    Reset reset_;
    test::Canvas canvas_{200, 120, fill};

    static int32_t add(uint8_t kind, uint16_t x, uint16_t y, uint16_t w, uint16_t h, uint8_t group = 0,
                       uint8_t flags = 0, uint32_t data = 0, uint16_t pos = 0, uint8_t hotkey = 0) {
        const auto id = static_cast<int32_t>(widgets.used_length);
        widgets.used_length += 4;
        wx(id) = x, wy(id) = y, wwidth(id) = w, wheight(id) = h, wkind(id) = kind, wgroup(id) = group;
        wflags(id) = flags, wdata(id) = data, wpos(id) = pos, whotkey(id) = hotkey, wcolour(id) = 7;
        return id;
    }
    void clear_screen() {
        std::fill(window.fb.pixels, window.fb.pixels + window.fb.width * window.fb.height, fill);
        window.dirty = 0;
    }
    // A widget repainted since the last clear_screen shows its face (or focus interior) inside its edge.
    bool drawn(int32_t id) const { return canvas_.at(wx(id) + 1, wy(id) + 1) != fill; }
    static bool any_pressed() {
        for (int32_t id = 0; valid_id(id); id += 4)
            if (wflags(id) & FLAG_PRESSED) return true;
        return false;
    }
};

TEST_F(Input, HitTestEdgesAreInclusiveAndTheLaterWidgetWins) {
    const int32_t a = add(KIND_BUTTON, 20, 30, 40, 10);
    const int32_t b = add(KIND_TOGGLE, 50, 35, 20, 20); // overlaps a's lower right corner
    add(KIND_STATIC, 0, 0, 200, 120);                   // on top of everything, never hit
    struct {
        int32_t x, y, want;
    } cases[] = {{20, 30, a},    {60, 34, a},    {40, 40, a},    {55, 38, b},    {70, 55, b}, {19, 35, none},
                 {61, 34, none}, {40, 41, none}, {71, 55, none}, {70, 56, none}, {5, 5, none}};
    for (const auto& c : cases) EXPECT_EQ(hit_test(c.y, c.x), c.want) << c.x << "," << c.y;
}

TEST_F(Input, ReleaseActivatesOnlyOverTheStillPressedWidget) {
    const int32_t button = add(KIND_BUTTON, 20, 20, 40, 20, 0, 0, ACTION);
    add(KIND_TOGGLE, 100, 20, 30, 20, 0, 0, VALUE);
    struct {
        const char* name;
        std::vector<Msg> before;
        Msg last;
        size_t activations;
    } cases[] = {
        {"click", {press(30, 30)}, release(30, 30), 1},
        {"click on the edge", {press(60, 40)}, release(60, 40), 1},
        {"moved off", {press(30, 30), move(90, 90, MK_LBUTTON)}, release(90, 90), 0},
        {"off and back", {press(30, 30), move(90, 90, MK_LBUTTON)}, release(35, 35), 1},
        {"released outside, back over it", {press(30, 30), move(90, 90, MK_LBUTTON)}, move(35, 35, 0), 1},
        {"released outside, back elsewhere", {press(30, 30)}, move(90, 90, 0), 0},
        {"released over another widget", {press(30, 30)}, release(110, 30), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset_input(), input.char_input = 0, actions.clear();
        for (const Msg& m : c.before) send(m);
        EXPECT_EQ(input.focus, button);
        EXPECT_TRUE(wflags(button) & FLAG_PRESSED);
        clear_screen();
        send(c.last);
        EXPECT_EQ(actions, std::vector<int32_t>(c.activations, button));
        EXPECT_EQ(input.pressed_widget, none);
        EXPECT_FALSE(any_pressed());
        EXPECT_TRUE(drawn(button)) << "drawn released";
        EXPECT_EQ(values[0], 0);
    }
    send({press(90, 90), release(30, 30)}); // a press on nothing arms nothing
    EXPECT_TRUE(actions.empty());
}

TEST_F(Input, SliderKnobStaysOnItsTrack) {
    const int32_t slider = add(KIND_SLIDER, 20, 60, 68, 20, 0, 0, VALUE, 10);
    send(press(30, 70)); // the knob keeps its offset from the pointer: pos = x - 30 + 10
    struct {
        int32_t x, pos;
    } drags[] = {{40, 20}, {0, 0}, {75, 55}, {76, 56}, {77, 56}, {199, 56}, {21, 1}};
    for (const auto& d : drags) {
        send(move(d.x, 5, MK_LBUTTON));
        EXPECT_EQ(wpos(slider), d.pos) << "drag to " << d.x;
    }
    send(release(21, 5));
    struct {
        uint32_t vk;
        int presses, pos;
    } steps[] = {{VK_RIGHT, 100, 56}, {VK_LEFT, 3, 53}, {VK_LEFT, 100, 0}};
    for (const auto& s : steps) {
        for (int i = 0; i < s.presses; ++i) send(key(s.vk));
        EXPECT_EQ(wpos(slider), s.pos);
    }
    for (uint16_t width : {12, 5}) { // no room for the knob to move: pos stays 0
        wwidth(slider) = width, wpos(slider) = 0;
        send({press(21, 70), move(150, 70, MK_LBUTTON), release(150, 70), key(VK_RIGHT)});
        EXPECT_EQ(wpos(slider), 0) << "width " << width;
    }
}

TEST_F(Input, TabShiftTabAndAltMoveTheFocus) {
    add(KIND_STATIC, 0, 0, 10, 10);
    const int32_t b1 = add(KIND_BUTTON, 10, 10, 10, 10);
    const int32_t s2 = add(KIND_STATIC, 20, 20, 10, 10, 1);
    const int32_t t3 = add(KIND_TOGGLE, 30, 30, 10, 10, 1);
    const int32_t b4 = add(KIND_BUTTON, 40, 40, 10, 10);
    struct {
        Msg msg;
        int32_t focus;
    } steps[] = {
        {key(VK_TAB), b1},
        {key(VK_TAB), t3},
        {key(VK_TAB), b4},
        {key(VK_TAB), none},
        {key(VK_TAB), b1},
        {key(VK_SHIFT), b1},
        {key(VK_TAB), none},
        {key(VK_TAB), none},
        {key_up(VK_SHIFT), none},
        {{WM_SYSKEYDOWN, 0, 0, VK_MENU}, s2},
        {{WM_SYSKEYDOWN, 0, 0, VK_MENU}, none},
        {{WM_SYSKEYDOWN, 0, 0, 121}, none},
        {key(VK_TAB), b1},
        {{WM_SYSKEYDOWN, 0, 0, VK_MENU}, s2},
        {key(VK_TAB), t3},
        {key(VK_SHIFT), t3},
        {key(VK_TAB), b1},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        clear_screen();
        const int32_t before = input.focus;
        send(steps[i].msg);
        EXPECT_EQ(input.focus, steps[i].focus) << "step " << i;
        // Both the widget that lost the focus and the one that got it are repainted.
        EXPECT_TRUE(before == input.focus ||
                    ((before == none || drawn(before)) && (input.focus == none || drawn(input.focus))))
            << "step " << i;
    }
    EXPECT_EQ(released, (std::vector<uint32_t>{VK_SHIFT}));

    reset_widgets(), reset_input(), input.char_input = 0;
    const int32_t only = add(KIND_BUTTON, 10, 10, 10, 10, 0);
    send({key(VK_TAB), {WM_SYSKEYDOWN, 0, 0, VK_MENU}}); // one widget, none in group 1
    EXPECT_EQ(input.focus, none);
    input.focus = only;
    clear_screen();
    send({WM_SYSKEYDOWN, 0, 0, VK_MENU});
    EXPECT_EQ(input.focus, only);
    EXPECT_EQ(window.dirty, 0);
}

TEST_F(Input, ActivationByKind) {
    const int32_t toggle = add(KIND_TOGGLE, 0, 0, 10, 10, 0, 0, VALUE);
    const int32_t cycler = add(KIND_CYCLER, 0, 0, 10, 10, 0, 0, VALUE, 3);
    const int32_t stat = add(KIND_STATIC, 0, 0, 10, 10, 0, 0, VALUE);
    struct {
        int32_t id;
        uint8_t before, after;
    } cases[] = {{toggle, 0, 1}, {toggle, 1, 0}, {toggle, 2, 1}, {toggle, 3, 0}, {toggle, 0xFF, 0},
                 {cycler, 0, 1}, {cycler, 1, 2}, {cycler, 2, 0}, {stat, 5, 5}};
    for (const auto& c : cases) {
        values[0] = c.before;
        activate_widget(c.id);
        EXPECT_EQ(values[0], c.after) << "kind " << int(wkind(c.id)) << " from " << int(c.before);
    }
}

TEST_F(Input, SpaceActivatesOnReleaseWhileThePressedBitHolds) {
    const int32_t toggle = add(KIND_TOGGLE, 10, 10, 20, 20, 0, 0, VALUE);
    input.focus = toggle;
    send(key(VK_SPACE));
    EXPECT_TRUE(wflags(toggle) & FLAG_PRESSED);
    send(key_up(VK_SPACE));
    EXPECT_EQ(values[0], 1);
    EXPECT_FALSE(any_pressed());
    send({key(VK_SPACE), release(150, 100), key_up(VK_SPACE)}); // a release elsewhere disarms it
    EXPECT_EQ(values[0], 1);
    input.focus = none;
    send(key_up(VK_SPACE));
    EXPECT_EQ(released, std::vector<uint32_t>{VK_SPACE});
}

TEST_F(Input, KeyStepsArrowsEnterAndHotkeys) {
    const int32_t lr = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT, ACTION);
    const int32_t st = add(KIND_STATIC, 0, 0, 10, 10, 2);
    const int32_t ud = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_UP_DOWN, ACTION);
    const int32_t both = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT | FLAG_UP_DOWN, ACTION);
    const int32_t other = add(KIND_BUTTON, 0, 0, 10, 10, 3, 0, ACTION, 0, 'A');
    const int32_t hot = add(KIND_BUTTON, 0, 0, 10, 10, 2, FLAG_LEFT_RIGHT, ACTION, 0, 'B');
    const int32_t g0 = add(KIND_BUTTON, 0, 0, 10, 10, 0, FLAG_ENTER, ACTION, 0, 'C');
    struct {
        int32_t focus;
        uint32_t vk;
        int32_t focus_after, activated;
        uint32_t hook; // 0: key_hook not called
    } cases[] = {
        {lr, VK_RIGHT, st, none, 0},
        {lr, VK_LEFT, hot, none, 0},
        {ud, VK_DOWN, both, none, 0},
        {ud, VK_UP, st, none, 0},
        {both, VK_DOWN, both, both, 0},
        {both, VK_UP, both, none, VK_UP},
        {lr, 'B', lr, hot, 0},
        {lr, 'A', lr, none, 'A'},
        {other, 'A', other, other, 0},
        {g0, 'C', g0, none, 'C'},
        {g0, VK_RETURN, g0, g0, 0},
        {ud, VK_RETURN, ud, none, VK_RETURN},
        {ud, VK_LEFT, ud, none, VK_LEFT},
        {hot, VK_RIGHT, lr, none, 0},
    };
    for (const auto& c : cases) {
        actions.clear(), keys.clear();
        input.focus = c.focus;
        send(key(c.vk));
        SCOPED_TRACE(testing::Message() << "focus " << c.focus << " key " << c.vk);
        EXPECT_EQ(input.focus, c.focus_after);
        EXPECT_EQ(actions, c.activated == none ? std::vector<int32_t>{} : std::vector<int32_t>{c.activated});
        EXPECT_EQ(keys, c.hook ? std::vector<uint32_t>{c.hook} : std::vector<uint32_t>{});
    }
}

TEST_F(Input, EscapeClosesUnlessTheWindowKeepsIt) {
    for (uint8_t options : {uint8_t{0}, OPTION_KEEP_ESC}) {
        window.options = options, keys.clear();
        send(key(VK_ESCAPE));
        platform::Message m{};
        const bool posted = platform::window_get_message(&m);
        EXPECT_EQ(posted, options == 0);
        EXPECT_TRUE(!posted || m.message == WM_CLOSE);
        EXPECT_EQ(keys, options ? std::vector<uint32_t>{VK_ESCAPE} : std::vector<uint32_t>{});
    }
}

TEST_F(Input, RedrawAllFlagRepaintsEveryWidgetAfterTheAction) {
    const int32_t button = add(KIND_BUTTON, 10, 10, 20, 20, 0, 0, ACTION);
    const int32_t bystander = add(KIND_TOGGLE, 100, 10, 20, 20, 0, 0, VALUE);
    for (uint8_t flags : {uint8_t{0}, FLAG_REDRAW_ALL}) {
        wflags(button) = flags;
        send(press(15, 15));
        clear_screen();
        send(release(15, 15));
        EXPECT_EQ(drawn(bystander), flags != 0) << int(flags);
    }
    EXPECT_EQ(actions.size(), 2u);
}

TEST_F(Input, TextFieldEditsWithinItsText) {
    std::copy_n("abcde\0XYZ", 10, text);
    const int32_t field = add(KIND_TEXT, 10, 10, 60, 16, 0, 0, TEXT, 3);
    send(press(20, 20)); // a click blanks the text and puts the cursor first
    EXPECT_STREQ(reinterpret_cast<char*>(text), "     ");
    EXPECT_EQ(input.focus, field);
    send({key('A'), key('B'), key('C'), key('D'), key('E'), key('F')});
    EXPECT_STREQ(reinterpret_cast<char*>(text), "ABCDE");
    EXPECT_EQ(wpos(field), 5);
    for (int i = 0; i < 7; ++i) send(key(VK_BACK)); // two more than there is text
    EXPECT_STREQ(reinterpret_cast<char*>(text), "     ");
    EXPECT_EQ(wpos(field), 0);
    wpos(field) = 9; // a cursor past the terminating zero writes nothing beyond it
    send({key('Q'), key(VK_BACK), key(0), key(VK_RETURN)}); // a zero would cut the field short
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text), 9), std::string("     \0XYZ", 9));
    EXPECT_EQ(wpos(field), 4);
    EXPECT_EQ(keys, std::vector<uint32_t>{VK_RETURN});
}

TEST_F(Input, CharacterInputTakesOnlyTableKeysFromKeyDown) {
    input.char_input = 1;
    std::vector<uint32_t> want;
    for (uint32_t vk : {18, 19, 20, 33, 34, 35, 36, 37, 38, 39, 40, 45, 46, 144, 145})
        want.push_back(vk + 256);
    for (uint32_t vk = 112; vk <= 121; ++vk) want.push_back(vk + 256);
    std::sort(want.begin(), want.end());
    for (uint32_t vk = 0; vk < 256; ++vk) send(key(vk)); // Shift sets shift_held, Control does nothing
    EXPECT_EQ(keys, want);
    EXPECT_EQ(input.shift_held, 1);
    keys.clear();
    send({{WM_CHAR, 0, 0, 'a'}, {WM_CHAR, 0, 0, VK_ESCAPE}});
    EXPECT_EQ(keys, std::vector<uint32_t>{'a'});
    platform::Message m{};
    EXPECT_TRUE(platform::window_get_message(&m) && m.message == WM_CLOSE);
    input.char_input = 0, keys.clear();
    send({{WM_CHAR, 0, 0, 'a'}, key('A')});
    EXPECT_EQ(keys, std::vector<uint32_t>{'A'});
}

TEST_F(Input, CanvasPassesPointerAndKeysToTheApplication) {
    const int32_t canvas = add(KIND_CANVAS, 10, 20, 50, 50);
    const int32_t other = add(KIND_BUTTON, 100, 20, 20, 20);
    send({press(15, 27), move(105, 30, MK_LBUTTON)});
    EXPECT_EQ(canvas_calls, (std::vector<std::array<int32_t, 4>>{{7, 5, 0, canvas}, {10, 5, 1, other}}));
    EXPECT_EQ(input.pressed_widget, canvas);
    EXPECT_EQ(input.focus, none);
    input.focus = canvas;
    send(key(VK_SPACE));
    EXPECT_EQ(keys, std::vector<uint32_t>{VK_SPACE});
    EXPECT_FALSE(any_pressed());
    reset_input();
    window.hooks.canvas = nullptr; // no hook: a press on the canvas changes nothing
    send(press(15, 27));
    EXPECT_EQ(input.pressed_widget, none);
    EXPECT_EQ(input.focus, none);
}

TEST_F(Input, InvalidFocusIsNoWidgetForKeys) {
    add(KIND_BUTTON, 10, 10, 10, 10, 0, FLAG_LEFT_RIGHT);
    add(KIND_BUTTON, 30, 10, 10, 10);
    input.focus = 40;
    clear_screen();
    send({key(VK_TAB), key(VK_RIGHT), key_up(VK_SPACE)});
    step_focus_in_group(1);
    EXPECT_EQ(input.focus, 40);
    EXPECT_EQ(keys, (std::vector<uint32_t>{VK_TAB, VK_RIGHT}));
    EXPECT_EQ(released, std::vector<uint32_t>{VK_SPACE});
    EXPECT_EQ(window.dirty, 0);
}

TEST_F(Input, RightButtonDragMovesTheGroupWithinTheFramebuffer) {
    struct {
        int32_t x, y;
        uint16_t ax, ay, bx, by;
    } cases[] = {
        {25, 23, 15, 13, 55, 43},    // free move
        {5, 20, 0, 10, 40, 40},      // a stops at the left edge
        {199, 20, 120, 10, 160, 40}, // b stops at the right edge
        {20, 0, 10, 0, 50, 30},      // a stops at the top
        {20, 119, 10, 70, 50, 100},  // b stops at the bottom
    };
    for (const auto& c : cases) {
        reset_widgets(), reset_input();
        const int32_t a = add(KIND_BUTTON, 10, 10, 30, 20, 2, FLAG_GROUP_DRAG);
        const int32_t b = add(KIND_STATIC, 50, 40, 40, 20, 2);
        const int32_t bystander = add(KIND_BUTTON, 150, 100, 10, 10, 3);
        send({{WM_RBUTTONDOWN, 20, 20, MK_RBUTTON}, move(c.x, c.y, MK_RBUTTON)});
        SCOPED_TRACE(testing::Message() << "to " << c.x << "," << c.y);
        using Quad = std::array<int, 4>;
        EXPECT_EQ((Quad{wx(a), wy(a), wx(b), wy(b)}), (Quad{c.ax, c.ay, c.bx, c.by}));
        EXPECT_EQ(wx(bystander), 150);
        send({move(c.x + 5, c.y, 0), move(c.x + 9, c.y, MK_RBUTTON)}); // a move without the button ends it
        EXPECT_EQ(wx(a), c.ax);
    }
    reset_widgets(), reset_input();
    const int32_t wide = add(KIND_BUTTON, 0, 10, 250, 20, 2, FLAG_GROUP_DRAG); // wider than the framebuffer
    const int32_t plain = add(KIND_BUTTON, 0, 50, 20, 20, 3);
    send({{WM_RBUTTONDOWN, 20, 20, MK_RBUTTON}, move(25, 25, MK_RBUTTON)});
    EXPECT_EQ(wx(wide), 0);
    EXPECT_EQ(wy(wide), 15);
    send({{WM_RBUTTONUP, 25, 25, 0},
          move(30, 30, MK_RBUTTON),
          {WM_RBUTTONDOWN, 5, 55, MK_RBUTTON},
          move(30, 80, MK_RBUTTON)});
    EXPECT_EQ(wy(wide), 15);
    EXPECT_EQ(wy(plain), 50);
}

} // namespace
