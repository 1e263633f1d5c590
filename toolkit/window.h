// The toolkit's window: the framebuffer every drawing routine writes into, the
// window procedure that routes messages, the message loop, and the two services
// the application calls directly (present and show_message).
#pragma once
#include <cstdint>

namespace tk {

// BITMAPINFOHEADER as handed to the blit: 40 bytes, positive height (bottom-up rows).
struct BitmapHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t planes = 1;
    uint16_t bit_count = 32;
    uint32_t compression = 0; // BI_RGB
    uint32_t size_image = 0;  // width x height x 4
    int32_t x_pels_per_meter = 3780;
    int32_t y_pels_per_meter = 3780;
    uint32_t clr_used = 0;
    uint32_t clr_important = 0;
};
static_assert(sizeof(BitmapHeader) == 40);

// Pixels 0x00RRGGBB, bottom-up: (x, y) lies at index (height - 1 - y) * width + x.
struct Framebuffer {
    uint32_t* pixels = nullptr;
    uint16_t width = 0;
    uint16_t height = 0;
};

// Application routines the toolkit calls at fixed points; a null entry does nothing.
struct Hooks {
    void (*user_message)() = nullptr;   // WM_USER while user_message_hook_enabled
    void (*before_present)() = nullptr; // before a repaint caused by input, while enabled
    void (*layout)() = nullptr;         // after a resizable window's framebuffer was resized
    void (*canvas)(int32_t y, int32_t x, int32_t code, int32_t id) = nullptr; // code 0 press, 1 drag
    void (*wheel)(uintptr_t wparam) = nullptr;
    void (*key_released)(uint32_t key) = nullptr;
    void (*key)(uint32_t key) = nullptr; // key code, plus 256 for key-downs in character input
};

inline constexpr uint8_t OPTION_CONSOLE = 1;   // accepted and ignored: nothing writes to a console
inline constexpr uint8_t OPTION_KEEP_ESC = 2;  // Escape does not close the window
inline constexpr uint8_t OPTION_RESIZABLE = 4; // WM_SIZE resizes the framebuffer (minimum 32 x 32)

struct WindowState {
    Framebuffer fb;
    BitmapHeader header;
    uint8_t options = 0;
    uint8_t scale = 0;           // 0: framebuffer shown 1:1, 1: at double size
    uint8_t requested_scale = 0; // adopted after the next message that reaches handle_input
    uint8_t dirty = 0;           // set by all drawing, cleared by the repaint
    uint8_t user_message_hook_enabled = 0;
    uint8_t before_present_hook_enabled = 0;
    Hooks hooks;
};
extern WindowState window;

// Creates the window and its framebuffer (height before width, as stored); returns 0.
int create_window(uint32_t options, uint32_t height, uint32_t width, const char* title);

// (Re)allocates the framebuffer for the current width and height; ends the process silently when out of
// memory.
void allocate_framebuffer();

// Routes one message: paint, destroy, user message, or input followed by a synchronous repaint.
intptr_t window_procedure(uint32_t message, uintptr_t wparam, intptr_t lparam);

// Runs until the window has been destroyed.
void message_loop();

// Repaints the whole window now.
void present();

// Modal message box owned by the window.
int show_message(const char* text, const char* caption);

// Sets the window title; safe from any thread.
void set_title(const char* title);

// Forgets the window, framebuffer and hooks (tests start clean with this).
void reset_window();

} // namespace tk
