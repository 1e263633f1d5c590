// Child programs under a time limit, Ctrl-C, the kernel log and the mark of a
// running stability test: what `quilm test` needs from the system to drive a
// load program. One backend file per system implements this header.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Whether this system can run and watch a child program at all.
bool process_supported();

// Finds an executable: a name with a '/' as given, any other along PATH. Writes its path
// with a terminating zero; false when there is no such executable (or the path does not fit).
bool process_find(const char* name, char* path, size_t size);

// Starts argv[0] with the words after it (nullptr-terminated), its output and errors written
// to output_path, in a process group of its own so that stopping it stops all it started.
// The child's id, or -1 when it could not be started.
int64_t process_start(const char* const* argv, const char* output_path);

enum class ProcessEnd : uint8_t {
    running,
    exited, // *code is its exit status
    killed, // *code is the signal that ended it
};

// Whether the child has ended, without waiting.
ProcessEnd process_poll(int64_t child, int* code);

// Stops the child and everything it started: asks them to end, gives them a second, then
// kills them, and collects the child.
void process_stop(int64_t child);

// From now on Ctrl-C and termination requests only set a flag that interrupt_requested reads.
void interrupt_catch();

// True once Ctrl-C (or a termination request) arrived after interrupt_catch.
bool interrupt_requested();

// Makes a private scratch directory and writes its path; false when none can be made.
bool scratch_make(char* path, size_t size);

// Removes the scratch directory and the files in it.
void scratch_remove(const char* path);

// Opens the kernel log (or a file standing in for it) at its end: only messages logged from
// now on are read. -1 when it cannot be read.
int kernel_log_open(const char* path);

// Reads what the log gained since the last read into buffer without waiting; the byte count.
size_t kernel_log_read(int log, char* buffer, size_t size);

void kernel_log_close(int log);

// Marks a stability test as running; false when another test holds the mark. The mark is a
// lock on the file at path, seen by every process; nullptr names the system's own place for
// the processor's real registers, and "" a mark that only this process sees. Held until
// test_mark_release or the process ends.
bool test_mark_take(const char* path);

void test_mark_release();

// Whether a stability test holds the mark at path (as for test_mark_take).
bool test_mark_held(const char* path);

} // namespace platform
