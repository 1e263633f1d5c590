// Whole-file access on Windows.
#include <windows.h>

#include "platform/files.h"

namespace platform {

FileResult file_read(const char* path, void* buffer, uint32_t size, uint32_t* length) {
    *length = 0;
    // Read access only, so that a read-only file loads; others may go on reading it meanwhile.
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileResult::cannot_open;
    auto* out = static_cast<char*>(buffer);
    FileResult result = FileResult::ok;
    while (*length < size) {
        DWORD n = 0;
        if (!ReadFile(file, out + *length, size - *length, &n, nullptr)) result = FileResult::read_error;
        if (result != FileResult::ok || n == 0) break;
        *length += n;
    }
    CloseHandle(file);
    return result;
}

FileResult file_replace(const char* path, const void* data, uint32_t size) {
    // The path, a dot, the process id in at most ten digits and ".tmp".
    char temporary[MAX_PATH + 16];
    if (lstrlenA(path) >= MAX_PATH) return FileResult::cannot_open;
    wsprintfA(temporary, "%s.%lu.tmp", path, GetCurrentProcessId());

    // CREATE_NEW with FILE_FLAG_OPEN_REPARSE_POINT: never write through anything already lying at
    // the temporary name, a link least of all.
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FileResult::cannot_open;
    const auto* in = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(file, in + done, size - done, &n, nullptr) || n == 0) break;
        done += n;
    }
    bool complete = done == size && FlushFileBuffers(file);
    complete = CloseHandle(file) && complete;
    // The rename replaces whatever lies at the path, a link included, and leaves its target alone.
    if (!complete || !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return complete ? FileResult::cannot_open : FileResult::short_write;
    }
    return FileResult::ok;
}

} // namespace platform
