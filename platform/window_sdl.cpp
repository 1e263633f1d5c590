// The SDL2 window backend: one window of fixed size that shows the framebuffer,
// and SDL's events turned into the Win32-style messages of toolkit/messages.h
// (mouse messages with MK_ flags and the position in lParam, virtual-key codes,
// WM_CHAR, WM_PAINT, WM_CLOSE). Only the main thread calls SDL; another thread
// that sets the title or posts a message leaves it in the state under the lock
// and wakes the main thread with an SDL user event.
#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/window.h"
#include "platform/window_scale.h"
#include "toolkit/messages.h"
#include "toolkit/window.h"

namespace platform {

namespace {

// Virtual-key codes beyond the letters and digits, by SDL key code.
struct KeyRow {
    SDL_Keycode sym;
    uint8_t vk;
};
// clang-format off
constexpr KeyRow key_map[] = {
    {SDLK_BACKSPACE, 8},   {SDLK_TAB, 9},         {SDLK_RETURN, 13},     {SDLK_KP_ENTER, 13},
    {SDLK_LSHIFT, 16},     {SDLK_RSHIFT, 16},     {SDLK_LCTRL, 17},      {SDLK_RCTRL, 17},
    {SDLK_LALT, 18},       {SDLK_RALT, 18},       {SDLK_PAUSE, 19},      {SDLK_CAPSLOCK, 20},
    {SDLK_ESCAPE, 27},     {SDLK_SPACE, 32},      {SDLK_PAGEUP, 33},     {SDLK_PAGEDOWN, 34},
    {SDLK_END, 35},        {SDLK_HOME, 36},       {SDLK_LEFT, 37},       {SDLK_UP, 38},
    {SDLK_RIGHT, 39},      {SDLK_DOWN, 40},       {SDLK_INSERT, 45},     {SDLK_DELETE, 46},
    {SDLK_F1, 112},        {SDLK_F2, 113},        {SDLK_F3, 114},        {SDLK_F4, 115},
    {SDLK_F5, 116},        {SDLK_F6, 117},        {SDLK_F7, 118},        {SDLK_F8, 119},
    {SDLK_F9, 120},        {SDLK_F10, 121},       {SDLK_F11, 122},       {SDLK_F12, 123},
    {SDLK_NUMLOCKCLEAR, 144}, {SDLK_SCROLLLOCK, 145},
};
// clang-format on

constexpr uint32_t vk_f4 = 115;
constexpr int wheel_delta = 120;   // one notch of the wheel, in the high word of wParam
constexpr int32_t event_title = 1; // user event codes
constexpr int32_t event_wake = 2;

struct SdlWindow {
    SDL_Window* window = nullptr; // null before creation and after WM_CLOSE destroyed it
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr; // the framebuffer's copy on the renderer's side
    int texture_width = 0;
    int texture_height = 0;
    uint32_t window_id = 0;
    uint32_t user_event = 0; // SDL event type of titles and wake-ups from other threads
    WindowProc proc = nullptr;
    std::thread::id main_thread;
    uintptr_t buttons = 0;       // MK_LBUTTON | MK_RBUTTON as the last mouse event left them
    std::deque<Message> pending; // main thread only: messages made from one event, waiting their turn

