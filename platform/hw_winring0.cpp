// The hardware-access operations on Windows: WinRing0, loaded at run time from the
// executable's own directory and called by name. Until it is loaded, and if it
// cannot be, every operation fails and nothing reaches a processor. One processor is
// named by pinning the calling thread to its processor group for the call.
#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "platform/hw.h"
#include "platform/msr_guard.h"

namespace {

// WinRing0's exports, with its calling convention and types.
using InitializeOlsFn = BOOL(WINAPI*)();
using GetDllStatusFn = DWORD(WINAPI*)();
using CpuidFn = BOOL(WINAPI*)(DWORD index, PDWORD eax, PDWORD ebx, PDWORD ecx, PDWORD edx);
using RdmsrFn = BOOL(WINAPI*)(DWORD index, PDWORD eax, PDWORD edx);
using WrmsrTxFn = BOOL(WINAPI*)(DWORD index, DWORD eax, DWORD edx, DWORD_PTR thread_affinity_mask);
using DeinitializeOlsFn = VOID(WINAPI*)();
using ProcessorCountFn = DWORD(WINAPI*)();
using RdmsrTxFn = BOOL(WINAPI*)(DWORD index, PDWORD eax, PDWORD edx, DWORD_PTR thread_affinity_mask);
using ReadPciConfigDwordExFn = BOOL(WINAPI*)(DWORD pci_address, DWORD reg, PDWORD value);
// The simulated library's own: one simulated processor by number, whatever the system's groups.
using SimRdmsrOnFn = BOOL(WINAPI*)(DWORD processor, DWORD index, PDWORD eax, PDWORD edx);
using SimWrmsrOnFn = BOOL(WINAPI*)(DWORD processor, DWORD index, DWORD eax, DWORD edx);

// Processor groups of 64 processors at most; Windows has far fewer groups than this.
constexpr WORD max_groups = 64;

// The 64-bit program can only load the 64-bit library, the 32-bit one only the other.
constexpr const char* library_name = sizeof(void*) == 8 ? "WinRing0x64.dll" : "WinRing0.dll";
constexpr size_t library_name_size = sizeof "WinRing0x64.dll"; // the longer name and its zero

struct WinRing0 {
    HMODULE library = nullptr; // null until InitializeOls has found every function
    InitializeOlsFn initialize = nullptr;
    GetDllStatusFn status = nullptr;
    CpuidFn cpuid = nullptr;
    RdmsrFn rdmsr = nullptr;
    WrmsrTxFn wrmsr_tx = nullptr;
    DeinitializeOlsFn deinitialize = nullptr;
    ProcessorCountFn simulated_count = nullptr; // only the simulated library exports it
    // Optional exports: without one, its operation fails and everything else works.
    RdmsrTxFn rdmsr_tx = nullptr;
    ReadPciConfigDwordExFn read_pci = nullptr;
    SimRdmsrOnFn sim_rdmsr_on = nullptr;
    SimWrmsrOnFn sim_wrmsr_on = nullptr;
    bool initialized = false; // the library's InitializeOls succeeded

    // The system's active processors, numbered group by group and within a group by mask bit.
    KAFFINITY group_mask[max_groups] = {}; // active processors of each group
    WORD groups = 0;
    DWORD processors = 0; // processors that can be named; 0 when the groups could not be read
};
WinRing0 ring0;

// One line on the standard error handle, when there is one (a GUI program started from the
// desktop has none). wsprintf keeps the C library's formatting out of the program.
void say(const char* format, ...) {
    char line[1024]; // the most wvsprintfA writes
    va_list arguments;
    va_start(arguments, format);
    const int length = wvsprintfA(line, format, arguments);
    va_end(arguments);
    DWORD written = 0;
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (length > 0 && error && error != INVALID_HANDLE_VALUE)
        WriteFile(error, line, DWORD(length), &written, nullptr);
}

// Looks up an export the program can do without; null when the library lacks it.
template <typename Fn> void optional(const char* name, Fn* function) {
    *function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ring0.library, name)));
}

// Looks up one export; false (after a stderr line) when the library lacks it.
template <typename Fn> bool find(const char* name, Fn* function) {
    *function = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ring0.library, name)));
    if (*function) return true;
    say("quilm: %s has no function %s\n", library_name, name);
    return false;
}

