// Operating-system services on Windows: the process's own command line, the module
// path, priority classes, GetSystemTimes, and threads made with CreateThread.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/os.h"

namespace platform {

namespace {

std::atomic<bool> interrupted{false}; // set from the console's control handler thread

BOOL WINAPI note_interrupt(DWORD) {
    interrupted.store(true);
    return TRUE;
}

uint64_t to_u64(const FILETIME& time) {
    return uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// CreateThread's entry: runs the routine handed over as the parameter; returning ends the thread.
DWORD WINAPI thread_entry(LPVOID parameter) {
    reinterpret_cast<ThreadRoutine>(parameter)();
    return 0;
}

} // namespace

void os_set_arguments(int, char**) {
    // Windows keeps the command line as the user typed it; GetCommandLineA hands it out.
}

const char* os_command_line() {
    return GetCommandLineA();
}

uint32_t os_module_path(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
    if (length == 0) {
        buffer[0] = 0;
        return 0;
    }
    // A path that does not fit comes back cut to size characters, and older systems leave it
    // without the terminating zero.
    if (length >= size) {
        buffer[size - 1] = 0;
        return size;
    }
    return length;
}

char os_path_separator() {
    return '\\';
}

void os_raise_priority() {
    SetPriorityClass(GetCurrentProcess(), ABOVE_NORMAL_PRIORITY_CLASS);
}

void os_raise_thread_priority() {
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
}

uint32_t os_processor_count() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
}

void os_sleep_ms(uint32_t milliseconds) {
    Sleep(milliseconds);
}

void os_exit_process(uint32_t code) {
    std::fflush(nullptr);
    ExitProcess(code);
}

bool os_system_times(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    FILETIME idle_time{}, kernel_time{}, user_time{};
    const bool ok = GetSystemTimes(&idle_time, &kernel_time, &user_time) != FALSE;
    *idle = to_u64(idle_time);
    *kernel = to_u64(kernel_time);
    *user = to_u64(user_time);
    return ok;
}

bool os_start_thread(ThreadRoutine routine) {
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, thread_entry, reinterpret_cast<LPVOID>(routine), 0, &id);
    if (!thread) return false;
    // Nobody waits on the handle: the thread says by itself when it has ended.
    CloseHandle(thread);
    return true;
}

void os_catch_interrupt() {
    SetConsoleCtrlHandler(note_interrupt, TRUE);
}

bool os_interrupted() {
    return interrupted.load();
}

} // namespace platform
