// The headless window: no display at all. It keeps in memory what a real window
// would have shown (the last painted picture, the titles, the message boxes) and
// lets a test inject messages, so that the toolkit's window logic runs unchanged.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/window.h"

namespace platform {

struct MessageBoxRecord {
    std::string text;
    std::string caption;
};

struct HeadlessWindow {
    WindowProc proc = nullptr; // the procedure given to window_create
    bool created = false;
    bool resizable = false;
    bool destroyed = false; // WM_CLOSE reached the default procedure
    int client_width = 0;   // pixels; a test may change them before sending WM_SIZE
    int client_height = 0;

    // The last painted picture, copied bottom-up exactly as window_paint received it.
    std::vector<uint32_t> frame;
    int frame_width = 0;
    int frame_height = 0;
    int frame_scale = 0;
    uint32_t paint_count = 0;

    std::vector<Message> defaulted; // messages that reached window_default_proc, in order
    intptr_t default_result = 0;    // what window_default_proc answers

    std::deque<Message> queue; // posted messages waiting for window_get_message
    bool quit_posted = false;
    int quit_code = 0;

    std::vector<MessageBoxRecord> message_boxes; // in the order they were shown
    std::vector<std::string> titles; // creation title first; guarded by a lock, read with headless_titles
};
extern HeadlessWindow headless;

// Forgets everything: no window, nothing painted, empty queue.
void headless_reset();

// Every title the window has had, the creation title first (safe while other threads set titles).
std::vector<std::string> headless_titles();

// Hands a message to the window procedure now, as a system would for a sent message.
intptr_t headless_send(uint32_t message, uintptr_t wparam = 0, intptr_t lparam = 0);

// Pixel (x, y) of the last painted picture, y counted from the top.
uint32_t headless_pixel(int x, int y);

} // namespace platform
