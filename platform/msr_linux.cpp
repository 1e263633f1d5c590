// Model-specific registers through the Linux msr driver. Every processor's device
// is opened once for the session; a register is read or written with one 8-byte
// pread or pwrite at the offset equal to its number. Failures are told on stderr
// with what to do about them, each reason once, and returned to the caller.

// Register numbers such as 0xC0010064 are offsets above 2 GiB.
#define _FILE_OFFSET_BITS 64

#include "platform/msr_linux.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace platform {

namespace {

int system_open(uint32_t processor) {
    char path[32];
    std::snprintf(path, sizeof path, "/dev/cpu/%u/msr", processor);
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    return fd >= 0 ? fd : -errno;
}

// A transfer shorter than the register is the driver refusing it.
int system_read(int fd, uint32_t index, uint64_t* value) {
    ssize_t n = ::pread(fd, value, sizeof *value, off_t(index));
    return n == ssize_t(sizeof *value) ? 0 : n < 0 ? errno : EIO;
}

int system_write(int fd, uint32_t index, uint64_t value) {
    ssize_t n = ::pwrite(fd, &value, sizeof value, off_t(index));
    return n == ssize_t(sizeof value) ? 0 : n < 0 ? errno : EIO;
}

void system_close(int fd) {
    ::close(fd);
}

int system_current_processor() {
    return ::sched_getcpu();
}

uint32_t system_processor_count() {
    long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? uint32_t(n) : 1;
}

void report_open_failure(uint32_t processor, int error) {
    MsrReason reason;
    const char* why;
    switch (error) {
    case ENOENT:
    case ENXIO:
        reason = reason_open_missing;
        why = "no such processor, or the msr module is not loaded (run: modprobe msr)";
        break;
    case EACCES:
        reason = reason_open_denied;
        why = "permission denied (run as root)";
        break;
    case EPERM:
        reason = reason_open_privilege;
        why = "not permitted: register access needs CAP_SYS_RAWIO (run as root)";
        break;
    case EIO:
        reason = reason_open_unsupported;
        why = "this processor has no model-specific registers";
        break;
    default: reason = reason_open_other; why = std::strerror(error);
    }
    if (msr_first_report(reason))
        std::fprintf(stderr, "quilm: cannot open /dev/cpu/%u/msr: %s\n", processor, why);
}

// Tells a write the driver refused with errno `error`.
void report_write_failure(uint32_t index, uint32_t processor, int error) {
    switch (error) {
    case ENOENT:
    case ENXIO: msr_report_write(reason_write_missing, processor, index); break;
    case EPERM: msr_report_write(reason_write_locked, processor, index); break;
    case EIO: msr_report_write(reason_write_register, processor, index); break;
    default: msr_report_write(reason_write_other, processor, index, std::strerror(error));
    }
}

// Reads a register of an opened processor for the write guard.
int read_opened(uint32_t p, uint32_t index, uint64_t* value) {
    return p < msr.processor_count && msr.fd[p] >= 0 && msr.device->read(msr.fd[p], index, value) == 0;
}

void close_all() {
    for (uint32_t p = 0; p < msr.processor_count; ++p)
        if (msr.fd[p] >= 0) msr.device->close(msr.fd[p]);
    msr.processor_count = 0;
    msr.named = 0;
    msr.status = 1;
}

// Writes one processor's register when the guard allows it; a refusal is told on stderr.
bool write_one(uint32_t p, uint32_t index, uint64_t value) {
    if (p >= msr.processor_count || msr.fd[p] < 0) {
        report_write_failure(index, p, ENXIO);
        return false;
    }
    if (!msr_write_allowed(p, index, value, read_opened)) return false;
    const int error = msr.device->write(msr.fd[p], index, value);
    if (error != 0) report_write_failure(index, p, error);
    return error == 0;
}

} // namespace

const MsrDevice msr_system_device = {
    system_open, system_read, system_write, system_close, system_current_processor, system_processor_count};

MsrState msr;

void msr_reset() {
    close_all();
    msr_guard.reported = 0;
}

int msr_initialize() {
    close_all();
    uint32_t count = msr.device->processor_count();
    if (count == 0) count = 1;
    if (count > msr_max_processors) count = msr_max_processors;
    int fd = msr.device->open(0);
    if (fd < 0) {
        report_open_failure(0, -fd);
        return 0;
    }
    msr.fd[0] = fd;
    msr.status = 0;
    for (uint32_t p = 1; p < count; ++p) {
        fd = msr.device->open(p);
        msr.fd[p] = fd >= 0 ? fd : -1;
        if (fd >= 0) continue;
        report_open_failure(p, -fd);
        msr.status = 1;
    }
    msr.processor_count = count;
    while (msr.named < count && msr.fd[msr.named] >= 0) ++msr.named;
    return 1;
}

uint32_t msr_status() {
    return msr.status;
}

int msr_read(uint32_t index, uint32_t* eax, uint32_t* edx) {
    if (msr.processor_count == 0) return 0;
    // A processor beyond the opened ones (an offline gap in the numbering) reads as processor 0.
    int current = msr.device->current_processor();
    uint32_t p =
        current >= 0 && uint32_t(current) < msr.processor_count && msr.fd[current] >= 0 ? current : 0;
    uint64_t value;
    if (msr.device->read(msr.fd[p], index, &value) != 0) return 0;
    *eax = uint32_t(value);
    *edx = uint32_t(value >> 32);
    return 1;
}

int msr_write(uint32_t index, uint32_t eax, uint32_t edx, uintptr_t mask) {
    if (msr.processor_count == 0 || mask == 0) return 0;
    uint64_t value = uint64_t(edx) << 32 | eax;
    int written_all = 1;
    for (uint32_t p = 0; p < 8 * sizeof mask; ++p)
        if (mask >> p & 1 && !write_one(p, index, value)) written_all = 0;
    return written_all;
}

uint32_t msr_processor_count() {
    return msr.named;
}

int msr_read_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx) {
    if (processor >= msr.processor_count || msr.fd[processor] < 0) return 0;
    uint64_t value;
    if (msr.device->read(msr.fd[processor], index, &value) != 0) return 0;
    *eax = uint32_t(value);
    *edx = uint32_t(value >> 32);
    return 1;
}

int msr_write_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx) {
    if (msr.processor_count == 0) return 0;
    return write_one(processor, index, uint64_t(edx) << 32 | eax) ? 1 : 0;
}

void msr_deinitialize() {
    close_all();
}

} // namespace platform