    std::mutex lock; // guards the members below, which other threads write
    std::deque<Message> posted;
    bool quit_posted = false;
    char title[256] = {}; // the latest title asked for
};
SdlWindow sdl;

bool on_main_thread() {
    return std::this_thread::get_id() == sdl.main_thread;
}

[[noreturn]] void no_window(const char* what) {
    // Started through pkexec, quilm runs as root on the user's display, which an X server refuses
    // to root unless told otherwise and a Wayland compositor refuses outright; Xvfb is no help there.
    if (std::getenv("PKEXEC_UID")) {
        std::fprintf(stderr,
                     "quilm: %s (%s); started by pkexec as root: allow root on your display with "
                     "'xhost +SI:localuser:root' and start it again, or use 'quilm list' and 'quilm apply', "
                     "which need no window\n",
                     what, SDL_GetError());
        std::exit(1);
    }
    std::fprintf(stderr,
                 "quilm: %s (%s); to run it without a screen use Xvfb: xvfb-run -a ./build/release/quilm, "
                 "or start Xvfb and set DISPLAY\n",
                 what, SDL_GetError());
    std::exit(1);
}

// The scale the window opens at, from QUILM_SCALE or else from the primary screen's density and
// height (a window opens there before it is moved anywhere).
int opening_scale(int height) {
    const char* asked = std::getenv("QUILM_SCALE");
    const ScaleSetting setting = scale_setting(asked);
    if (setting == ScaleSetting::invalid)
        std::fprintf(stderr, "quilm: QUILM_SCALE=%s is neither 1 nor 2: the screen decides the size\n",
                     asked);
    float dpi = 0;
    if (SDL_GetDisplayDPI(0, &dpi, nullptr, nullptr) != 0) dpi = 0;
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) mode.h = 0;
    return window_scale(setting, dpi, height, mode.h);
}

// False when SDL found no display and fell back to a driver that shows nothing, which it does
// silently; such a driver counts only when it was asked for by name (SDL_VIDEODRIVER).
bool shows_window() {
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (asked && *asked) return true;
    const char* driver = SDL_GetCurrentVideoDriver();
    for (const char* invisible : {"offscreen", "dummy", "evdev"})
        if (driver && std::strcmp(driver, invisible) == 0) return false;
    return true;
}

// Wakes the main thread out of SDL_WaitEvent; code says why.
void push_user_event(int32_t code) {
    SDL_Event event{};
    event.type = sdl.user_event;
    event.user.code = code;
    SDL_PushEvent(&event);
}

void queue(uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0) {
    sdl.pending.push_back({message, wparam, lparam});
}

// MK_ flags of mouse messages: the buttons held, with Shift and Control.
uintptr_t mouse_keys() {
    const SDL_Keymod mod = SDL_GetModState();
    uintptr_t keys = sdl.buttons;
    if (mod & KMOD_SHIFT) keys |= tk::MK_SHIFT;
    if (mod & KMOD_CTRL) keys |= tk::MK_CONTROL;
    return keys;
}

uintptr_t button_flag(uint8_t button) {
    if (button == SDL_BUTTON_LEFT) return tk::MK_LBUTTON;
    if (button == SDL_BUTTON_RIGHT) return tk::MK_RBUTTON;
    return 0;
}

// The virtual-key code of a key, 0 for keys this window does not report. Letters and digits
// come from the layout, or from the key's position when the layout types something else there.
uint32_t virtual_key(const SDL_Keysym& key) {
    if (key.sym >= SDLK_a && key.sym <= SDLK_z) return uint32_t(key.sym - SDLK_a) + 'A';
    if (key.sym >= SDLK_0 && key.sym <= SDLK_9) return uint32_t(key.sym);
    for (const KeyRow& row : key_map)
        if (row.sym == key.sym) return row.vk;
    if (key.scancode >= SDL_SCANCODE_A && key.scancode <= SDL_SCANCODE_Z)
        return uint32_t(key.scancode - SDL_SCANCODE_A) + 'A';
    if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9)
        return uint32_t(key.scancode - SDL_SCANCODE_1) + '1';
    if (key.scancode == SDL_SCANCODE_0) return '0';
    return 0;
}

