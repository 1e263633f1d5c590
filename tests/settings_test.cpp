// The settings file: save and load, the sizes a file may have, the failure
// messages, the mends (read-only file, disk full, planted link, other layout),
// and "load" as the first command-line word.
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os.h"
#include "tests/app_fixture.h"

namespace {

using app::pstate;
using Bytes = std::vector<uint8_t>;

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
Bytes table_image() {
    const auto* p = reinterpret_cast<const uint8_t*>(&pstate.table);
    return Bytes(p, p + sizeof pstate.table);
}

class Settings : public test::AppTest {
  protected:
    void SetUp() override {
        testing::internal::CaptureStderr();
        start("fam10h");
        testing::internal::GetCapturedStderr();
        ASSERT_NE(mkdtemp(dir_), nullptr);
        path_ = std::string(dir_) + "/quilm.cfg";
        std::snprintf(app::startup.settings_path, app::settings_path_size, "%s", path_.c_str());
    }
    void TearDown() override {
        std::system(("rm -rf " + std::string(dir_)).c_str());
        test::AppTest::TearDown();
    }
    // Saves the current table with auto_mode set as given; returns the file's bytes.
    Bytes saved(uint8_t auto_mode) {
        pstate.auto_mode = auto_mode;
        app::save_settings(-1);
        pstate.auto_mode = 0;
        return read_file(path_);
    }
    char dir_[64] = "/tmp/quilm-settings-XXXXXX";
    std::string path_;
};

// Catches: the table or the auto flag saved wrongly, a file of any size but 96 and more bytes loaded,
// auto_start taken from a 96-byte file, a file of another layout or one that cannot be opened loaded, a
// failure without the path in its box, a read-only file refused, a loaded value beyond its slider shown
// unclamped.
TEST_F(Settings, LoadOutcomes) {
    pstate.table.rows[1].multi = 20; // an edit not yet applied is saved as it stands
    const Bytes table = table_image(), file = saved(1);
    ASSERT_EQ(file.size(), 102u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 96), table);
    EXPECT_EQ(file[96], 1);
    EXPECT_EQ(boxes().back().text, "saved.");
    EXPECT_EQ(boxes().back().caption, "success");
    Bytes other = file, wide = file;
    other[101] = 2; // saved on a family-15h processor
    wide[69] = 200; // row 1's multiplier beyond its slider
    Bytes long_file(file.begin(), file.begin() + 97);
    long_file.resize(200, 0xEE);
    const std::string missing_dir = std::string(dir_) + "/none/quilm.cfg";
    struct {
        const char* name;
        Bytes bytes;      // written to the settings file first
        std::string path; // the settings path, empty: the file
        uint32_t result;
        uint8_t auto_start; // starts at 7
    } cases[] = {
        {"96 bytes: auto_start kept", Bytes(file.begin(), file.begin() + 96), "", 0, 7},
        {"97 bytes", Bytes(file.begin(), file.begin() + 97), "", 0, 1},
        {"200 bytes: the rest ignored", long_file, "", 0, 1},
        {"a clamped multiplier", wide, "", 0, 1},
        {"50 bytes", Bytes(file.begin(), file.begin() + 50), "", 1, 7},
        {"empty", Bytes{}, "", 1, 7},
        {"another layout", other, "", 1, 7},
        {"a missing file", Bytes{}, std::string(dir_) + "/missing.cfg", 1, 7},
        {"a missing directory", Bytes{}, missing_dir, 1, 7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path_, c.bytes);
        chmod(path_.c_str(), 0444); // read-only files load
        const std::string path = c.path.empty() ? path_ : c.path;
        std::snprintf(app::startup.settings_path, app::settings_path_size, "%s", path.c_str());
        app::reset_pstate();
        app::settings.auto_start = 7;
        const size_t shown = boxes().size();
        EXPECT_EQ(app::load_settings(-1), c.result);
        EXPECT_EQ(app::settings.auto_start, c.auto_start);
        if (c.result == 0) {
            const Bytes image = table_image();
            EXPECT_EQ(Bytes(image.begin(), image.begin() + 64), Bytes(file.begin(), file.begin() + 64));
            EXPECT_EQ(pstate.table.rows[1].multi, c.bytes[69] > 63 ? 63 : c.bytes[69]);
            EXPECT_EQ(boxes().size(), shown);
        } else {
            EXPECT_EQ(table_image(), Bytes(96, 0)); // a refused file changes nothing
            ASSERT_EQ(boxes().size(), shown + 1);
            EXPECT_EQ(boxes().back().text, path);
            EXPECT_EQ(boxes().back().caption, "error!?");
        }
        chmod(path_.c_str(), 0644);
    }
    std::snprintf(app::startup.settings_path, app::settings_path_size, "%s", missing_dir.c_str());
    app::save_settings(-1);
    EXPECT_EQ(boxes().back().text, missing_dir);
    EXPECT_EQ(boxes().back().caption, "error!?");
}

TEST_F(Settings, AFailedSaveLeavesTheOldFile) {
    const Bytes old = saved(0);
    pstate.table.rows[0].multi = 12;
    // A file size limit makes writes fail the way a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved_limit;
    getrlimit(RLIMIT_FSIZE, &saved_limit);
    rlimit small = saved_limit;
    small.rlim_cur = 40;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    app::save_settings(-1);
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    EXPECT_EQ(boxes().back().text, path_);
    EXPECT_EQ(boxes().back().caption, "error!?");
    EXPECT_EQ(read_file(path_), old);
    EXPECT_EQ(std::system(("test $(ls -A " + std::string(dir_) + " | wc -l) -eq 1").c_str()),
              0); // nothing left beside it
}

TEST_F(Settings, ASaveNeverWritesThroughALinkAtThePath) {
    const std::string victim = std::string(dir_) + "/victim";
    write_file(victim, Bytes{1, 2, 3});
    ASSERT_EQ(symlink(victim.c_str(), path_.c_str()), 0);
    saved(0);
    EXPECT_EQ(read_file(victim), (Bytes{1, 2, 3}));
    struct stat st;
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

// The settings file of the command line lies beside the test program; one test only uses it.
class SettingsCommandLine : public test::AppTest {};

// Catches: a first word in other letters, shorter than "load" or only beginning with it loading,
// and loading that applies nothing or leaves automatic mode off.
TEST_F(SettingsCommandLine, LoadAsFirstWordAppliesAndSwitchesAutoModeOn) {
    start_quietly("fam10h"); // a file saved from an edited table with automatic mode on
    pstate.table.rows[1].multi = 20;
    pstate.auto_mode = 1;
    app::save_settings(-1);
    const std::string cfg = app::startup.settings_path;
    for (const auto& [word, applied] :
         {std::pair{"lo", false}, {"LOAD", false}, {"loading", false}, {"load", true}}) {
        reset("fam10h");
        char name[] = "quilm", arg[16];
        std::snprintf(arg, sizeof arg, "%s", word);
        char* argv[] = {name, arg};
        platform::os_set_arguments(2, argv);
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(), applied ? 0u : 2u) << word; // any other word is a usage error
        testing::internal::GetCapturedStderr();
        uint64_t def1 = 0; // no hardware opened at all for a usage error
        EXPECT_EQ(platform::sim_register(0, 0xC0010065, &def1) && (def1 & 0x3F) == 4, applied) << word;
        EXPECT_EQ(platform::headless_titles().size() > 1, applied) << word; // auto mode was switched on
    }
    std::remove(cfg.c_str());
}

} // namespace
