// Whole-file access on POSIX systems.
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

FileResult file_read(const char* path, void* buffer, uint32_t size, uint32_t* length) {
    *length = 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FileResult::cannot_open;
    auto* out = static_cast<char*>(buffer);
    FileResult result = FileResult::ok;
    while (*length < size) {
        ssize_t n = read(fd, out + *length, size - *length);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = FileResult::read_error;
        if (n <= 0) break;
        *length += static_cast<uint32_t>(n);
    }
    close(fd);
    return result;
}

FileResult file_replace(const char* path, const void* data, uint32_t size) {
    char temporary[4200];
    int written = std::snprintf(temporary, sizeof temporary, "%s.%ld.tmp", path, static_cast<long>(getpid()));
    if (written < 0 || static_cast<size_t>(written) >= sizeof temporary) return FileResult::cannot_open;

    // O_EXCL with O_NOFOLLOW: never write through anything already lying at the temporary name.
    int fd = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return FileResult::cannot_open;
    const auto* in = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, in + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    bool complete = done == size && fsync(fd) == 0;
    complete = close(fd) == 0 && complete;
    if (!complete || rename(temporary, path) != 0) {
        unlink(temporary);
        return complete ? FileResult::cannot_open : FileResult::short_write;
    }
    return FileResult::ok;
}

} // namespace platform
