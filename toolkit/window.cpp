// The toolkit's window: the framebuffer every drawing routine writes into, the
// window procedure that routes each message (paint, destroy, user message, or
// input followed by a synchronous repaint), and the message loop.
#include "toolkit/window.h"

#include <new>

#include "platform/os.h"
#include "platform/window.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"

namespace tk {

WindowState window;

namespace {

constexpr uint32_t minimum_size = 32; // smallest framebuffer side after a resize, in pixels
constexpr uint8_t largest_scale = 1;  // the buffer is shown 1:1 or at double size, nothing else

// The block allocate_framebuffer owns. window.fb.pixels normally points at it, but a
// caller may install pixels of its own there, so the block is remembered apart.
uint32_t* framebuffer_block = nullptr;

// Stores the framebuffer size and keeps the bitmap header describing it.
void set_size(uint32_t width, uint32_t height) {
    window.fb.width = static_cast<uint16_t>(width);
    window.fb.height = static_cast<uint16_t>(height);
    window.header.width = window.fb.width;
    window.header.height = window.fb.height;
}

// A resizable window changed size: the buffer takes the new client area (at the
// current scale), never less than 32 x 32, and everything is drawn anew.
void resize_framebuffer() {
    int client_width = 0;
    int client_height = 0;
    platform::window_client_size(&client_width, &client_height);
    uint32_t width = (static_cast<uint32_t>(client_width) >> window.scale) & 0xFFFF;
    uint32_t height = (static_cast<uint32_t>(client_height) >> window.scale) & 0xFFFF;
    if (width < minimum_size) width = minimum_size;
    if (height < minimum_size) height = minimum_size;
    set_size(width, height);
    allocate_framebuffer();
    if (window.hooks.layout) window.hooks.layout();
    redraw_all();
    window.dirty = 0;
    platform::window_redraw_now();
}

} // namespace

int create_window(uint32_t options, uint32_t height, uint32_t width, const char* title) {
    set_size(width, height);
    window.scale = 0;
    window.requested_scale = 0;
    input.focus = -1;
    allocate_framebuffer();
    platform::window_create(window_procedure, title, window.fb.width, window.fb.height,
                            (options & OPTION_RESIZABLE) != 0);
    // Stored only now: messages that arrive while the native window is made are handled as for
    // options 0. OPTION_CONSOLE is kept in the byte but opens nothing, as nothing writes to a console.
    window.options = static_cast<uint8_t>(options);
    input.pressed_widget = -1;
    return 0;
}

void allocate_framebuffer() {
    const uint64_t bytes = uint64_t{window.fb.width} * window.fb.height * 4;
    delete[] framebuffer_block;
    framebuffer_block = nullptr;
    window.fb.pixels = nullptr;
    // The header carries the size in 32 bits; a buffer it cannot describe is treated as one
    // that cannot be had, rather than allocating a wrapped-around, too small block.
    if (bytes > UINT32_MAX) platform::os_exit_process(0);
    window.header.size_image = static_cast<uint32_t>(bytes);
    // Cleared, so that a paint before the first drawing shows black rather than stale memory.
    framebuffer_block = new (std::nothrow) uint32_t[bytes / 4]();
    if (!framebuffer_block) platform::os_exit_process(0);
    window.fb.pixels = framebuffer_block;
}

intptr_t window_procedure(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    switch (message) {
    case WM_USER:
        if (window.user_message_hook_enabled && window.hooks.user_message) window.hooks.user_message();
        return 0;
    case WM_PAINT:
        platform::window_paint(window.fb.pixels, window.fb.width, window.fb.height, window.scale);
        return 0;
    case WM_CREATE: return 0;
    case WM_DESTROY: platform::window_post_quit(0); return 0;
    case WM_SIZE:
        if (window.options & OPTION_RESIZABLE) {
            resize_framebuffer();
            return 0;
        }
        break;
    default: break;
    }

    // Mouse messages carry the client position in lParam: x in the low word, y in the high
    // word, both unsigned. Every message is converted; handle_input uses it for the mouse only.
    const auto position = static_cast<uint32_t>(lparam);
    const auto x = static_cast<int32_t>((position & 0xFFFF) >> window.scale);
    const auto y = static_cast<int32_t>(position >> (16 + window.scale));
    handle_input(y, x, wparam, message);

    if (window.requested_scale > largest_scale) window.requested_scale = largest_scale;
    if (window.requested_scale != window.scale) {
        window.scale = window.requested_scale;
        window.dirty = 1;
        platform::window_set_client_size(window.fb.width << window.scale, window.fb.height << window.scale);
    }
    if (window.dirty) {
        if (window.before_present_hook_enabled && window.hooks.before_present) window.hooks.before_present();
        window.dirty = 0;
        platform::window_redraw_now();
        return 0; // the message was answered by drawing; the system's default does not see it
    }
    return platform::window_default_proc(message, wparam, lparam);
}

void message_loop() {
    platform::Message message{};
    while (platform::window_get_message(&message)) platform::window_dispatch(message);
}

void present() {
    platform::window_redraw_now();
    // The window now shows everything drawn so far. Left set, the flag would make the next
    // message, whatever it is, look as if it had drawn, and keep it from the system.
    window.dirty = 0;
}

int show_message(const char* text, const char* caption) {
    return platform::window_message_box(text, caption);
}

void set_title(const char* title) {
    platform::window_set_title(title);
}

void reset_window() {
    // The block itself stays allocated until the next allocate_framebuffer, so that a picture
    // someone still holds is never freed under them.
    window = WindowState{};
}

} // namespace tk
