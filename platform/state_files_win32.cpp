// Crash-guard services on Windows: there is no unit that applies settings unattended here, so the
// guard is not available and every service refuses.
#include <cstdio>

#include "platform/state_files.h"

namespace platform {

bool state_supported() {
    return false;
}

StateRead state_read(const char*, void*, uint32_t, uint32_t* length) {
    *length = 0;
    return StateRead::unreadable;
}

FileResult state_write(const char*, const void*, uint32_t) {
    return FileResult::cannot_open;
}

bool state_remove(const char*) {
    return false;
}

bool state_clocks(uint64_t* awake_ms, uint64_t* since_boot_ms) {
    *awake_ms = *since_boot_ms = 0;
    return false;
}

int64_t state_wall_seconds() {
    return 0;
}

void state_local_time(int64_t seconds, char* text, size_t size) {
    std::snprintf(text, size, "%lld", static_cast<long long>(seconds));
}

} // namespace platform
