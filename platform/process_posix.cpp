// Child programs, Ctrl-C, the kernel log and the test mark on POSIX systems:
// posix_spawn into a process group of its own, waitpid without waiting, a
// flag set by the signal handler, /dev/kmsg read without blocking, flock.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/os.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {

struct ProcessState {
    int mark = -1;          // the held test mark's file, -1 when not held or only this process's
    bool mark_held = false; // this process holds a test mark
};
ProcessState process;

volatile std::sig_atomic_t interrupt_flag = 0;

void on_interrupt(int) {
    interrupt_flag = 1;
}

// Where the test mark of the real registers lives: root's in /run, another user's in the
// runtime directory or /tmp.
std::string mark_path(const char* path) {
    if (path != nullptr) return path;
    if (geteuid() == 0) return "/run/quilm-test.lock";
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/')
        return std::string(runtime) + "/quilm-test.lock";
    return "/tmp/quilm-test-" + std::to_string(geteuid()) + ".lock";
}

} // namespace

bool process_supported() {
    return true;
}

bool process_find(const char* name, char* path, size_t size) {
    auto usable = [&](const std::string& candidate) {
        struct stat info {};
        if (stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            access(candidate.c_str(), X_OK) != 0 || candidate.size() >= size)
            return false;
        std::memcpy(path, candidate.c_str(), candidate.size() + 1);
        return true;
    };
    if (name[0] == 0) return false;
    if (std::strchr(name, '/')) return usable(name);
    const char* search = std::getenv("PATH");
    std::string directories = search ? search : "/usr/local/bin:/usr/bin:/bin";
    for (size_t start = 0; start <= directories.size();) {
        size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        const std::string directory = directories.substr(start, end - start);
        if (!directory.empty() && usable(directory + "/" + name)) return true;
        start = end + 1;
    }
    return false;
}

int64_t process_start(const char* const* argv, const char* output_path) {
    posix_spawn_file_actions_t files;
    posix_spawnattr_t attributes;
    if (posix_spawn_file_actions_init(&files) != 0) return -1;
    if (posix_spawnattr_init(&attributes) != 0) {
        posix_spawn_file_actions_destroy(&files);
        return -1;
    }
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, output_path, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    // A group of its own: a time-out or Ctrl-C stops the workers it forks too. The child starts
    // with the default handling of every signal and none blocked, whatever quilm catches.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error =
        posix_spawn(&pid, argv[0], &files, &attributes, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&files);
    return error == 0 ? int64_t(pid) : -1;
}

ProcessEnd process_poll(int64_t child, int* code) {
    int status = 0;
    pid_t done = waitpid(pid_t(child), &status, WNOHANG);
    while (done < 0 && errno == EINTR) done = waitpid(pid_t(child), &status, WNOHANG);
    if (done == 0) return ProcessEnd::running;
    if (done < 0) { // already collected or never ours: it is not running
        *code = -1;
        return ProcessEnd::exited;
    }
    if (WIFSIGNALED(status)) {
        *code = WTERMSIG(status);
        return ProcessEnd::killed;
    }
    *code = WEXITSTATUS(status);
    return ProcessEnd::exited;
}

void process_stop(int64_t child) {
    const pid_t group = pid_t(child);
    kill(-group, SIGINT);
    int code = 0;
    for (int waited = 0; waited < 1000; waited += 20) {
        if (process_poll(child, &code) != ProcessEnd::running) break;
        os_sleep_ms(20);
    }
    // Whatever is left of the group, the child included if it ignored the request.
    kill(-group, SIGKILL);
    while (waitpid(group, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void interrupt_catch() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool interrupt_requested() {
    return interrupt_flag != 0;
}

bool scratch_make(char* path, size_t size) {
    const char* base = std::getenv("TMPDIR");
    const int n = std::snprintf(path, size, "%s/quilm-test.XXXXXX", base && base[0] == '/' ? base : "/tmp");
    if (n < 0 || size_t(n) >= size) return false;
    return mkdtemp(path) != nullptr;
}

void scratch_remove(const char* path) {
    // The directory holds only the files quilm asked the child to write: no subdirectories.
    const std::string directory = path;
    for (const char* name : {"output", "report.yaml"}) unlink((directory + "/" + name).c_str());
    rmdir(path);
}

int kernel_log_open(const char* path) {
    const int log = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (log < 0) return -1;
    // On /dev/kmsg this skips the messages logged before; on a plain file, its present text.
    lseek(log, 0, SEEK_END);
    return log;
}

size_t kernel_log_read(int log, char* buffer, size_t size) {
    size_t length = 0;
    // /dev/kmsg hands out one message per read; a plain file as much as fits.
    while (length + 1 < size) {
        const ssize_t n = read(log, buffer + length, size - length - 1);
        if (n > 0) {
            length += size_t(n);
            continue;
        }
        // Messages overwritten before they were read: the next read goes on with the oldest left.
        if (n < 0 && (errno == EINTR || errno == EPIPE)) continue;
        break; // nothing more for now (EAGAIN), the end of a file, or an error
    }
    buffer[length] = 0;
    return length;
}

void kernel_log_close(int log) {
    if (log >= 0) close(log);
}

bool test_mark_take(const char* path) {
    if (process.mark_held) return false;
    if (path != nullptr && path[0] == 0) return process.mark_held = true;
    // Never following a link planted at the path.
    const int mark = open(mark_path(path).c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (mark < 0) return false;
    if (flock(mark, LOCK_EX | LOCK_NB) != 0) {
        close(mark);
        return false;
    }
    process.mark = mark;
    return process.mark_held = true;
}

void test_mark_release() {
    if (process.mark >= 0) {
        flock(process.mark, LOCK_UN);
        close(process.mark);
    }
    process = ProcessState{};
}

bool test_mark_held(const char* path) {
    if (process.mark_held) return true;
    if (path != nullptr && path[0] == 0) return false;
    const int mark = open(mark_path(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (mark < 0) return false; // no test has ever run here
    const bool held = flock(mark, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(mark);
    return held;
}

} // namespace platform
