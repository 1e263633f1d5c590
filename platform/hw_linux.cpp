// The hardware-access operations on Linux: the msr driver for the registers, sysfs
// for PCI configuration space and the CPUID instruction, or the simulated processor
// when QUILM_SIM names one.

#include "platform/hw.h"

#include <cpuid.h>
#include <cstdio>
#include <cstdlib>

#include "platform/msr_guard.h"
#include "platform/msr_linux.h"
#include "platform/pci_linux.h"
#include "platform/sim.h"

namespace {

// Chosen at InitializeOls; while set, nothing reaches the hardware.
bool simulated = false;

// Reads a register of one simulated processor for the write guard.
int sim_read_on(uint32_t processor, uint32_t index, uint64_t* value) {
    uint32_t low = 0, high = 0;
    if (!platform::sim_rdmsr_on(processor, index, &low, &high)) return 0;
    *value = uint64_t{high} << 32 | low;
    return 1;
}

} // namespace

void platform::hw_say(const char* line) {
    std::fputs(line, stderr);
}

int InitializeOls() {
    platform::msr_guard.reported = 0; // a new session tells each refusal again
    const char* value = std::getenv("QUILM_SIM");
    simulated = value && value[0] != '\0';
    if (!simulated) return platform::msr_initialize();
    int name_length = 0;
    while (value[name_length] != '\0' && value[name_length] != ',') ++name_length;
    std::fprintf(stderr, "quilm: simulated processor %.*s (QUILM_SIM); no hardware is touched\n", name_length,
                 value);
    return platform::sim_initialize(value, std::getenv("QUILM_SIM_STATE"));
}

uint32_t GetDllStatus() {
    return simulated ? platform::sim_status() : platform::msr_status();
}

int Cpuid(uint32_t index, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    if (simulated) return platform::sim_cpuid(index, eax, ebx, ecx, edx);
    unsigned a, b, c, d;
    // Fails, leaving the words alone, for a leaf above the processor's highest.
    if (!__get_cpuid_count(index, 0, &a, &b, &c, &d)) return 0;
    *eax = a, *ebx = b, *ecx = c, *edx = d;
    return 1;
}

int Rdmsr(uint32_t index, uint32_t* eax, uint32_t* edx) {
    return simulated ? platform::sim_rdmsr(index, eax, edx) : platform::msr_read(index, eax, edx);
}

int WrmsrTx(uint32_t index, uint32_t eax, uint32_t edx, uintptr_t thread_affinity_mask) {
    return simulated ? platform::sim_wrmsr(index, eax, edx, thread_affinity_mask)
                     : platform::msr_write(index, eax, edx, thread_affinity_mask);
}

void DeinitializeOls() {
    if (simulated)
        platform::sim_deinitialize();
    else
        platform::msr_deinitialize();
}

uint32_t hw_simulated_processor_count() {
    return simulated ? platform::sim_processor_count() : 0;
}

uint32_t hw_processor_count() {
    return simulated ? platform::sim_processor_count() : platform::msr_processor_count();
}

int hw_rdmsr_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx) {
    return simulated ? platform::sim_rdmsr_on(processor, index, eax, edx)
                     : platform::msr_read_on(processor, index, eax, edx);
}

int hw_wrmsr_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx) {
    if (!simulated) return platform::msr_write_on(processor, index, eax, edx);
    // The simulated processor is guarded like a real one, and says why it refused.
    if (!platform::msr_write_allowed(processor, index, uint64_t{edx} << 32 | eax, sim_read_on)) return 0;
    if (platform::sim_wrmsr_on(processor, index, eax, edx)) return 1;
    platform::msr_report_write(platform::reason_write_register, processor, index);
    return 0;
}

int ReadPciConfigDwordEx(uint32_t pci_address, uint32_t reg, uint32_t* value) {
    if (simulated) return platform::sim_read_pci(pci_address, reg, value);
    // Like the other operations, nothing is read before InitializeOls or after DeinitializeOls.
    return platform::msr.processor_count > 0 ? platform::pci_read_config(pci_address, reg, value) : 0;
}