// Loads the library from the executable's directory with all six functions; false if either is missing.
bool load_library() {
    char path[MAX_PATH + library_name_size];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        say("quilm: cannot tell where quilm.exe lies, so %s cannot be found\n", library_name);
        return false;
    }
    while (n > 0 && path[n - 1] != '\\') --n;
    std::strcpy(path + n, library_name);

    // Only this one file: a full path keeps the system's search order (current directory, PATH)
    // from supplying some other library of the same name. Its own dependencies are looked up
    // beside it.
    ring0.library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!ring0.library) {
        say("quilm: cannot load %s (error %lu); it belongs beside quilm.exe\n", path, GetLastError());
        return false;
    }
    bool complete = find("InitializeOls", &ring0.initialize);
    complete = find("GetDllStatus", &ring0.status) && complete;
    complete = find("Cpuid", &ring0.cpuid) && complete;
    complete = find("Rdmsr", &ring0.rdmsr) && complete;
    complete = find("WrmsrTx", &ring0.wrmsr_tx) && complete;
    complete = find("DeinitializeOls", &ring0.deinitialize) && complete;
    if (!complete) {
        FreeLibrary(ring0.library);
        ring0 = WinRing0{};
        return false;
    }
    optional("QuilmSimProcessorCount", &ring0.simulated_count);
    optional("RdmsrTx", &ring0.rdmsr_tx);
    optional("ReadPciConfigDwordEx", &ring0.read_pci);
    optional("QuilmSimRdmsrOn", &ring0.sim_rdmsr_on);
    optional("QuilmSimWrmsrOn", &ring0.sim_wrmsr_on);
    return true;
}

// Reads the active processors of every group. The count is the system's own, and only when every
// one of them can be placed in a group: a processor that cannot be named would go without writes.
void read_groups() {
    ring0.groups = 0;
    ring0.processors = 0;
    alignas(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX) BYTE
        buffer[sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX) + max_groups * sizeof(PROCESSOR_GROUP_INFO)];
    DWORD length = sizeof buffer;
    auto* info = reinterpret_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*>(buffer);
    if (!GetLogicalProcessorInformationEx(RelationGroup, info, &length) ||
        info->Relationship != RelationGroup) {
        say("quilm: cannot read the processor groups (error %lu)\n", GetLastError());
        return;
    }
    const GROUP_RELATIONSHIP& relation = info->Group;
    DWORD total = 0;
    for (WORD g = 0; g < relation.ActiveGroupCount && g < max_groups; ++g) {
        ring0.group_mask[g] = relation.GroupInfo[g].ActiveProcessorMask;
        total += DWORD(__builtin_popcountll(ring0.group_mask[g]));
    }
    ring0.groups = relation.ActiveGroupCount < max_groups ? relation.ActiveGroupCount : max_groups;
    const DWORD active = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    if (total != active) {
        say("quilm: %lu processors are active but the processor groups hold %lu\n", active, total);
        return;
    }
    ring0.processors = active;
}

// The group and one-bit mask of processor p; false when there is no such processor.
bool locate(uint32_t p, GROUP_AFFINITY* target) {
    if (p >= ring0.processors) return false;
    for (WORD g = 0; g < ring0.groups; ++g) {
        const KAFFINITY mask = ring0.group_mask[g];
        const uint32_t in_group = uint32_t(__builtin_popcountll(mask));
        if (p >= in_group) {
            p -= in_group;
            continue;
        }
        for (uint32_t bit = 0; bit < 64; ++bit) {
            if (!(mask >> bit & 1) || p-- != 0) continue;
            *target = GROUP_AFFINITY{};
            target->Group = g;
            target->Mask = KAFFINITY(1) << bit;
            return true;
        }
    }
    return false;
}

// Calls operation(mask) with the calling thread moved into processor p's group, and moves it back.
template <typename Operation> int on_processor(uint32_t p, Operation operation) {
    GROUP_AFFINITY target, previous;
    if (!locate(p, &target)) return 0;
    const HANDLE thread = GetCurrentThread();
    if (!SetThreadGroupAffinity(thread, &target, &previous)) return 0;
    const BOOL done = operation(DWORD_PTR(target.Mask));
    SetThreadGroupAffinity(thread, &previous, nullptr);
    return done ? 1 : 0;
}

