// Start-up: the command-line reader, the settings path, processor
// identification, and the start-up sequence with its failure paths.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/os.h"
#include "tests/app_fixture.h"

namespace {

// Sets the command line from words, as the system would join them.
void set_command_line(std::vector<std::string> words) {
    static std::vector<std::string> keep;
    static std::vector<char*> argv;
    keep = std::move(words);
    argv.clear();
    for (auto& w : keep) argv.push_back(w.data());
    platform::os_set_arguments(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLine, OnlyTheFirstWordAfterTheProgramNameCounts) {
    const std::string long_word(200, 'x');
    struct {
        std::vector<std::string> argv;
        std::string first_word;
    } cases[] = {
        {{"quilm", "load"}, "load"},
        {{"quilm", "loading"}, "loading"},
        {{"quilm"}, ""},
        {{"quilm", "\t \tload"}, "load"},
        {{"quilm", "other", "load"}, "other"},
        {{"/opt/my tools/quilm", "load"}, "tools/quilm"},      // the program name ends at the first blank
        {{"/opt/tab\tdir/quilm", "load"}, "load"},             // a tab does not end it
        {{"quilm", "\xC3\xA9t\xC3\xA9"}, "\xC3\xA9t\xC3\xA9"}, // bytes 128..255 are word bytes
        {{"quilm", long_word}, std::string(127, 'x')},
    };
    for (const auto& c : cases) {
        set_command_line(c.argv);
        app::startup.cmdline_cursor = app::skip_program_name();
        char buffer[app::arg_buffer_size];
        std::memset(buffer, '?', sizeof buffer);
        uint32_t n = app::next_token(buffer);
        EXPECT_EQ(std::string(buffer), c.first_word) << c.argv[0];
        EXPECT_EQ(n, c.first_word.size());
    }
}

// Catches: an installed program keeping its settings beside the binary, or a built one in /etc, also
// when the build that is installed runs from its build folder (or from a directory that merely
// begins like the installed one).
TEST(SettingsPath, BesideTheExecutableOrTheInstalledFile) {
    app::reset_startup();
    char exe[4096];
    const std::string path(exe, platform::os_module_path(exe, sizeof exe));
    const std::string dir = path.substr(0, path.rfind('/')), shorter = dir.substr(0, dir.size() - 1),
                      beside = dir + "/quilm.cfg";
    const struct {
        const char *fixed, *only_from;
        std::string settings;
    } cases[] = {
        {nullptr, nullptr, beside},
        {"/etc/quilm.cfg", nullptr, "/etc/quilm.cfg"},
        {"/etc/quilm.cfg", dir.c_str(), "/etc/quilm.cfg"},
        {"/etc/quilm.cfg", "/usr/bin", beside},
        {"/etc/quilm.cfg", shorter.c_str(), beside},
    };
    for (const auto& c : cases) {
        app::build_settings_path(c.fixed, c.only_from);
        EXPECT_EQ(app::startup.settings_path, c.settings) << (c.only_from ? c.only_from : "-");
    }
}

TEST(Identify, FamilyAndModelFromCpuid) {
    struct {
        uint32_t eax;
        uint8_t family, model, stepping, ex_family, ex_model;
    } cases[] = {
        {0x00100F42, 0xF, 4, 2, 0x10, 0x04},   {0x00610F01, 0xF, 0, 1, 0x15, 0x10},
        {0x00800F11, 0xF, 1, 1, 0x17, 0x01},   {0x0FF00F00, 0xF, 0, 0, 0x0E, 0x00}, // ex_family modulo 256
        {0x000306A9, 0x6, 0xA, 9, 0x06, 0x3A},
    };
    for (const auto& c : cases) {
        app::identify_processor(c.eax);
        const auto& st = app::startup;
        EXPECT_EQ(std::tie(st.family, st.model, st.stepping, st.ex_family, st.ex_model),
                  std::tie(c.family, c.model, c.stepping, c.ex_family, c.ex_model))
            << std::hex << c.eax;
    }
}

class Startup : public test::AppTest {
  protected:
    // Runs the program without arguments on the simulated processor; returns its exit code.
    uint32_t run_plain(const char* sim) {
        reset(sim);
        set_command_line({"quilm"});
        testing::internal::CaptureStderr();
        uint32_t code = run();
        testing::internal::GetCapturedStderr();
        return code;
    }
};

TEST_F(Startup, FailuresShowTheirBoxAndEndWithExitCodeZero) {
    struct {
        const char* sim;
        const char* text;
        bool hardware_released;
    } cases[] = {
        {"fam10h,init=fail", "couldn't init winring0", false},
        {"nosuchprofile", "couldn't init winring0", false},
        {"fam10h,driver=error", "winring0 driver error", false},
        {"fam10h,pstates=1", "couldn't read any p-states", true},
        {"fam10h,pstates=0", "couldn't read any p-states", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim);
        EXPECT_EQ(run_plain(c.sim), 0u);
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, c.text);
        EXPECT_EQ(boxes()[0].caption, "error!?");
        EXPECT_TRUE(platform::headless.created); // the box has its window
        EXPECT_EQ(tk::widgets.used_length, 0u);
        EXPECT_TRUE(!c.hardware_released || platform::sim_processor_count() == 0);
    }
}

// Catches: the window not created at 544 x 400 with the manual title or never painted, the
// system's processor count used instead of the simulated one, hardware kept open after the loop.
TEST_F(Startup, TheWindowOpensPaintedAndHardwareIsReleasedAfterTheLoop) {
    EXPECT_EQ(run_plain("fam15h"), 0u);
    EXPECT_TRUE(boxes().empty());
    EXPECT_EQ(app::startup.processor_count, 4u);
    EXPECT_EQ(platform::headless_titles().at(0), "QUILM (manual)");
    EXPECT_GT(platform::headless.paint_count, 0u);
    EXPECT_EQ(platform::headless.frame_width, 544);
    EXPECT_EQ(platform::headless.frame_height, 400);
    EXPECT_EQ(platform::sim_processor_count(), 0u);
}

} // namespace
