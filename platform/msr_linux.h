// Model-specific register access through the Linux msr driver (/dev/cpu/N/msr).
// The driver reaches the devices only through an MsrDevice table of operations,
// so its logic can run against a fake set of processors.
#pragma once
#include <cstdint>

#include "platform/msr_guard.h"

namespace platform {

// The device operations the driver uses. Errors come back as positive errno values.
struct MsrDevice {
    int (*open)(uint32_t processor);                      // descriptor >= 0, or -errno
    int (*read)(int fd, uint32_t index, uint64_t* value); // 0, or errno
    int (*write)(int fd, uint32_t index, uint64_t value); // 0, or errno
    void (*close)(int fd);
    int (*current_processor)();    // processor the calling thread runs on, -1 if unknown
    uint32_t (*processor_count)(); // online processors
};

// The real devices: /dev/cpu/N/msr with 8-byte pread and pwrite at offset = register.
extern const MsrDevice msr_system_device;

// Processors opened at most; beyond them none can be named, and hw_processor_count says so.
constexpr uint32_t msr_max_processors = 1024;

struct MsrState {
    const MsrDevice* device = &msr_system_device;
    uint32_t processor_count = 0; // processors opened by msr_initialize, 0 when closed
    uint32_t named = 0;           // processors open without a gap from processor 0
    int fd[msr_max_processors];   // descriptor per processor, -1 when its open failed
    uint32_t status = 1;          // GetDllStatus: 0 all devices open, 1 otherwise
};

extern MsrState msr;

// Closes every open device and forgets all state, keeping the installed device table.
void msr_reset();

// Opens every online processor's device; non-zero when processor 0's device is open.
int msr_initialize();

// 0 when every processor's device is open for reading and writing.
uint32_t msr_status();

// Reads a register on the processor the calling thread runs on; non-zero on success.
int msr_read(uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a register on every processor named in the mask; non-zero when all were written.
int msr_write(uint32_t index, uint32_t eax, uint32_t edx, uintptr_t mask);

// Processors whose devices are all open, counted from processor 0 up to the first that is not.
uint32_t msr_processor_count();

// Reads a register on the named processor; non-zero on success.
int msr_read_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a register on the named processor only; non-zero on success.
int msr_write_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx);

// Closes every device.
void msr_deinitialize();

} // namespace platform