// Reads a register of one processor by number; non-zero on success.
int read_on(uint32_t processor, uint32_t index, uint64_t* value) {
    uint32_t low = 0, high = 0;
    if (!hw_rdmsr_on(processor, index, &low, &high)) return 0;
    *value = uint64_t{high} << 32 | low;
    return 1;
}

} // namespace

void platform::hw_say(const char* line) {
    say("%s", line);
}

int InitializeOls() {
    platform::msr_guard.reported = 0; // a new session tells each refusal again
    if (!ring0.library && !load_library()) return 0;
    ring0.initialized = ring0.initialize() != FALSE;
    if (ring0.initialized && !ring0.simulated_count) read_groups();
    return ring0.initialized ? 1 : 0;
}

uint32_t GetDllStatus() {
    // Anything but 0 means unusable; without the library nothing is usable.
    return ring0.initialized ? ring0.status() : 1;
}

int Cpuid(uint32_t index, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    if (!ring0.initialized) return 0;
    DWORD a = 0, b = 0, c = 0, d = 0;
    if (!ring0.cpuid(index, &a, &b, &c, &d)) return 0;
    *eax = a, *ebx = b, *ecx = c, *edx = d;
    return 1;
}

int Rdmsr(uint32_t index, uint32_t* eax, uint32_t* edx) {
    if (!ring0.initialized) return 0;
    DWORD low = 0, high = 0;
    if (!ring0.rdmsr(index, &low, &high)) return 0;
    *eax = low, *edx = high;
    return 1;
}

int WrmsrTx(uint32_t index, uint32_t eax, uint32_t edx, uintptr_t thread_affinity_mask) {
    if (!ring0.initialized || thread_affinity_mask == 0) return 0;
    // A mask names no processor whose HWCR the guard could read first: such writes go by number.
    const uint32_t first = uint32_t(__builtin_ctzll(thread_affinity_mask));
    if (index == platform::msr_hwcr) {
        platform::msr_report_write(platform::reason_write_forbidden, first, index);
        return 0;
    }
    if (!platform::msr_write_allowed(first, index, uint64_t{edx} << 32 | eax, read_on)) return 0;
    if (ring0.wrmsr_tx(index, eax, edx, thread_affinity_mask)) return 1;
    platform::msr_report_write(platform::reason_write_register, first, index);
    return 0;
}

void DeinitializeOls() {
    if (!ring0.initialized) return;
    ring0.initialized = false;
    ring0.deinitialize();
}

uint32_t hw_simulated_processor_count() {
    return ring0.initialized && ring0.simulated_count ? ring0.simulated_count() : 0;
}

uint32_t hw_processor_count() {
    if (!ring0.initialized) return 0;
    return ring0.simulated_count ? ring0.simulated_count() : ring0.processors;
}

int hw_rdmsr_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx) {
    if (!ring0.initialized) return 0;
    DWORD low = 0, high = 0;
    int done = 0;
    if (ring0.simulated_count)
        done = ring0.sim_rdmsr_on && ring0.sim_rdmsr_on(processor, index, &low, &high);
    else if (ring0.rdmsr_tx)
        done =
            on_processor(processor, [&](DWORD_PTR mask) { return ring0.rdmsr_tx(index, &low, &high, mask); });
    if (!done) return 0;
    *eax = low, *edx = high;
    return 1;
}

int hw_wrmsr_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx) {
    if (!ring0.initialized) return 0;
    if (!platform::msr_write_allowed(processor, index, uint64_t{edx} << 32 | eax, read_on)) return 0;
    GROUP_AFFINITY where;
    if (!ring0.simulated_count && !locate(processor, &where)) {
        platform::msr_report_write(platform::reason_write_missing, processor, index);
        return 0;
    }
    const bool taken =
        ring0.simulated_count
            ? ring0.sim_wrmsr_on && ring0.sim_wrmsr_on(processor, index, eax, edx)
            : on_processor(processor, [&](DWORD_PTR mask) { return ring0.wrmsr_tx(index, eax, edx, mask); });
    if (taken) return 1;
    platform::msr_report_write(platform::reason_write_register, processor, index);
    return 0;
}

int ReadPciConfigDwordEx(uint32_t pci_address, uint32_t reg, uint32_t* value) {
    if (!ring0.initialized || !ring0.read_pci) return 0;
    DWORD word = 0;
    if (!ring0.read_pci(pci_address, reg, &word)) return 0;
    *value = word;
    return 1;
}
