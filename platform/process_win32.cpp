// Child programs and the rest of what `quilm test` needs, on Windows: not
// available here. The load program it drives runs on Linux only, so every
// operation says no and the word tells the user so.
#include "platform/process.h"

namespace platform {

bool process_supported() {
    return false;
}

bool process_find(const char*, char*, size_t) {
    return false;
}

int64_t process_start(const char* const*, const char*) {
    return -1;
}

ProcessEnd process_poll(int64_t, int* code) {
    *code = -1;
    return ProcessEnd::exited;
}

void process_stop(int64_t) {}

void interrupt_catch() {}

bool interrupt_requested() {
    return false;
}

bool scratch_make(char*, size_t) {
    return false;
}

void scratch_remove(const char*) {}

int kernel_log_open(const char*) {
    return -1;
}

size_t kernel_log_read(int, char* buffer, size_t size) {
    if (size > 0) buffer[0] = 0;
    return 0;
}

void kernel_log_close(int) {}

bool test_mark_take(const char*) {
    return false;
}

void test_mark_release() {}

bool test_mark_held(const char*) {
    return false;
}

} // namespace platform
