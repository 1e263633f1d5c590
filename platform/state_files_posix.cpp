// Crash-guard services on POSIX systems: durable renames, CLOCK_MONOTONIC and CLOCK_BOOTTIME.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/state_files.h"

namespace platform {

namespace {

// The directory part of a path ("." for a bare name).
std::string directory_of(const char* path) {
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) return ".";
    if (slash == path) return "/";
    return std::string(path, size_t(slash - path));
}

// Syncs a directory so that the entries renamed or removed in it stay so after a crash.
bool sync_directory(const std::string& directory) {
    const int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = fsync(fd) == 0;
    close(fd);
    return synced;
}

uint64_t milliseconds(clockid_t clock) {
    timespec t{};
    if (clock_gettime(clock, &t) != 0) return UINT64_MAX;
    return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

} // namespace

bool state_supported() {
    return true;
}

StateRead state_read(const char* path, void* buffer, uint32_t size, uint32_t* length) {
    *length = 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    // A path through something that is not a directory names no file either.
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? StateRead::missing : StateRead::unreadable;
    auto* out = static_cast<char*>(buffer);
    bool failed = false;
    while (*length < size) {
        const ssize_t n = read(fd, out + *length, size - *length);
        if (n < 0 && errno == EINTR) continue;
        failed = n < 0;
        if (n <= 0) break;
        *length += uint32_t(n);
    }
    close(fd);
    return failed ? StateRead::unreadable : StateRead::ok;
}

FileResult state_write(const char* path, const void* data, uint32_t size) {
    const std::string directory = directory_of(path);
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) return FileResult::cannot_open;
    const FileResult result = file_replace(path, data, size);
    if (result != FileResult::ok) return result;
    return sync_directory(directory) ? FileResult::ok : FileResult::short_write;
}

bool state_remove(const char* path) {
    if (unlink(path) != 0) return errno == ENOENT;
    return sync_directory(directory_of(path));
}

bool state_clocks(uint64_t* awake_ms, uint64_t* since_boot_ms) {
    *awake_ms = milliseconds(CLOCK_MONOTONIC);
    *since_boot_ms = milliseconds(CLOCK_BOOTTIME);
    return *awake_ms != UINT64_MAX && *since_boot_ms != UINT64_MAX;
}

int64_t state_wall_seconds() {
    return int64_t(std::time(nullptr));
}

void state_local_time(int64_t seconds, char* text, size_t size) {
    const std::time_t t = std::time_t(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr || std::strftime(text, size, "%Y-%m-%d %H:%M", &local) == 0)
        std::snprintf(text, size, "%lld", static_cast<long long>(seconds));
}

} // namespace platform
