// The write guard shared by the hardware backends, and the lines that tell refusals.
#include "platform/msr_guard.h"

#include <cstdio>

namespace platform {

MsrGuardState msr_guard;

bool msr_first_report(MsrReason reason) {
    const uint32_t bit = 1u << reason;
    return (msr_guard.reported.fetch_or(bit) & bit) == 0;
}

void msr_report_write(MsrReason reason, uint32_t processor, uint32_t index, const char* detail) {
    if (!msr_first_report(reason)) return;
    const char* why = "";
    switch (reason) {
    case reason_write_missing: why = "no such processor"; break;
    case reason_write_locked:
        why = "the kernel refused it (kernel lockdown, or msr.allow_writes=off: see "
              "/sys/kernel/security/lockdown and /sys/module/msr/parameters/allow_writes)";
        break;
    case reason_write_register:
        why = "the register does not exist on this processor, or the processor refused the value";
        break;
    case reason_write_forbidden: why = "not a P-state register; write refused"; break;
    default: why = detail != nullptr ? detail : "refused";
    }
    char line[512];
    std::snprintf(line, sizeof line, "quilm: cannot write register %08X on processor %u: %s\n", index,
                  processor, why);
    hw_say(line);
}

bool msr_write_allowed(uint32_t processor, uint32_t index, uint64_t value, MsrReadOn read_on) {
    if (index == 0xC0010062 || (index >= 0xC0010064 && index <= 0xC001006B)) return true;
    if (index != msr_hwcr) {
        msr_report_write(reason_write_forbidden, processor, index);
        return false;
    }
    uint64_t current = 0;
    if (read_on(processor, index, &current) == 0) {
        msr_report_write(reason_write_register, processor, index);
        return false;
    }
    if (((value ^ current) & ~msr_lock_tsc_to_p0) != 0) {
        char detail[128];
        std::snprintf(detail, sizeof detail,
                      "%016llX would change more than bit 21 of %016llX; write refused",
                      static_cast<unsigned long long>(value), static_cast<unsigned long long>(current));
        msr_report_write(reason_write_hwcr, processor, index, detail);
        return false;
    }
    return true;
}

} // namespace platform
