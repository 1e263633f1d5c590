// The crash guard of unattended applies, driven through the command-line words over its seams: a
// state directory and a folder that stands for "/" (boot identity, kernel command line), each
// "boot" starting from the firmware's registers.
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "app/cli.h"
#include "app/guard.h"
#include "platform/os.h"
#include "tests/app_fixture.h"

namespace {

constexpr uint32_t p2 = 0xC0010066;
// P2 as the firmware leaves it, as the tuned settings file holds it, and as the other one does.
constexpr uint64_t fw = 0x800000004C960C60, tu = 0x800000004C950C60, ot = 0x800000004C940C60;

std::string pending_path;
int writes = 0, writes_before_pending = 0;

// The simulator's write path: counts the writes made while `pending` did not exist yet.
void count_write(uint32_t, uint32_t, uint64_t) {
    ++writes;
    if (access(pending_path.c_str(), F_OK) != 0) ++writes_before_pending;
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::trunc) << text;
}

class Guard : public test::AppTest {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(dir_), nullptr);
        dir = dir_;
        ASSERT_EQ(std::system(("mkdir -p " + dir + "/root/proc/sys/kernel/random").c_str()), 0);
        setenv("QUILM_STATE_DIR", (dir + "/state").c_str(), 1);
        setenv("QUILM_SYSTEM_ROOT", (dir + "/root").c_str(), 1);
        pending_path = dir + "/state/pending";
        boot("first", "BOOT_IMAGE=/vmlinuz ro quiet");
        // Two settings files, each with its own P2, saved from the processor as `quilm save` does.
        for (auto [name, value] : {std::pair{"tuned.cfg", tu}, std::pair{"other.cfg", ot}}) {
            reset("fam19h", dir + "/registers");
            testing::internal::CaptureStderr();
            ASSERT_NE(InitializeOls(), 0);
            for (uint32_t p = 0; p < platform::sim_processor_count(); ++p)
                platform::sim_wrmsr_on(p, p2, uint32_t(value), uint32_t(value >> 32));
            DeinitializeOls();
            testing::internal::GetCapturedStderr();
            ASSERT_EQ(words("save " + dir + "/" + name), app::exit_ok) << output;
            std::remove((dir + "/registers").c_str());
        }
        writes = writes_before_pending = 0;
        platform::sim_before_write = count_write;
    }
    void TearDown() override {
        platform::sim_before_write = nullptr;
        unsetenv("QUILM_STATE_DIR");
        unsetenv("QUILM_SYSTEM_ROOT");
        ASSERT_EQ(std::system(("rm -rf " + dir).c_str()), 0);
        test::AppTest::TearDown();
    }

    // The processor as the firmware leaves it, at a boot (a new identity) or a resume (the same).
    void boot(const std::string& id, const std::string& cmdline) {
        reset("fam19h");
        app::reset_guard();
        testing::internal::CaptureStderr(); // the registers readable, also after words that open nothing
        EXPECT_NE(InitializeOls(), 0);
        DeinitializeOls();
        testing::internal::GetCapturedStderr();
        write_text(dir + "/root/proc/sys/kernel/random/boot_id", id + "-0000-4000-8000-000000000000\n");
        if (!cmdline.empty()) write_text(dir + "/root/proc/cmdline", cmdline + "\n");
    }

    // Runs `quilm WORDS`; T and O stand for the two settings files. Keeps stdout and stderr.
    int words(const std::string& line) {
        std::vector<std::string> list{"quilm"};
        std::istringstream split(line);
        for (std::string w; split >> w;)
            list.push_back(w == "T" ? dir + "/tuned.cfg" : w == "O" ? dir + "/other.cfg" : w);
        std::vector<char*> argv;
        for (auto& w : list) argv.push_back(w.data());
        platform::os_set_arguments(int(argv.size()), argv.data());
        app::startup.cmdline_cursor = app::skip_program_name(platform::os_command_line());
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const int code = app::run_command();
        output = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
        return code;
    }

    bool exists(const char* name) const { return access((dir + "/state/" + name).c_str(), F_OK) == 0; }

    char dir_[32] = "/tmp/quilm-guard-XXXXXX";
    std::string dir, output;
};

struct Step {
    const char* boot;    // a new boot of this identity, "" a resume in the same boot
    const char* cmdline; // the kernel command line of a new boot ("" keeps it)
    const char* words;   // after "quilm"; "!corrupt" spoils `pending`, "!unwritable" the state directory
    int code;
    uint64_t p2;  // P2 on every processor afterwards
    bool pending; // the state files afterwards
    bool quarantine;
    const char* says = nullptr; // in stdout or stderr
};

constexpr const char* quiet = "BOOT_IMAGE=/vmlinuz ro quiet";
constexpr const char* apply = "apply T --unattended";