void translate_key(const SDL_KeyboardEvent& key) {
    const uint32_t vk = virtual_key(key.keysym);
    if (vk == 0) return;
    const bool down = key.type == SDL_KEYDOWN;
    // As on Windows: Alt itself, and any key while Alt (without Control) is held, is a system key.
    const bool control = (key.keysym.mod & KMOD_CTRL) != 0;
    const bool system = !control && (vk == tk::VK_MENU || (key.keysym.mod & KMOD_ALT) != 0);
    const uint32_t message =
        system ? (down ? tk::WM_SYSKEYDOWN : tk::WM_SYSKEYUP) : (down ? tk::WM_KEYDOWN : tk::WM_KEYUP);
    queue(message, vk);
    // The keys that type a control character also give a WM_CHAR, as a translated Windows message does.
    const bool types_control =
        vk == tk::VK_BACK || vk == tk::VK_TAB || vk == tk::VK_RETURN || vk == tk::VK_ESCAPE;
    if (down && !system && types_control) queue(tk::WM_CHAR, vk);
}

// One WM_CHAR per character of UTF-8 text; characters beyond Latin-1 have no single-byte code and are left
// out.
void translate_text(const char* text) {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p;) {
        uint32_t c = *p++;
        if ((c & 0xC0) == 0x80) continue; // a continuation byte without its lead byte
        int more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) c &= 0x3Fu >> more;
        for (; more > 0 && (*p & 0xC0) == 0x80; --more) c = c << 6 | (*p++ & 0x3F);
        if (more == 0 && c < 256) queue(tk::WM_CHAR, c);
    }
}

// SDL reports the pointer crossing an edge, in either direction and also while it is outside,
// as moves clamped onto the window's border. A window that does not capture the mouse sees no
// moves outside, so a move on the border counts only while the pointer really is inside.
bool move_inside(int x, int y) {
    if (!sdl.window) return false;
    int width = 0, height = 0;
    SDL_GetWindowSize(sdl.window, &width, &height);
    if (x > 0 && y > 0 && x < width - 1 && y < height - 1) return true;
    int pointer_x = 0, pointer_y = 0, left = 0, top = 0;
    SDL_GetGlobalMouseState(&pointer_x, &pointer_y);
    SDL_GetWindowPosition(sdl.window, &left, &top);
    return pointer_x >= left && pointer_y >= top && pointer_x < left + width && pointer_y < top + height;
}

void apply_title() {
    char title[sizeof sdl.title];
    {
        std::lock_guard<std::mutex> guard(sdl.lock);
        std::memcpy(title, sdl.title, sizeof title);
    }
    if (sdl.window) SDL_SetWindowTitle(sdl.window, title);
}

// Turns one SDL event into the messages it stands for, appended to sdl.pending.
void translate(const SDL_Event& event) {
    switch (event.type) {
    case SDL_WINDOWEVENT:
        if (event.window.windowID != sdl.window_id) return;
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) queue(tk::WM_PAINT);
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) queue(tk::WM_CLOSE);
        return;
    case SDL_QUIT: // a signal asked the program to end; treat it as the close box
        if (sdl.window) queue(tk::WM_CLOSE);
        return;
    case SDL_MOUSEMOTION:
        if (event.motion.windowID != sdl.window_id) return;
        sdl.buttons = ((event.motion.state & SDL_BUTTON_LMASK) ? tk::MK_LBUTTON : 0) |
                      ((event.motion.state & SDL_BUTTON_RMASK) ? tk::MK_RBUTTON : 0);
        if (!move_inside(event.motion.x, event.motion.y)) return;
        queue(tk::WM_MOUSEMOVE, mouse_keys(),
              tk::make_lparam(uint32_t(event.motion.x), uint32_t(event.motion.y)));
        return;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const uintptr_t flag = button_flag(event.button.button);
        if (flag == 0) return;
        const bool down = event.type == SDL_MOUSEBUTTONDOWN;
        sdl.buttons = down ? (sdl.buttons | flag) : (sdl.buttons & ~flag);
        // A release with the pointer outside the window is not reported, as for a window that does
        // not capture the mouse: the next move inside carries the buttons without it.
        if (event.button.windowID != sdl.window_id) return;
        const uint32_t message = flag == tk::MK_LBUTTON ? (down ? tk::WM_LBUTTONDOWN : tk::WM_LBUTTONUP)
                                                        : (down ? tk::WM_RBUTTONDOWN : tk::WM_RBUTTONUP);
        queue(message, mouse_keys(), tk::make_lparam(uint32_t(event.button.x), uint32_t(event.button.y)));
        return;
    }
    case SDL_MOUSEWHEEL: {
        if (event.wheel.windowID != sdl.window_id) return;
        float notches = event.wheel.preciseY;
        if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) notches = -notches;
        // Windows carries the delta as a signed 16-bit number; a wild reading must not overflow it.
        const auto delta = static_cast<int16_t>(std::clamp(notches * wheel_delta, -32768.0f, 32767.0f));
        if (delta == 0) return;
        const uintptr_t wparam = uintptr_t(uint16_t(delta)) << 16 | mouse_keys();
        queue(tk::WM_MOUSEWHEEL, wparam,
              tk::make_lparam(uint32_t(event.wheel.mouseX), uint32_t(event.wheel.mouseY)));
        return;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        if (event.key.windowID == sdl.window_id) translate_key(event.key);
        return;
    case SDL_TEXTINPUT: {
        // Characters typed with Alt held are system keys on Windows, not WM_CHAR.
        const SDL_Keymod mod = SDL_GetModState();
        const bool system = (mod & KMOD_ALT) && !(mod & KMOD_CTRL);
        if (event.text.windowID == sdl.window_id && !system) translate_text(event.text.text);
        return;
    }
    default:
        if (event.type == sdl.user_event && event.user.code == event_title) apply_title();
        return;
    }
}

