// Input handling: mouse and keyboard messages become focus moves, pressed
// states, changed bound values and calls of button actions. Everything that
// changes on screen is redrawn here with redraw_widget or redraw_all; the
// window procedure repaints afterwards.
#include "toolkit/input.h"

#include <algorithm>
#include <array>
#include <atomic>

#include "platform/window.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace tk {

InputState input;

namespace {

constexpr int32_t none = -1;
constexpr int32_t knob_width = 12;           // a slider's knob: pos runs over 0 .. width - 12
constexpr uint32_t key_down_extension = 256; // added to WM_KEYDOWN codes in character input
constexpr uint8_t alt_group = 1;             // the group Alt moves the focus into and out of

// Virtual keys that character input still takes from WM_KEYDOWN: the keys that type no character.
struct KeyRange {
    uint8_t first, last;
};
// clang-format off
constexpr KeyRange key_down_ranges[] = {
    {16, 20},   // Shift, Control, Alt, Pause, Caps Lock
    {33, 40},   // Page Up, Page Down, End, Home, Left, Up, Right, Down
    {45, 46},   // Insert, Delete
    {112, 121}, // F1 to F10
    {144, 145}, // Num Lock, Scroll Lock
};
// clang-format on

// key_table[vk] is 1 for the virtual keys above (27 of them), 0 for every other code below 160.
constexpr std::array<uint8_t, 160> key_table = [] {
    std::array<uint8_t, 160> table{};
    for (const KeyRange& range : key_down_ranges)
        for (int vk = range.first; vk <= range.last; ++vk) table[vk] = 1;
    return table;
}();

// Ids run 0, 4, 8 ... below this end.
int32_t id_end() {
    return static_cast<int32_t>(widgets.used_length / 4 * 4);
}

void call_key_hook(uint32_t code) {
    if (window.hooks.key) window.hooks.key(code);
}

// Keeps a slider knob on its track: 0 .. width - 12, and 0 for a slider no wider than its knob;
// a fine slider's pos counts values, 0 .. hi - lo.
uint16_t clamp_slider_pos(int32_t id, int32_t pos) {
    int32_t last = std::max(0, int32_t{wwidth(id)} - knob_width);
    uint8_t lo = 0, hi = 0;
    if (wflags(id) & FLAG_FINE) last = slider_range(id, lo, hi) ? hi - lo : 0;
    return static_cast<uint16_t>(std::clamp(pos, 0, last));
}

// How far a drag moves the knob: pixels, or on a fine slider the values those pixels stand for.
int32_t drag_steps(int32_t id, int32_t pixels) {
    uint8_t lo = 0, hi = 0;
    const int32_t travel = int32_t{wwidth(id)} - knob_width;
    if (!(wflags(id) & FLAG_FINE) || travel <= 0 || !slider_range(id, lo, hi)) return pixels;
    return pixels * (hi - lo) / travel;
}

// Gives the focus to id (or none) and redraws the widget that lost it, then the one that got it.
void move_focus(int32_t id) {
    const int32_t previous = input.focus;
    input.focus = id;
    redraw_widget(previous);
    redraw_widget(id);
}

uint32_t text_length(const uint8_t* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// A click on a text field blanks its text (keeping its length) and puts the cursor first.
void blank_text(int32_t id) {
    wpos(id) = 0;
    if (uint8_t* text = bound_address(wdata(id)))
        for (; *text != 0; ++text) *text = ' ';
}

// Edits a focused text field by one key code. The text's terminating zero fixes the field's size:
// the cursor is never taken past it, and nothing is written at or beyond it.
void text_key(int32_t id, uint32_t key) {
    if (key == VK_TAB) return tab_focus();
    if (key == VK_RETURN) return call_key_hook(VK_RETURN);
    uint8_t* text = bound_address(wdata(id));
    if (text == nullptr) return;
    const uint32_t cursor = std::min<uint32_t>(wpos(id), text_length(text));
    if (key == VK_BACK) {
        if (cursor == 0) return;
        text[cursor - 1] = ' ';
        wpos(id) = static_cast<uint16_t>(cursor - 1);
    } else {
        // A full field takes nothing; a zero byte would cut the field short, so it is not stored.
        const auto code = static_cast<uint8_t>(key);
        if (text[cursor] == 0 || code == 0) return;
        text[cursor] = code;
        wpos(id) = static_cast<uint16_t>(cursor + 1);
    }
    redraw_widget(id);
}

// Activates the first widget of the focused widget's group whose hotkey is key; group 0 has none.
bool activate_hotkey(int32_t focused, uint32_t key) {
    const uint8_t group = wgroup(focused);
    if (group == 0 || key == 0 || key > 0xFF) return false; // hotkey 0 means "no hotkey"
    for (int32_t id = 0; id < id_end(); id += 4) {
        if (wgroup(id) == group && whotkey(id) == key) {
            activate_widget(id);
            return true;
        }
    }
    return false;
}

// One key press after the source rules (WM_KEYDOWN or WM_CHAR) have chosen its code and extension.
void key_press(uint32_t key, uint32_t extension) {
    if (key == VK_ESCAPE && !(window.options & OPTION_KEEP_ESC))
        return platform::window_post_message(WM_CLOSE, 0, 0);
    if (key == VK_SHIFT) {
        input.shift_held = 1;
        return;
    }
    if (key == VK_CONTROL) return;

    const int32_t id = input.focus;
    if (id == none && key == VK_TAB) return tab_focus();
    if (!valid_id(id) || wkind(id) == KIND_CANVAS) return call_key_hook(key + extension);
    if (wkind(id) == KIND_TEXT && extension == 0) return text_key(id, key);

    const uint8_t flags = wflags(id);
    const uint8_t arrows = FLAG_LEFT_RIGHT | FLAG_UP_DOWN;
    switch (key) {
    case VK_SPACE:
        // The action follows on the key's release, while the pressed bit still holds.
        release_pressed();
        wflags(id) |= FLAG_PRESSED;
        return redraw_widget(id);
    case VK_LEFT:
    case VK_RIGHT: {
        const int32_t d = key == VK_LEFT ? -1 : 1;
        if (flags & FLAG_LEFT_RIGHT) return step_focus_in_group(d);
        if (wkind(id) == KIND_SLIDER) {
            wpos(id) = clamp_slider_pos(id, wpos(id) + d);
            return redraw_widget(id);
        }
        break;
    }
    case VK_UP:
    case VK_DOWN:
        if (key == VK_DOWN && (flags & arrows) == arrows) return activate_widget(id);
        if ((flags & arrows) == FLAG_UP_DOWN) return step_focus_in_group(key == VK_UP ? -1 : 1);
        break;
    default: break;
    }
    if (key == VK_RETURN && (flags & FLAG_ENTER)) return activate_widget(id);
    if (activate_hotkey(id, key)) return;
    if (key == VK_TAB) return tab_focus();
    call_key_hook(key + extension);
}

void key_release(uint32_t key) {
    if (key == VK_SHIFT) input.shift_held = 0;
    if (key == VK_SPACE && valid_id(input.focus)) {
        if (wflags(input.focus) & FLAG_PRESSED) return activate_widget(input.focus);
        return release_pressed();
    }
    if (window.hooks.key_released) window.hooks.key_released(key);
}

// Alt moves the focus onto the first widget of group 1, or away when it is already in that group.
void alt_focus() {
    if (valid_id(input.focus) && wgroup(input.focus) == alt_group) return move_focus(none);
    for (int32_t id = 0; id < id_end(); id += 4)
        if (wgroup(id) == alt_group) return move_focus(id);
}

void left_press(int32_t y, int32_t x) {
    input.press_x = x;
    input.press_y = y;
    const int32_t h = hit_test(y, x);
    if (h == none) return;
    if (wkind(h) == KIND_CANVAS) {
        // A canvas is the application's to handle; without its hook a press on one changes nothing.
        if (window.hooks.canvas) {
            window.hooks.canvas(y - wy(h), x - wx(h), 0, h);
            input.pressed_widget = h;
        }
        return;
    }
    if (wkind(h) == KIND_TEXT) blank_text(h);
    const int32_t previous = input.focus;
    input.focus = h;
    redraw_widget(previous);
    wflags(h) |= FLAG_PRESSED;
    redraw_widget(h);
    input.press_pos = wpos(h);
    input.pressed_widget = h;
}

// Activates the widget under the release point if it still holds the pressed bit; always releases.
void left_release(int32_t y, int32_t x) {
    const int32_t h = hit_test(y, x);
    if (h == none || !(wflags(h) & FLAG_PRESSED)) return release_pressed();
    activate_widget(h);
}

void right_press(int32_t y, int32_t x) {
    input.drag_x = x;
    input.drag_y = y;
    const int32_t h = hit_test(y, x);
    if (h != none && (wflags(h) & FLAG_GROUP_DRAG)) input.drag_anchor = h;
}

// Moves the anchor's whole group with the pointer, keeping every widget of it inside the framebuffer.
void drag_group(int32_t y, int32_t x) {
    const uint8_t group = wgroup(input.drag_anchor);
    int32_t dx = x - input.drag_x;
    int32_t dy = y - input.drag_y;
    input.drag_x = x;
    input.drag_y = y;
    const int32_t fb_width = window.fb.width;
    const int32_t fb_height = window.fb.height;
    for (int32_t id = 0; id < id_end(); id += 4) {
        if (wgroup(id) != group) continue;
        const int32_t left = wx(id), top = wy(id);
        if (left + dx < 0) dx = -left;
        if (left + dx + wwidth(id) >= fb_width) dx = fb_width - wwidth(id) - left;
        if (top + dy < 0) dy = -top;
        if (top + dy + wheight(id) >= fb_height) dy = fb_height - wheight(id) - top;
    }
    // A group that cannot fit (a widget larger than the framebuffer, or one a resize left outside it)
    // can end with a step that pushes some widget past the left or top edge; that step is dropped
    // rather than wrapping the widget's 16-bit position.
    for (int32_t id = 0; id < id_end(); id += 4) {
        if (wgroup(id) != group) continue;
        if (wx(id) + dx < 0) dx = 0;
        if (wy(id) + dy < 0) dy = 0;
    }
    for (int32_t id = 0; id < id_end(); id += 4) {
        if (wgroup(id) != group) continue;
        wx(id) = static_cast<uint16_t>(wx(id) + dx);
        wy(id) = static_cast<uint16_t>(wy(id) + dy);
    }
    redraw_all();
}

void mouse_move(int32_t y, int32_t x, uintptr_t buttons) {
    const int32_t pressed = input.pressed_widget;
    if (pressed != none) {
        // The mouse is not captured: a release outside the window shows as a move without the button.
        if (!(buttons & MK_LBUTTON)) return left_release(y, x);
        if (valid_id(pressed) && wkind(pressed) == KIND_SLIDER) {
            // The knob keeps its offset from the pointer, wherever the pointer goes.
            wpos(pressed) =
                clamp_slider_pos(pressed, drag_steps(pressed, x - input.press_x) + input.press_pos);
            redraw_widget(pressed);
        } else if (valid_id(pressed) && wkind(pressed) == KIND_CANVAS && window.hooks.canvas) {
            const int32_t h = hit_test(y, x);
            if (h != none) window.hooks.canvas(y - wy(h), x - wx(h), 1, h);
        }
    }
    if (input.drag_anchor != none) {
        if (!(buttons & MK_RBUTTON)) {
            input.drag_anchor = none;
            return;
        }
        if (valid_id(input.drag_anchor)) drag_group(y, x);
    }
}

} // namespace

void handle_input(int32_t y, int32_t x, uintptr_t wparam, uint32_t message) {
    const auto code = static_cast<uint32_t>(wparam);
    switch (message) {
    case WM_MOUSEMOVE: return mouse_move(y, x, wparam);
    case WM_LBUTTONDOWN: return left_press(y, x);
    case WM_LBUTTONUP: return left_release(y, x);
    case WM_RBUTTONDOWN: return right_press(y, x);
    case WM_RBUTTONUP: input.drag_anchor = none; return;
    case WM_MOUSEWHEEL:
        if (window.hooks.wheel) window.hooks.wheel(wparam);
        return;
    case WM_SYSKEYDOWN:
        if (wparam == VK_MENU) alt_focus();
        return;
    case WM_KEYUP: return key_release(code);
    case WM_CHAR:
        if (input.char_input) key_press(code, 0);
        return;
    case WM_KEYDOWN:
        if (!input.char_input) return key_press(code, 0);
        if (wparam < key_table.size() && key_table[wparam]) key_press(code, key_down_extension);
        return;
    default: return;
    }
}

int32_t hit_test(int32_t y, int32_t x) {
    // Backwards, so that a widget added later wins where widgets overlap.
    for (int32_t id = id_end() - 4; id >= 0; id -= 4) {
        if (wkind(id) == KIND_STATIC) continue;
        const int32_t left = wx(id), top = wy(id);
        if (x >= left && x <= left + wwidth(id) && y >= top && y <= top + wheight(id)) return id;
    }
    return none;
}

void tab_focus() {
    const int32_t end = id_end();
    if (end < 2 * 4) return;
    const int32_t previous = input.focus;
    const bool focused = valid_id(previous);
    int32_t next = none;
    if (!input.shift_held) {
        for (int32_t id = focused ? previous + 4 : 0; id < end && next == none; id += 4)
            if (wkind(id) != KIND_STATIC) next = id;
    } else if (focused) {
        for (int32_t id = previous - 4; id >= 0 && next == none; id -= 4)
            if (wkind(id) != KIND_STATIC) next = id;
    }
    move_focus(next);
}

void step_focus_in_group(int32_t d) {
    const int32_t previous = input.focus;
    if (!valid_id(previous)) return;
    const int32_t end = id_end();
    const int32_t step = d < 0 ? -4 : 4;
    const uint8_t group = wgroup(previous);
    // Ends at the latest back on the starting widget, which is in the group.
    int32_t id = previous;
    do {
        id += step;
        if (id >= end) id = 0;
        if (id < 0) id = end - 4;
    } while (wgroup(id) != group);
    move_focus(id);
}

void activate_widget(int32_t id) {
    if (valid_id(id)) {
        switch (wkind(id)) {
        case KIND_TOGGLE:
            // A toggle's byte may be watched by another thread of the application: store it whole.
            if (uint8_t* value = bound_address(wdata(id))) {
                std::atomic_ref<uint8_t> byte(*value);
                byte.store(static_cast<uint8_t>((byte.load() ^ 1) & 1));
            }
            break;
        case KIND_BUTTON:
            // The routine may not return: the exit button ends the process.
            if (Action action = bound_action(wdata(id))) action(id);
            break;
        case KIND_CYCLER:
            if (uint8_t* value = bound_address(wdata(id))) {
                const auto next = static_cast<uint8_t>(*value + 1);
                *value = next == wpos(id) ? 0 : next;
            }
            break;
        default: break;
        }
        if (wflags(id) & FLAG_REDRAW_ALL) redraw_all();
    }
    release_pressed();
}

void release_pressed() {
    input.pressed_widget = none;
    for (int32_t id = 0; id < id_end(); id += 4) {
        if (!(wflags(id) & FLAG_PRESSED)) continue;
        wflags(id) &= static_cast<uint8_t>(~FLAG_PRESSED);
        redraw_widget(id);
    }
}

void reset_input() {
    input = InputState{};
}

} // namespace tk