// Catches: a crash loop (the same settings applied again after an unconfirmed apply), a quarantine
// that forgets after one boot or survives rearm, confirm ignoring the awake time or the boot, a resume
// taken for a crash, quilm.noapply matched as part of a word or changing the state, a corrupt record
// taken as no record, writing registers without `pending` (or when it cannot be written), new settings
// kept out by an old quarantine.
TEST_F(Guard, UnattendedAppliesAcrossBootsResumesAndCrashes) {
    const std::string long_cmdline = "ro " + std::string(3000, 'x') + " quilm.noapply"; // the word read last
    // clang-format off
    const struct {
        const char* name;
        std::vector<Step> steps;
    } scenarios[] = {
        {"crash, skip, skip, rearm", {
            {"b1", "", apply, 0, tu, true, false, "applying at boot"},
            {"b2", "", apply, 4, fw, false, true, "did not survive 2 minutes; run 'quilm rearm' to try them again"},
            {"b3", "", apply, 4, fw, false, true},
            {"", "", "check", 0, fw, false, true, "ok  crash guard         quarantined since"},
            {"", "", "apply T", 0, tu, false, true, "warning: the saved settings were not applied at boot"},
            {"", "", "rearm", 0, fw, false, false, "rearmed"},
            {"b4", "", apply, 0, tu, true, false}}},
        {"confirmed, then the next boot applies", {
            {"b1", "", apply, 0, tu, true, false},
            {"", "", "check", 0, fw, true, false, "ok  crash guard         pending since"},
            {"", "", "confirm --after 0", 0, fw, false, false, "confirmed: the settings applied at boot"},
            {"", "", "check", 0, fw, false, false, "ok  crash guard         armed"},
            {"b2", "", apply, 0, tu, true, false}}},
        {"confirm too early or of another boot", {
            {"b1", "", apply, 0, tu, true, false},
            {"", "", "confirm", 0, fw, true, false, "not confirmed yet: 0 of 120 seconds"},
            {"b2", "", "confirm --after 0", 0, fw, true, false, "of another boot"},
            {"", "", apply, 4, fw, false, true}}},
        {"a resume in the same boot", {
            {"b1", "", apply, 0, tu, true, false},
            {"", "", apply, 0, tu, true, false}}},
        {"quilm.noapply skips and changes nothing", {
            {"b1", "", apply, 0, tu, true, false},
            {"b2", "ro quilm.noapply quiet", apply, 4, fw, true, false, "quilm.noapply is on the kernel command line"},
            {"", "", "check", 3, fw, true, false, "quilm.noapply on the kernel command line"}}},
        {"only the exact word counts", {
            {"b1", "ro quilm.noapply2 xquilm.noapply quilm.noapply=1", apply, 0, tu, true, false},
            {"b2", long_cmdline.c_str(), apply, 4, fw, true, false}}},
        {"a corrupt pending counts as a crash", {
            {"b1", "", "!corrupt", 0, fw, true, false},
            {"b2", "", apply, 4, fw, false, true, "could not be read after a restart"},
            {"b3", "", apply, 4, fw, false, true}}},
        {"new settings after a quarantine are applied", {
            {"b1", "", apply, 0, tu, true, false},
            {"b2", "", apply, 4, fw, false, true},
            {"b3", "", "apply O --unattended", 0, ot, true, true},
            {"", "", "apply O", 0, ot, true, true, ""}}},
        {"a state directory that cannot be written", {
            {"b1", "", "!unwritable", 0, fw, false, false},
            {"", "", apply, 3, fw, false, false, "/file/state/pending: nothing applied"}}},
        {"options", {
            {"b1", "", "apply T --unattended --dry-run", 2, fw, false, false, "do not go together"},
            {"", "", "confirm --after", 2, fw, false, false},
            {"", "", "confirm --after 1e3", 2, fw, false, false},
            {"", "", "rearm now", 2, fw, false, false}}},
    };
    // clang-format on
    std::string last_boot;
    for (const auto& s : scenarios) {
        for (size_t i = 0; i < s.steps.size(); ++i) {
            const Step& st = s.steps[i];
            SCOPED_TRACE(std::string(s.name) + ", step " + std::to_string(i + 1) + ": " + st.words);
            if (st.boot[0] != '\0') last_boot = st.boot;
            boot(last_boot, st.cmdline[0] != '\0' ? st.cmdline : st.boot[0] != '\0' ? quiet : "");
            const std::string w = st.words;
            if (w == "!corrupt") {
                mkdir((dir + "/state").c_str(), 0755);
                write_text(pending_path, "quilm pending 1\nboot b1\ntime 12x\n");
            }
            if (w == "!unwritable") write_text(dir + "/file", ""); // a file where a directory should be
            if (w == "!unwritable") setenv("QUILM_STATE_DIR", (dir + "/file/state").c_str(), 1);
            writes_before_pending = 0;
            const int code = w[0] == '!' ? 0 : words(w);
            // An unattended apply writes nothing before `pending` exists.
            const int early = std::strstr(st.words, "--unattended") ? writes_before_pending : 0;
            EXPECT_EQ(
                std::tuple(code, early, reg(0, p2), reg(15, p2), exists("pending"), exists("quarantine")),
                std::tuple(st.code, 0, st.p2, st.p2, st.pending, st.quarantine))
                << output;
            // What is said, where a step names it; "" says nothing is warned of.
            const bool found = st.says && output.find(*st.says ? st.says : "warning") != std::string::npos;
            EXPECT_TRUE(!st.says || found == (*st.says != '\0')) << output;
        }
        ASSERT_EQ(std::system(("rm -rf " + dir + "/state").c_str()), 0);
        setenv("QUILM_STATE_DIR", (dir + "/state").c_str(), 1);
    }
    EXPECT_GT(writes, 0);
}

} // namespace