// Brings the renderer's texture to the framebuffer's size.
bool ensure_texture(int width, int height) {
    if (sdl.texture && sdl.texture_width == width && sdl.texture_height == height) return true;
    if (sdl.texture) SDL_DestroyTexture(sdl.texture);
    sdl.texture =
        SDL_CreateTexture(sdl.renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
    sdl.texture_width = sdl.texture ? width : 0;
    sdl.texture_height = sdl.texture ? height : 0;
    return sdl.texture != nullptr;
}

} // namespace

void window_create(WindowProc proc, const char* title, int width, int height, bool resizable) {
    // The window keeps the size the program gives it; the user cannot resize it, so a
    // resizable window is not offered here.
    (void)resizable;
    // Without capture, a release outside the window is noticed at the next move over it.
    SDL_SetHint(SDL_HINT_MOUSE_AUTO_CAPTURE, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    // Without a display named in the environment SDL would only try its way through the drivers
    // (with their own complaints) to one that shows nothing; the screen of the console can still
    // be chosen by name with SDL_VIDEODRIVER.
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("SDL_VIDEODRIVER")) {
        SDL_SetError("DISPLAY is not set");
        no_window("no display to show the window on");
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) no_window("no display to show the window on");
    if (!shows_window()) {
        SDL_SetError("no screen, only the %s video driver", SDL_GetCurrentVideoDriver());
        no_window("no display to show the window on");
    }

    sdl.proc = proc;
    sdl.main_thread = std::this_thread::get_id();
    sdl.user_event = SDL_RegisterEvents(1);
    {
        std::lock_guard<std::mutex> guard(sdl.lock);
        std::snprintf(sdl.title, sizeof sdl.title, "%s", title ? title : "");
    }
    // The toolkit has just set its scale to 1:1, not knowing the screen; the backend does. At scale 1
    // the toolkit halves mouse positions and window_paint doubles every pixel, so the doubled window
    // shows the 1:1 picture enlarged. The requested scale matches, so that input does not undo it.
    const int scale = opening_scale(height);
    tk::window.scale = tk::window.requested_scale = static_cast<uint8_t>(scale);
    sdl.window = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, width << scale,
                                  height << scale, SDL_WINDOW_SHOWN);
    if (!sdl.window) no_window("couldn't open a window");
    sdl.window_id = SDL_GetWindowID(sdl.window);
    // The software renderer copies rows one by one and so takes the framebuffer's bottom-up rows
    // as they are, by a negative pitch; a GPU renderer would not accept such a pitch.
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (!sdl.renderer) no_window("couldn't draw into the window");
    SDL_StartTextInput();
    if (proc) proc(tk::WM_CREATE, 0, 0);
}

