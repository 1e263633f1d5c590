// Fuzzes the input handling of the real main window: any sequence of mouse and
// keyboard messages through the window procedure. Never a crash, and the focus,
// the pressed widget and every slider knob stay valid.
#include "app/actions.h"
#include "tests/fuzz/fuzz_app.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/widgets.h"

namespace {

constexpr uint32_t messages[] = {
    tk::WM_MOUSEMOVE, tk::WM_LBUTTONDOWN, tk::WM_LBUTTONUP,  tk::WM_RBUTTONDOWN,
    tk::WM_RBUTTONUP, tk::WM_MOUSEWHEEL,  tk::WM_SYSKEYDOWN, tk::WM_KEYDOWN,
    tk::WM_KEYUP,     tk::WM_CHAR,        tk::WM_USER,       tk::WM_PAINT,
};

bool valid_or_none(int32_t id) {
    return id == -1 || tk::valid_id(id);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::open_program();
    bool ended = false;
    for (size_t i = 0; i + 4 <= size && !ended; i += 4) {
        const uint32_t message = messages[data[i] % (sizeof messages / sizeof messages[0])];
        uintptr_t wparam = data[i + 1];
        if (message == tk::WM_SYSKEYDOWN && (data[i + 1] & 1)) wparam = tk::VK_MENU;
        const uint32_t x = data[i + 2] * 544u / 256u, y = data[i + 3] * 400u / 256u;
        try {
            platform::headless_send(message, wparam, tk::make_lparam(x, y));
        } catch (const fuzz::ProcessExit&) {
            ended = true; // "exit": the process would end here
        }
        if (!valid_or_none(tk::input.focus) || !valid_or_none(tk::input.pressed_widget)) __builtin_trap();
        for (int32_t id = 0; tk::valid_id(id); id += 4) {
            if (tk::wkind(id) == tk::KIND_SLIDER && tk::wpos(id) > tk::wwidth(id) - 12) __builtin_trap();
        }
    }
    fuzz::settle();
    tk::release_pressed();
    tk::input.focus = -1;
    tk::input.drag_anchor = -1;
    tk::input.shift_held = 0;
    if (!ended) app::refresh(-1);
    return 0;
}
