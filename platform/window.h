// The native window behind the toolkit: one fixed top-level window whose client
// area shows the framebuffer. One backend file implements this header (SDL2,
// Win32 or headless); CMake picks it. Messages use the Win32 codes of
// toolkit/messages.h.
#pragma once
#include <cstdint>

namespace platform {

struct Message {
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

// The toolkit's window procedure; the backend hands it every message.
using WindowProc = intptr_t (*)(uint32_t message, uintptr_t wparam, intptr_t lparam);

// Creates and shows the window with a client area of exactly width x height.
void window_create(WindowProc proc, const char* title, int width, int height, bool resizable);

// Resizes the window so that its client area is width x height.
void window_set_client_size(int width, int height);

// Current client area size.
void window_client_size(int* width, int* height);

// Copies a bottom-up framebuffer to the client area (called while handling WM_PAINT);
// scale 1 shows every pixel as a 2x2 block.
void window_paint(const uint32_t* pixels, int width, int height, int scale);

// Repaints the whole client area now: the window procedure receives WM_PAINT
// before this returns.
void window_redraw_now();

// Modal message box with one OK button, owned by the window.
int window_message_box(const char* text, const char* caption);

// Sets the title; may be called from any thread, the window sees it on its own thread.
void window_set_title(const char* title);

// Waits for the next message; false once WM_QUIT has been taken.
bool window_get_message(Message* message);

// Hands a message to the window procedure.
intptr_t window_dispatch(const Message& message);

// What the system does with a message the toolkit leaves alone (WM_CLOSE destroys the window).
intptr_t window_default_proc(uint32_t message, uintptr_t wparam, intptr_t lparam);

// Queues a message for the window.
void window_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam);

// Makes window_get_message return false after the queued messages.
void window_post_quit(int code);

} // namespace platform
