// The Linux operating-system services: executable path and its cut rule, the
// rebuilt command line, system times, threads and the exit.
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

// Catches: a missing terminating zero, a wrong length, a cut path reported as complete, a write
// past the buffer.
TEST(OsLinux, ModulePathFollowsTheCutRule) {
    char full[4096];
    const uint32_t n = platform::os_module_path(full, sizeof full);
    ASSERT_GT(n, 0u);
    ASSERT_LT(n, sizeof full);
    const std::string path(full);
    EXPECT_EQ(path.size(), n);
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "os_linux_test");

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
}

// Catches: a missing program name, doubled or trailing blanks, words dropped.
TEST(OsLinux, CommandLineJoinsTheArguments) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"quilm"}, "quilm"},
        {{"/opt/my tools/quilm", "load", "x"}, "/opt/my tools/quilm load x"},
        {{}, ""},
    };
    for (const auto& [words, line] : cases) {
        SCOPED_TRACE(line);
        std::vector<char*> argv;
        for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
        argv.push_back(nullptr);
        platform::os_set_arguments(int(words.size()), argv.data());
        EXPECT_STREQ(platform::os_command_line(), line);
    }
}

// Catches: kernel time without idle, ticks not converted to 100-ns units (or converted twice),
// fields read from the wrong line or column, counters that run backwards.
TEST(OsLinux, SystemTimesAreConsistent) {
    uint64_t idle0 = 0, kernel0 = 0, user0 = 0;
    ASSERT_TRUE(platform::os_system_times(&idle0, &kernel0, &user0));
    EXPECT_GE(kernel0, idle0);
    const auto start = std::chrono::steady_clock::now();
    // Keep one processor busy for a while so that user or kernel time moves as well.
    volatile uint64_t sink = 0;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300)) sink = sink + 1;
    uint64_t idle1 = 0, kernel1 = 0, user1 = 0;
    ASSERT_TRUE(platform::os_system_times(&idle1, &kernel1, &user1));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Unsigned differences: a counter that ran backwards shows as a huge growth below.
    EXPECT_GE(kernel1 - kernel0, idle1 - idle0);
    EXPECT_GT(kernel1 - kernel0 - (idle1 - idle0) + (user1 - user0), 0u) << "busy time grew";
    // Every processor accounts for all of its time: kernel (with idle) plus user grows by about
    // the elapsed time times the number of processors, in 100-ns units.
    const double grown = double(kernel1 - kernel0) + double(user1 - user0);
    const double expected = elapsed * 1e7 * platform::os_processor_count();
    EXPECT_GT(grown, 0.5 * expected);
    EXPECT_LT(grown, 1.5 * expected);
}

// Catches: a column read one place off, iowait left out of idle, idle left out of kernel time,
// steal or nice dropped, a wrong tick conversion, and text that is not a cpu line accepted.
TEST(OsLinux, SystemTimesFromTheStatLine) {
    struct {
        const char* text;
        long hz;
        bool ok;
        uint64_t idle, kernel, user; // 100-ns units
    } cases[] = {
        // user nice system idle iowait irq softirq steal guest guest_nice
        {"cpu  1 2 3 40 50 6 7 8 9 10\ncpu0 1 1 1 1", 100, true, 9'000'000, 11'400'000, 300'000},
        {"cpu  1 2 3 40", 100, true, 4'000'000, 4'300'000, 300'000}, // an older kernel's four fields
        {"cpu  3 0 0 0 0 0 0 0", 3, true, 0, 0, 10'000'000},         // three ticks of a third of a second
        {"cpu0 1 2 3 40 50", 100, false, 0, 0, 0},
        {"cpu  1 2 3", 100, false, 0, 0, 0},
        {"cpu  1 2 3 4", 0, false, 0, 0, 0},
    };
    for (const auto& c : cases) {
        uint64_t idle = 1, kernel = 1, user = 1;
        EXPECT_EQ(platform::stat_times(c.text, std::strlen(c.text), c.hz, &idle, &kernel, &user), c.ok)
            << c.text;
        EXPECT_EQ(idle, c.idle) << c.text;
        EXPECT_EQ(kernel, c.kernel) << c.text;
        EXPECT_EQ(user, c.user) << c.text;
    }
}

std::atomic<int> thread_runs{0};

// Catches: a thread that is never started, or reported as failed although it runs.
TEST(OsLinux, StartedThreadRuns) {
    ASSERT_TRUE(platform::os_start_thread([] { thread_runs.fetch_add(1); }));
    for (int i = 0; i < 500 && thread_runs.load() == 0; ++i) platform::os_sleep_ms(10);
    EXPECT_EQ(thread_runs.load(), 1);
}

// Catches: the wrong exit code, and buffered output lost on the way out.
TEST(OsLinux, ExitFlushesAndEndsWithTheCode) {
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::fputs("still buffered", stderr);
            platform::os_exit_process(3);
        },
        testing::ExitedWithCode(3), "still buffered");
}

} // namespace

// Catches: a capability, driver, parameter or lockdown mode misread from the system's files.
TEST(SystemFacts, ReadFromProcAndSys) {
    struct {
        const char* cap_eff;      // CapEff of /proc/self/status, nullptr: no such line
        bool msr;                 // /dev/cpu/0/msr exists
        const char* allow_writes; // nullptr: no such parameter
        const char* lockdown;     // nullptr: no lockdown file
        bool privileged;
        const char* mode;
    } cases[] = {
        {"000001ffffffffff", true, "on\n", "[none] integrity confidentiality\n", true, "none"},
        {"0000000000020000", true, "default\n", "none [integrity] confidentiality\n", true, "integrity"},
        {"0000000000000000", false, "off\n", nullptr, false, ""},
        {nullptr, false, nullptr, "none integrity [confidentiality]\n", false, "confidentiality"},
    };
    for (const auto& c : cases) {
        const std::filesystem::path root = std::filesystem::temp_directory_path() / "quilm_facts";
        std::filesystem::remove_all(root);
        auto put = [&](const char* path, const std::string& text) {
            std::filesystem::create_directories((root / path).parent_path());
            std::ofstream(root / path) << text;
        };
        put("proc/self/status", c.cap_eff ? std::string("Name:\tquilm\nCapEff:\t") + c.cap_eff + "\n" : "Name:\tx\n");
        if (c.msr) put("dev/cpu/0/msr", "");
        if (c.allow_writes) put("sys/module/msr/parameters/allow_writes", c.allow_writes);
        if (c.lockdown) put("sys/kernel/security/lockdown", c.lockdown);
        platform::SystemFacts facts;
        platform::system_facts(root.c_str(), &facts);
        EXPECT_EQ(facts.privileged, c.privileged) << c.cap_eff;
        EXPECT_EQ(facts.msr_device, c.msr);
        EXPECT_STREQ(facts.allow_writes, c.allow_writes ? std::string(c.allow_writes, std::strcspn(c.allow_writes, "\n")).c_str() : "");
        EXPECT_STREQ(facts.lockdown, c.mode);
        std::filesystem::remove_all(root);
    }
}
