// Start-up: the command-line reader, the settings path, processor
// identification, and the start-up sequence with its failure paths.
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "app/cli.h"
#include "platform/os.h"
#include "tests/app_fixture.h"

namespace {

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

class Startup : public test::AppTest {};

// Catches: a quoted program name cut at its first blank (Windows' autostart from "Program Files"
// never loading), "load" taken by its first four letters or with more words after it (a dry run
// that writes), a word or file name cut, split at a quoted blank or losing its quotes and
// backslashes on the way from argv; each on the raw line Windows hands out and through argv.
TEST_F(Startup, EveryWordFromOneCommandLineReader) {
    const std::string long_word(5000, 'x');
    struct {
        std::vector<std::string> argv; // one element: a raw command line as Windows hands it out
        int code;                      // of run_command: -1 the window
        const char* arg_buffer;        // "load" when the window loads the settings file first
        const char* said;              // on stderr
    } cases[] = {
        // clang-format off
        {{R"("C:\Program Files\quilm\quilm.exe" load)"}, -1, "load", ""},
        {{R"("C:\Program Files\quilm\quilm.exe")"}, -1, "", ""},
        {{R"("C:\Program Files\quilm\quilm.exe"   "load"  )"}, -1, "load", ""},
        {{R"(C:\quilm\quilm.exe load --dry-run)"}, 2, "", "load takes no other word: --dry-run"},
        // unquoted: ends at the blank
        {{R"(C:\Program Files\quilm.exe load)"}, 2, "", "unknown word: Files\\quilm.exe"},
        {{R"("C:\q.exe" apply "C:\my dir\a \"b\".cfg")"}, 3, "", R"(C:\my dir\a "b".cfg: cannot read)"},
        {{R"("C:\q.exe" apply C:\dir\\\"x\" -v)"}, 3, "", R"(C:\dir\"x": cannot read)"},
        {{"/opt/my tools/quilm", "load"}, -1, "load", ""},
        {{"/opt/tab\tdir/quilm", "load"}, -1, "load", ""},
        {{"quilm", "\t load"}, 2, "", "unknown word: \t load"},
        {{"quilm", "load", "--dry-run"}, 2, "", "load takes no other word: --dry-run"},
        {{"quilm", "load", ""}, 2, "", "load takes no other word: \n"},
        {{"quilm", "loading"}, 2, "", "unknown word: loading"},
        {{"quilm", "loadx"}, 2, "", "unknown word: loadx"},
        {{"quilm", "list", "extra"}, 2, "", "unknown option: extra"},
        {{"quilm", "apply", "/tmp/no such dir/a \"b\" c\\"}, 3, "", "/tmp/no such dir/a \"b\" c\\: cannot read"},
        {{"quilm", "\xC3\xA9t\xC3\xA9"}, 2, "", "unknown word: \xC3\xA9t\xC3\xA9"},
        {{"quilm", "apply", long_word}, 2, "", "word too long"},
        // clang-format on
    };
    std::vector<char*> argv; // over the words in `cases`, both alive while the program reads them
    for (auto& c : cases) {
        SCOPED_TRACE(c.argv.back());
        reset("fam10h");
        argv.clear(); // the command line from the words, as the system would join them
        for (auto& w : c.argv) argv.push_back(w.data());
        platform::os_set_arguments(int(argv.size()), argv.data());
        const char* line = c.argv.size() == 1 ? c.argv[0].c_str() : platform::os_command_line();
        app::startup.cmdline_cursor = app::skip_program_name(line);
        testing::internal::CaptureStderr();
        EXPECT_EQ(app::run_command(), c.code);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(app::startup.arg_buffer, c.arg_buffer);
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
    }
}

// Catches: a start-up failure without its box (or the box without its window), a start ending with
// another exit code, hardware kept open after a failure that opened it; the window not created at
// 544 x 400 with the manual title or never painted, the system's processor count used instead of
// the simulated one, hardware kept open after the loop.
TEST_F(Startup, EachStartEndsWithExitCodeZeroAndTheHardwareReleased) {
    struct {
        const char* sim;
        const char* text; // of the one box; nullptr: the window opens
        bool hardware_released;
    } cases[] = {
        {"fam10h,init=fail", "couldn't init winring0", false},
        {"nosuchprofile", "couldn't init winring0", false},
        {"fam10h,driver=error", "winring0 driver error", false},
        {"fam10h,pstates=1", "couldn't read any p-states", true},
        {"fam10h,pstates=0", "couldn't read any p-states", true},
        {"fam15h", nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim);
        reset(c.sim); // the program without arguments
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(), 0u);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::pair(platform::headless.created,
                            !c.hardware_released || platform::sim_processor_count() == 0),
                  std::pair(true, true));
        if (c.text == nullptr) {
            EXPECT_EQ(std::tuple(boxes().size(), app::startup.processor_count,
                                 platform::headless_titles().at(0), platform::headless.paint_count > 0,
                                 platform::headless.frame_width, platform::headless.frame_height),
                      std::tuple(0u, 4u, "QUILM (manual)", true, 544, 400));
            continue;
        }
        ASSERT_EQ(boxes().size(), 1u); // no widget is laid out
        EXPECT_EQ(std::tuple(boxes()[0].text, boxes()[0].caption, tk::widgets.used_length),
                  std::tuple(c.text, "error!?", 0u));
    }
}

} // namespace
