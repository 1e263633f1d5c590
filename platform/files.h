// Whole-file access for the settings file.
#pragma once
#include <cstdint>

namespace platform {

enum class FileResult : uint8_t {
    ok,
    cannot_open, // missing, unreadable, or (for writing) the directory refuses a new file
    short_write, // the data could not be written in full (disk full); the old file is untouched
    read_error,  // the file opened, but reading it failed (an I/O error, a directory)
};

// Reads up to size bytes from the start of the file; *length receives the count read. A file
// shorter than size is ok; a failed read is read_error, whatever came before it.
FileResult file_read(const char* path, void* buffer, uint32_t size, uint32_t* length);

// Replaces the file by the bytes as a whole: written beside it, then renamed over it, so a
// failure leaves the old file, and a link planted at the path is replaced, never followed.
FileResult file_replace(const char* path, const void* data, uint32_t size);

} // namespace platform
