// Operating-system services on Linux: the command line rebuilt from argv, the
// executable's path from /proc/self/exe, nice values for priorities, system
// times from /proc/stat, and detached threads.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "platform/os.h"
#include "platform/os_linux.h"

namespace platform {

namespace {

struct OsState {
    std::string command_line; // argv joined with single blanks
    bool have_arguments = false;
};
OsState os;

std::atomic<bool> interrupted{false}; // set from the signal handler, lock-free on every target
static_assert(std::atomic<bool>::is_always_lock_free);

void note_interrupt(int) {
    interrupted.store(true);
}

// Lowers the nice value of one thread (0: the calling thread) by steps; refusals are ignored.
void raise_nice(id_t thread, int steps) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, thread);
    if (nice == -1 && errno != 0) return;
    setpriority(PRIO_PROCESS, thread, nice - steps);
}

// Reads an unsigned decimal number after any blanks; false when there is none.
bool read_number(const char*& p, const char* end, uint64_t* value) {
    while (p < end && *p == ' ') ++p;
    if (p == end || *p < '0' || *p > '9') return false;
    uint64_t n = 0;
    while (p < end && *p >= '0' && *p <= '9') n = n * 10 + uint64_t(*p++ - '0');
    *value = n;
    return true;
}

// Clock ticks to 100-ns units, exact and without overflowing for any realistic count.
uint64_t ticks_to_100ns(uint64_t ticks, uint64_t hz) {
    constexpr uint64_t units_per_second = 10'000'000;
    return ticks / hz * units_per_second + ticks % hz * units_per_second / hz;
}

// Appends one argument to the command line so that it reads back as that same word: the program
// name in quotes when it holds a blank, any other word in quotes when it holds a blank, a tab or a
// quote or is empty, with its quotes and the backslashes before them escaped.
void append_word(std::string& line, const char* word, bool program_name) {
    const std::string_view text(word);
    if (!program_name) line += ' ';
    if (program_name ? text.find(' ') == text.npos
                     : !text.empty() && text.find_first_of(" \t\"") == text.npos) {
        line += text;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char c : text) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"' && !program_name) line.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        line += c;
    }
    if (!program_name) line.append(backslashes, '\\');
    line += '"';
}

} // namespace

void os_set_arguments(int argc, char** argv) {
    os.command_line.clear();
    for (int i = 0; i < argc && argv[i]; ++i) append_word(os.command_line, argv[i], i == 0);
    os.have_arguments = true;
}

const char* os_command_line() {
    if (!os.have_arguments) {
        // Without argv the kernel's copy serves: its words end with zero bytes.
        std::string words;
        if (FILE* file = std::fopen("/proc/self/cmdline", "rb")) {
            for (int c; (c = std::fgetc(file)) != EOF;) words += char(c);
            std::fclose(file);
        }
        os.command_line.clear();
        for (size_t at = 0; at < words.size();) {
            append_word(os.command_line, words.c_str() + at, at == 0);
            at += std::strlen(words.c_str() + at) + 1;
        }
        os.have_arguments = true;
    }
    return os.command_line.c_str();
}

uint32_t os_module_path(char* buffer, uint32_t size) {
    if (size == 0) return 0;
    const ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length <= 0) {
        buffer[0] = 0;
        return 0;
    }
    if (uint32_t(length) < size) {
        buffer[length] = 0;
        return uint32_t(length);
    }
    // The path and its terminating zero do not fit: keep what fits, as the cut text.
    buffer[size - 1] = 0;
    return size;
}

char os_path_separator() {
    return '/';
}

void os_raise_priority() {
    raise_nice(0, 2);
}

void os_raise_thread_priority() {
    raise_nice(id_t(syscall(SYS_gettid)), 1);
}

uint32_t os_processor_count() {
    const long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? uint32_t(count) : 1;
}

void os_sleep_ms(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void os_exit_process(uint32_t code) {
    std::fflush(nullptr);
    _exit(int(code));
}

bool stat_times(const char* text, size_t length, long hz, uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    *idle = *kernel = *user = 0;
    if (length < 4 || text[0] != 'c' || text[1] != 'p' || text[2] != 'u' || text[3] != ' ' || hz <= 0)
        return false;
    // Guest time (the fields after steal) is already part of user and nice.
    const char* p = text + 4;
    const char* end = text + length;
    uint64_t field[8] = {}; // user nice system idle iowait irq softirq steal; older kernels stop early
    int count = 0;
    while (count < 8 && read_number(p, end, &field[count])) ++count;
    if (count < 4) return false;

    const auto to_units = [hz](uint64_t ticks) { return ticks_to_100ns(ticks, uint64_t(hz)); };
    const uint64_t idle_ticks = field[3] + field[4];
    *idle = to_units(idle_ticks);
    *user = to_units(field[0] + field[1]);
    // As on Windows, kernel time includes idle time.
    *kernel = to_units(field[2] + field[5] + field[6] + field[7] + idle_ticks);
    return true;
}

bool os_system_times(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    // The file stays open: reading it again from the start is all a sample needs.
    static const int file = open("/proc/stat", O_RDONLY | O_CLOEXEC);
    char text[512];
    const ssize_t length = file < 0 ? -1 : pread(file, text, sizeof text, 0);
    return stat_times(text, length > 0 ? size_t(length) : 0, sysconf(_SC_CLK_TCK), idle, kernel, user);
}

bool os_start_thread(ThreadRoutine routine) {
    try {
        std::thread(routine).detach();
        return true;
    } catch (...) { // no thread could be made (system_error) or no memory for it
        return false;
    }
}

void os_catch_interrupt() {
    struct sigaction action = {};
    action.sa_handler = note_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool os_interrupted() {
    return interrupted.load();
}

} // namespace platform
