// The six hardware-access operations on Windows: WinRing0, loaded at run time from
// the executable's own directory and called by name. Until it is loaded, and if it
// cannot be, every operation fails and nothing reaches a processor.
#include <windows.h>

#include <cstdarg>
#include <cstring>

#include "platform/hw.h"

namespace {

// WinRing0's exports, with its calling convention and types.
using InitializeOlsFn = BOOL(WINAPI*)();
using GetDllStatusFn = DWORD(WINAPI*)();
using CpuidFn = BOOL(WINAPI*)(DWORD index, PDWORD eax, PDWORD ebx, PDWORD ecx, PDWORD edx);
using RdmsrFn = BOOL(WINAPI*)(DWORD index, PDWORD eax, PDWORD edx);
using WrmsrTxFn = BOOL(WINAPI*)(DWORD index, DWORD eax, DWORD edx, DWORD_PTR thread_affinity_mask);
using DeinitializeOlsFn = VOID(WINAPI*)();
using ProcessorCountFn = DWORD(WINAPI*)();

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
    bool initialized = false;                   // the library's InitializeOls succeeded
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
    ring0.simulated_count = reinterpret_cast<ProcessorCountFn>(
        reinterpret_cast<void*>(GetProcAddress(ring0.library, "QuilmSimProcessorCount")));
    return true;
}

} // namespace

int InitializeOls() {
    if (!ring0.library && !load_library()) return 0;
    ring0.initialized = ring0.initialize() != FALSE;
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
    return ring0.wrmsr_tx(index, eax, edx, thread_affinity_mask) ? 1 : 0;
}

void DeinitializeOls() {
    if (!ring0.initialized) return;
    ring0.initialized = false;
    ring0.deinitialize();
}

uint32_t hw_simulated_processor_count() {
    return ring0.initialized && ring0.simulated_count ? ring0.simulated_count() : 0;
}
