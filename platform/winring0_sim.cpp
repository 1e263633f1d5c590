// A stand-in for the WinRing0 library built on the simulated processor, for
// demonstrations and tests on machines where no driver may be loaded. It exports
// WinRing0's functions the program uses under their own names, plus the simulated
// processor count and reads and writes of one simulated processor by number. Like the Linux program it reads
// QUILM_SIM (the processor) and QUILM_SIM_STATE (a file mirroring its registers); without QUILM_SIM it cannot
// be opened. No real hardware is ever touched.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/sim.h"

extern "C" {

BOOL WINAPI InitializeOls() {
    const char* value = std::getenv("QUILM_SIM");
    if (!value || value[0] == '\0') {
        std::fprintf(stderr, "quilm: this WinRing0 only simulates a processor, and QUILM_SIM names none "
                             "(e.g. QUILM_SIM=fam15h)\n");
        std::fflush(stderr);
        return FALSE;
    }
    int name_length = 0;
    while (value[name_length] != '\0' && value[name_length] != ',') ++name_length;
    std::fprintf(stderr, "quilm: simulated processor %.*s (QUILM_SIM); no hardware is touched\n", name_length,
                 value);
    const int ready = platform::sim_initialize(value, std::getenv("QUILM_SIM_STATE"));
    std::fflush(stderr);
    return ready ? TRUE : FALSE;
}

DWORD WINAPI GetDllStatus() {
    return platform::sim_status();
}

BOOL WINAPI Cpuid(DWORD index, PDWORD eax, PDWORD ebx, PDWORD ecx, PDWORD edx) {
    uint32_t a = 0, b = 0, c = 0, d = 0;
    if (!platform::sim_cpuid(index, &a, &b, &c, &d)) return FALSE;
    *eax = a, *ebx = b, *ecx = c, *edx = d;
    return TRUE;
}

BOOL WINAPI Rdmsr(DWORD index, PDWORD eax, PDWORD edx) {
    uint32_t low = 0, high = 0;
    if (!platform::sim_rdmsr(index, &low, &high)) return FALSE;
    *eax = low, *edx = high;
    return TRUE;
}

BOOL WINAPI WrmsrTx(DWORD index, DWORD eax, DWORD edx, DWORD_PTR thread_affinity_mask) {
    const BOOL taken = platform::sim_wrmsr(index, eax, edx, thread_affinity_mask) ? TRUE : FALSE;
    std::fflush(stderr); // a complaint about the state file shows up at once
    return taken;
}

// Reads on the lowest-numbered processor of the mask (processors 0..63).
BOOL WINAPI RdmsrTx(DWORD index, PDWORD eax, PDWORD edx, DWORD_PTR thread_affinity_mask) {
    if (thread_affinity_mask == 0) return FALSE;
    uint32_t low = 0, high = 0;
    if (!platform::sim_rdmsr_on(uint32_t(__builtin_ctzll(thread_affinity_mask)), index, &low, &high))
        return FALSE;
    *eax = low, *edx = high;
    return TRUE;
}

BOOL WINAPI ReadPciConfigDwordEx(DWORD pci_address, DWORD reg, PDWORD value) {
    uint32_t word = 0;
    if (!platform::sim_read_pci(pci_address, reg, &word)) return FALSE;
    *value = word;
    return TRUE;
}

VOID WINAPI DeinitializeOls() {
    platform::sim_deinitialize();
}

// Not part of WinRing0: the simulated processor's count, which the program prefers to the
// system's own so that it writes to every simulated processor and to none beyond them.
DWORD WINAPI QuilmSimProcessorCount() {
    return platform::sim_processor_count();
}

} // extern "C"

extern "C" {

// Not part of WinRing0: one simulated processor by number. Simulated processors beyond the
// system's own cannot be reached by moving a thread, so the program names them directly.
BOOL WINAPI QuilmSimRdmsrOn(DWORD processor, DWORD index, PDWORD eax, PDWORD edx) {
    uint32_t low = 0, high = 0;
    if (!platform::sim_rdmsr_on(processor, index, &low, &high)) return FALSE;
    *eax = low, *edx = high;
    return TRUE;
}

BOOL WINAPI QuilmSimWrmsrOn(DWORD processor, DWORD index, DWORD eax, DWORD edx) {
    const BOOL taken = platform::sim_wrmsr_on(processor, index, eax, edx) ? TRUE : FALSE;
    std::fflush(stderr);
    return taken;
}

} // extern "C"
