// Operating-system services: command line, executable path, priorities, time,
// threads, exit and files. One backend file per system implements this header.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Remembers argv for os_command_line (systems without a native command line).
void os_set_arguments(int argc, char** argv);

// The whole command line, program name first, words separated by blanks.
const char* os_command_line();

// Writes the executable's full path with a terminating zero; returns its length,
// 0 on failure, or size when the buffer was too small (the text is then cut).
uint32_t os_module_path(char* buffer, uint32_t size);

// The directory separator of executable paths.
char os_path_separator();

// Raises the process priority a little above normal; failures are ignored.
void os_raise_priority();

// Raises the calling thread's priority a little above normal; failures are ignored.
void os_raise_thread_priority();

// Number of processors the system reports.
uint32_t os_processor_count();

void os_sleep_ms(uint32_t milliseconds);

// Ends the process at once with the exit code.
[[noreturn]] void os_exit_process(uint32_t code);

// System-wide times in 100-ns units summed over all processors; kernel includes idle.
bool os_system_times(uint64_t* idle, uint64_t* kernel, uint64_t* user);

// From now on an interrupt from the terminal (Ctrl-C) or a request to terminate does not end
// the process: it is remembered for os_interrupted.
void os_catch_interrupt();

// True once an interrupt caught by os_catch_interrupt has come.
bool os_interrupted();

using ThreadRoutine = void (*)();

// Starts a detached thread running routine; false if it could not be created.
bool os_start_thread(ThreadRoutine routine);

} // namespace platform
