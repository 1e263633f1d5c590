// The Linux operating-system services: executable path and its cut rule, the
// rebuilt command line, system times, threads and the exit; and the facts about
// register access read from /proc and /sys.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/os.h"
#include "platform/os_linux.h"
#include "platform/system.h"

namespace {

// Catches: a path without its terminating zero, with a wrong length, cut but reported as complete,
// or written past the buffer; a command line without the program name, with doubled or trailing
// blanks, or words dropped.
TEST(OsLinux, ModulePathAndCommandLine) {
    char full[4096];
    const uint32_t n = platform::os_module_path(full, sizeof full);
    ASSERT_TRUE(n > 0 && n < sizeof full) << n;
    const std::string path(full);
    EXPECT_EQ(std::tuple(path.size(), path.substr(path.rfind('/') + 1)), std::tuple(n, "os_linux_test"));

    // The buffer size, the length returned, the text left in the buffer.
    const std::tuple<uint32_t, uint32_t, std::string> cases[] = {
        {n + 1, n, path},              // just fits with its zero
        {n, n, path.substr(0, n - 1)}, // one short: cut, and the size comes back
        {1, 1, ""},                    // room for the zero only
        {0, 0, "untouched"},           // no room at all
    };
    for (const auto& [size, result, text] : cases) {
        SCOPED_TRACE(size);
        std::vector<char> buffer(size + 16, '#');
        std::strcpy(buffer.data() + size, "untouched");
        EXPECT_EQ(platform::os_module_path(buffer.data(), size), result);
        EXPECT_EQ(std::string(buffer.data()), text);
        EXPECT_STREQ(buffer.data() + size, "untouched") << "nothing written past the buffer";
    }

    const std::pair<std::vector<std::string>, const char*> lines[] = {
        {{"quilm"}, "quilm"},
        {{"/opt/my tools/quilm", "load", "x y"}, R"("/opt/my tools/quilm" load "x y")"},
        {{}, ""},
    };
    for (const auto& [words, line] : lines) {
        std::vector<char*> argv;
        for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        platform::os_set_arguments(int(words.size()), argv.data());
        EXPECT_STREQ(platform::os_command_line(), line);
    }
}

// Catches: a column read one place off, iowait left out of idle, idle left out of kernel time,
// steal or nice dropped, a wrong tick conversion, text that is not a cpu line accepted; on the
// running system, the wrong file, tick rate or processor count, and counters that run backwards.
TEST(OsLinux, SystemTimes) {
    // The text (user nice system idle iowait irq softirq steal guest guest_nice), ticks per second,
    // whether it is read, and idle, kernel and user time in 100-ns units.
    const std::tuple<const char*, long, bool, uint64_t, uint64_t, uint64_t> cases[] = {
        {"cpu  1 2 3 40 50 6 7 8 9 10\ncpu0 1 1 1 1", 100, true, 9'000'000, 11'400'000, 300'000},
        {"cpu  1 2 3 40", 100, true, 4'000'000, 4'300'000, 300'000}, // an older kernel's four fields
        {"cpu  3 0 0 0 0 0 0 0", 3, true, 0, 0, 10'000'000},         // three ticks of a third of a second
        {"cpu0 1 2 3 40 50", 100, false, 0, 0, 0},
        {"cpu  1 2 3", 100, false, 0, 0, 0},
        {"cpu  1 2 3 4", 0, false, 0, 0, 0},
    };
    for (const auto& [text, hz, ok, idle, kernel, user] : cases) {
        uint64_t times[3] = {1, 1, 1};
        EXPECT_EQ(platform::stat_times(text, std::strlen(text), hz, &times[0], &times[1], &times[2]), ok)
            << text;
        EXPECT_EQ(std::tuple(times[0], times[1], times[2]), std::tuple(idle, kernel, user)) << text;
    }

    // Every processor accounts for all of its time: kernel (with idle) plus user grows by about the
    // elapsed time times the number of processors. Unsigned differences: a counter that ran
    // backwards shows as a huge growth.
    uint64_t idle[2], kernel[2], user[2];
    ASSERT_TRUE(platform::os_system_times(&idle[0], &kernel[0], &user[0]));
    const auto start = std::chrono::steady_clock::now();
    platform::os_sleep_ms(300);
    ASSERT_TRUE(platform::os_system_times(&idle[1], &kernel[1], &user[1]));
    const double expected = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() *
                            1e7 * platform::os_processor_count();
    EXPECT_GE(kernel[1] - kernel[0], idle[1] - idle[0]);
    EXPECT_NEAR(double(kernel[1] - kernel[0]) + double(user[1] - user[0]), expected, 0.5 * expected);
}

std::atomic<int> thread_runs{0};

// Catches: the wrong exit code, buffered output lost on the way out; a thread that is never
// started, or reported as failed although it runs.
TEST(OsLinux, ExitFlushesAndThreadsRun) {
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("still buffered", stderr);
            platform::os_exit_process(3);
        },
        testing::ExitedWithCode(3), "still buffered");
    ASSERT_TRUE(platform::os_start_thread([] { thread_runs.fetch_add(1); }));
    for (int i = 0; i < 500 && thread_runs.load() == 0; ++i) platform::os_sleep_ms(10);
    EXPECT_EQ(thread_runs.load(), 1);
}

// Catches: a capability, driver, parameter or lockdown mode misread from the system's files.
TEST(SystemFacts, ReadFromProcAndSys) {
    const std::filesystem::path root = std::filesystem::temp_directory_path() / "quilm_facts";
    // CapEff of /proc/self/status, msr.allow_writes and the lockdown file (nullptr: no such line,
    // parameter or file); whether /dev/cpu/0/msr exists; the privilege and the lockdown mode read.
    const std::tuple<const char*, const char*, const char*, bool, bool, const char*> cases[] = {
        {"000001ffffffffff", "on", "[none] integrity confidentiality\n", true, true, "none"},
        {"0000000000020000", "default", "none [integrity] confidentiality\n", true, true, "integrity"},
        {"0000000000000000", "off", nullptr, false, false, ""},
        {nullptr, nullptr, "none integrity [confidentiality]\n", false, false, "confidentiality"},
    };
    for (const auto& [cap_eff, allow_writes, lockdown, msr, privileged, mode] : cases) {
        SCOPED_TRACE(mode);
        std::filesystem::remove_all(root);
        auto put = [&](const char* path, const std::string& text) {
            std::filesystem::create_directories((root / path).parent_path());
            std::ofstream(root / path) << text;
        };
        put("proc/self/status",
            std::string("Name:\tquilm\n") + (cap_eff ? "CapEff:\t" + std::string(cap_eff) : ""));
        if (msr) put("dev/cpu/0/msr", "");
        if (allow_writes) put("sys/module/msr/parameters/allow_writes", allow_writes + std::string("\n"));
        if (lockdown) put("sys/kernel/security/lockdown", lockdown);
        platform::SystemFacts facts;
        platform::system_facts(root.c_str(), &facts);
        EXPECT_EQ(std::tuple(facts.privileged, facts.msr_device, std::string(facts.allow_writes),
                             std::string(facts.lockdown)),
                  std::tuple(privileged, msr, std::string(allow_writes ? allow_writes : ""), mode));
    }
    std::filesystem::remove_all(root);
}

} // namespace
