// The headless window backend: everything a window shows or is told is kept in
// memory for tests. window_get_message never waits: it answers false as soon as
// the queue is empty, so a message loop in a test always ends.
#include "platform/window_headless.h"

#include <mutex>

#include "toolkit/messages.h"

namespace platform {

HeadlessWindow headless;

namespace {
std::mutex title_lock; // titles and posted messages may arrive from any thread
} // namespace

void headless_reset() {
    std::lock_guard<std::mutex> guard(title_lock);
    headless = HeadlessWindow{};
}

std::vector<std::string> headless_titles() {
    std::lock_guard<std::mutex> guard(title_lock);
    return headless.titles;
}

intptr_t headless_send(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return window_dispatch({message, wparam, lparam});
}

uint32_t headless_pixel(int x, int y) {
    // at() so that a test asking outside the picture fails instead of reading stray memory.
    return headless.frame.at(size_t(headless.frame_height - 1 - y) * size_t(headless.frame_width) +
                             size_t(x));
}

void window_create(WindowProc proc, const char* title, int width, int height, bool resizable) {
    headless.proc = proc;
    headless.created = true;
    headless.resizable = resizable;
    headless.destroyed = false;
    headless.client_width = width;
    headless.client_height = height;
    {
        std::lock_guard<std::mutex> guard(title_lock);
        headless.titles.emplace_back(title ? title : "");
    }
    if (proc) proc(tk::WM_CREATE, 0, 0);
}

void window_set_client_size(int width, int height) {
    headless.client_width = width;
    headless.client_height = height;
}

void window_client_size(int* width, int* height) {
    *width = headless.client_width;
    *height = headless.client_height;
}

void window_paint(const uint32_t* pixels, int width, int height, int scale) {
    const size_t count = size_t(width > 0 ? width : 0) * size_t(height > 0 ? height : 0);
    if (pixels) {
        headless.frame.assign(pixels, pixels + count);
    } else {
        headless.frame.clear();
    }
    headless.frame_width = width;
    headless.frame_height = height;
    headless.frame_scale = scale;
    ++headless.paint_count;
}

void window_redraw_now() {
    // A destroyed window has nothing left to paint.
    if (headless.proc && !headless.destroyed) headless.proc(tk::WM_PAINT, 0, 0);
}

int window_message_box(const char* text, const char* caption) {
    headless.message_boxes.push_back({text ? text : "", caption ? caption : ""});
    return 1; // IDOK: the box was closed with its only button
}

void window_set_title(const char* title) {
    std::lock_guard<std::mutex> guard(title_lock);
    headless.titles.emplace_back(title ? title : "");
}

bool window_get_message(Message* message) {
    // Posted messages come first; once none is left the loop ends, whether or not a quit was posted.
    std::lock_guard<std::mutex> guard(title_lock);
    if (headless.queue.empty()) return false;
    *message = headless.queue.front();
    headless.queue.pop_front();
    return true;
}

intptr_t window_dispatch(const Message& message) {
    return headless.proc ? headless.proc(message.message, message.wparam, message.lparam) : 0;
}

intptr_t window_default_proc(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    headless.defaulted.push_back({message, wparam, lparam});
    if (message == tk::WM_CLOSE && !headless.destroyed) {
        headless.destroyed = true;
        if (headless.proc) headless.proc(tk::WM_DESTROY, 0, 0);
    }
    return headless.default_result;
}

void window_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    std::lock_guard<std::mutex> guard(title_lock); // the load governor posts from its own thread
    headless.queue.push_back({message, wparam, lparam});
}

void window_post_quit(int code) {
    headless.quit_posted = true;
    headless.quit_code = code;
}

} // namespace platform
