// The registers quilm may write and how a refused write is told. Every hardware backend checks
// each write here before it reaches a processor, and tells each failure with the same line.
#pragma once
#include <atomic>
#include <cstdint>

namespace platform {

inline constexpr uint32_t msr_hwcr = 0xC0010015;                  // hardware configuration
inline constexpr uint64_t msr_lock_tsc_to_p0 = uint64_t(1) << 21; // HWCR LockTscToCurrentP0

// Why an open or a write failed; each reason is told once per session.
enum MsrReason : uint32_t {
    reason_open_missing,     // no such processor or no msr module
    reason_open_denied,      // device permissions
    reason_open_privilege,   // no CAP_SYS_RAWIO
    reason_open_unsupported, // processor without model-specific registers
    reason_open_other,       // anything else
    reason_write_missing,    // processor not in reach or without a device
    reason_write_locked,     // kernel lockdown or msr.allow_writes=off
    reason_write_register,   // register missing or value refused by the processor
    reason_write_forbidden,  // register outside the P-state set this program writes
    reason_write_hwcr,       // HWCR value that would change more than LockTscToCurrentP0
    reason_write_other,      // anything else
    reason_count
};

struct MsrGuardState {
    std::atomic<uint32_t> reported = 0; // bit per MsrReason already told
};
extern MsrGuardState msr_guard;

// Writes one line where the user of this backend reads its complaints (stderr where there is one).
void hw_say(const char* line);

// True for the first caller with this reason; later callers stay quiet.
bool msr_first_report(MsrReason reason);

// Tells a refused write of register index on the processor, once per reason; detail names the
// reason for reason_write_other.
void msr_report_write(MsrReason reason, uint32_t processor, uint32_t index, const char* detail = nullptr);

// Reads a register of one processor for the guard; non-zero on success.
using MsrReadOn = int (*)(uint32_t processor, uint32_t index, uint64_t* value);

// Whether value may be written into register index on the processor: P-state control and the
// eight definitions always, HWCR only when it changes no bit but LockTscToCurrentP0 of what that
// same processor holds now (read first with read_on). A refusal is told.
bool msr_write_allowed(uint32_t processor, uint32_t index, uint64_t value, MsrReadOn read_on);

} // namespace platform