void window_set_client_size(int width, int height) {
    if (sdl.window) SDL_SetWindowSize(sdl.window, width, height);
}

void window_client_size(int* width, int* height) {
    *width = *height = 0;
    if (sdl.window) SDL_GetWindowSize(sdl.window, width, height);
}

void window_paint(const uint32_t* pixels, int width, int height, int scale) {
    if (!sdl.window || !pixels || width <= 0 || height <= 0 || !ensure_texture(width, height)) return;
    // The first row in memory is the bottom line: start at the last row and step back one row at a time.
    const uint32_t* top_line = pixels + size_t(height - 1) * size_t(width);
    if (SDL_UpdateTexture(sdl.texture, nullptr, top_line, -4 * width) != 0) return;
    const SDL_Rect target{0, 0, width << scale, height << scale};
    SDL_RenderClear(sdl.renderer);
    SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, &target);
    SDL_RenderPresent(sdl.renderer);
}

void window_redraw_now() {
    if (sdl.window && sdl.proc) sdl.proc(tk::WM_PAINT, 0, 0);
}

int window_message_box(const char* text, const char* caption) {
    if (SDL_ShowSimpleMessageBox(0, caption, text, sdl.window) == 0) return 1; // IDOK
    // No box could be shown: the message still reaches the user.
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return 0;
}

void window_set_title(const char* title) {
    {
        std::lock_guard<std::mutex> guard(sdl.lock);
        std::snprintf(sdl.title, sizeof sdl.title, "%s", title ? title : "");
    }
    // The main thread applies the latest title whichever call stored it, so an older title still
    // announced in the event queue never overwrites a newer one.
    if (on_main_thread()) {
        apply_title();
    } else {
        push_user_event(event_title);
    }
}

bool window_get_message(Message* message) {
    for (;;) {
        if (!sdl.pending.empty()) {
            *message = sdl.pending.front();
            sdl.pending.pop_front();
            return true;
        }
        {
            std::lock_guard<std::mutex> guard(sdl.lock);
            if (!sdl.posted.empty()) {
                *message = sdl.posted.front();
                sdl.posted.pop_front();
                return true;
            }
            if (sdl.quit_posted) {
                sdl.quit_posted = false;
                return false;
            }
        }
        SDL_Event event;
        if (!SDL_WaitEvent(&event)) return false;
        translate(event);
    }
}

intptr_t window_dispatch(const Message& message) {
    return sdl.proc ? sdl.proc(message.message, message.wparam, message.lparam) : 0;
}

intptr_t window_default_proc(uint32_t message, uintptr_t wparam, intptr_t) {
    // Alt+F4 asks the window to close, as the system menu's Close does.
    if (message == tk::WM_SYSKEYDOWN && wparam == vk_f4 && sdl.proc) return sdl.proc(tk::WM_CLOSE, 0, 0);
    if (message == tk::WM_CLOSE && sdl.window) {
        SDL_DestroyTexture(sdl.texture);
        SDL_DestroyRenderer(sdl.renderer);
        SDL_DestroyWindow(sdl.window);
        sdl.texture = nullptr;
        sdl.texture_width = sdl.texture_height = 0;
        sdl.renderer = nullptr;
        sdl.window = nullptr;
        sdl.pending.clear(); // input meant for the window that is gone
        if (sdl.proc) sdl.proc(tk::WM_DESTROY, 0, 0);
    }
    return 0;
}

void window_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    {
        std::lock_guard<std::mutex> guard(sdl.lock);
        sdl.posted.push_back({message, wparam, lparam});
    }
    if (!on_main_thread()) push_user_event(event_wake);
}

void window_post_quit(int) {
    std::lock_guard<std::mutex> guard(sdl.lock);
    sdl.quit_posted = true;
}

} // namespace platform
