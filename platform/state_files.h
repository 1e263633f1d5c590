// Small state files that must survive a crash, and the clocks and kernel files that tell
// one boot from the next: the services of the crash guard of unattended applies.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace platform {

// Whether this system has what the crash guard needs (a boot identity, an awake-time clock).
bool state_supported();

enum class StateRead : uint8_t {
    ok,
    missing,    // no such file
    unreadable, // it exists but cannot be opened or read
};

// Reads up to size bytes of a file; *length receives the count read.
StateRead state_read(const char* path, void* buffer, uint32_t size, uint32_t* length);

// Replaces the file by the bytes as file_replace does, then makes the rename itself durable by
// syncing the directory. The directory is made (one level) when it does not exist yet.
FileResult state_write(const char* path, const void* data, uint32_t size);

// Removes the file and syncs its directory; true when the file is gone, also when it never existed.
bool state_remove(const char* path);

// Milliseconds since boot: awake (stops while suspended) and in all (suspended time included).
bool state_clocks(uint64_t* awake_ms, uint64_t* since_boot_ms);

// Seconds since 1970-01-01 00:00 UTC.
int64_t state_wall_seconds();

// The wall time as local "YYYY-MM-DD HH:MM".
void state_local_time(int64_t seconds, char* text, size_t size);

} // namespace platform
