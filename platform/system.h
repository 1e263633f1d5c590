// What the operating system says about register access: privileges, the msr
// driver and the kernel's restrictions, for `quilm check`.
#pragma once

namespace platform {

struct SystemFacts {
    bool privileged;       // root, or CAP_SYS_RAWIO in the effective capability set
    bool msr_device;       // the msr driver is loaded: processor 0 has a register device
    char allow_writes[16]; // msr.allow_writes: "on", "off" or "default"; empty where the kernel has no such
                           // parameter
    char lockdown[32];     // the kernel lockdown mode in force: "none", "integrity", "confidentiality"; empty
                           // where absent
};

// Reads the facts from the system's files below root ("" for the running system).
void system_facts(const char* root, SystemFacts* facts);

} // namespace platform
