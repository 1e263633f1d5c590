// The settings file: save and load, the sizes a file may have, the failure
// messages, the mends (read-only file, disk full, planted link, other layout),
// and "load" as the first command-line word.
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/layouts.h"
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
        start_quietly("fam10h");
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
// auto_start taken from a 96-byte file, a file of another layout, one that cannot be opened or one with a
// value beyond its slider loaded (or clamped into range), a failure without the path in its box, a
// read-only file refused.
TEST_F(Settings, LoadOutcomes) {
    pstate.table.rows[1].multi = 20; // an edit not yet applied is saved as it stands
    const Bytes table = table_image(), file = saved(1);
    ASSERT_EQ(file.size(), 102u);
    auto head = [&](size_t n) { return Bytes(file.begin(), file.begin() + n); };
    EXPECT_EQ(std::tuple(head(96), file[96], boxes().back().text, boxes().back().caption),
              std::tuple(table, 1, "saved.", "success"));
    Bytes other = file, wide = file, long_file = head(97);
    other[101] = 2; // saved on a family-15h processor
    wide[69] = 200; // row 1's multiplier beyond its slider
    long_file.resize(200, 0xEE);
    const std::string missing_dir = std::string(dir_) + "/none/quilm.cfg";
    struct {
        const char* name;
        Bytes bytes;      // written to the settings file first
        std::string path; // the settings path, empty: the file
        uint32_t result;
        uint8_t auto_start; // starts at 7
        const char* why;    // what the box says after the path, empty: the path alone
    } cases[] = {
        {"96 bytes: auto_start kept", head(96), "", 0, 7, ""},
        {"97 bytes", head(97), "", 0, 1, ""},
        {"200 bytes: the rest ignored", long_file, "", 0, 1, ""},
        {"a multiplier beyond its slider", wide, "", 1, 7,
         ": a row holds a value outside its column's range: nothing loaded"},
        {"50 bytes", head(50), "", 1, 7, ""},
        {"empty", Bytes{}, "", 1, 7, ""},
        {"another layout", other, "", 1, 7, ": saved for another register layout: nothing loaded"},
        {"a directory", Bytes{}, dir_, 1, 7, ""},
        {"a missing file", Bytes{}, std::string(dir_) + "/missing.cfg", 1, 7, ""},
        {"a missing directory", Bytes{}, missing_dir, 1, 7, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        write_file(path_, c.bytes);
        chmod(path_.c_str(), 0444); // read-only files load
        const std::string path = c.path.empty() ? path_ : c.path;
        std::snprintf(app::startup.settings_path, app::settings_path_size, "%s", path.c_str());
        app::reset_pstate();
        app::settings.auto_start = 7;
        pstate.auto_mode = 1; // automatic mode ends only for a file that loads
        const size_t shown = boxes().size();
        EXPECT_EQ(app::load_settings(-1), c.result);
        EXPECT_EQ(std::pair(app::settings.auto_start, pstate.auto_mode),
                  std::pair(c.auto_start, uint8_t(c.result)));
        if (c.result == 0) {
            const Bytes image = table_image();
            EXPECT_EQ(std::tuple(Bytes(image.begin(), image.begin() + 64), pstate.table.rows[1].multi,
                                 boxes().size()),
                      std::tuple(head(64), c.bytes[69], shown));
        } else {
            EXPECT_EQ(table_image(), Bytes(96, 0)); // a refused file changes nothing
            pstate.auto_mode = 0;
            ASSERT_EQ(boxes().size(), shown + 1);
            EXPECT_EQ(std::tuple(boxes().back().text, boxes().back().caption),
                      std::tuple(path + c.why, "error!?"));
        }
        chmod(path_.c_str(), 0644);
    }
    std::snprintf(app::startup.settings_path, app::settings_path_size, "%s", missing_dir.c_str());
    app::save_settings(-1);
    EXPECT_EQ(std::tuple(boxes().back().text, boxes().back().caption), std::tuple(missing_dir, "error!?"));
}

// Row bytes as the earlier release decoded a register, sliders clamped: below family 15h the older
// fields, from it on the core Vid's upper seven bits (16..10) and the NB P-state bit.
app::PstateRow earlier_row(uint64_t reg, bool family15h) {
    const uint32_t w = uint32_t(reg);
    auto clamp = [](uint32_t b, uint32_t lo, uint32_t hi) { return uint8_t(std::clamp(b & 0xFF, lo, hi)); };
    return {uint8_t(reg >> 63), clamp(((w & 0x3F) + 16) / (1u << (w >> 6 & 7)), 8, 63),
            clamp(124 - (w >> (family15h ? 10 : 9) & 0x7F), 69, 124),
            family15h ? uint8_t(w >> 22 & 1) : clamp(124 - (w >> 25), 69, 124)};
}

// The processor's table saved as the earlier release saved it (`code` -1: the plain format, no
// trailer), or (`earlier` false) as this release saves it with the trailer code replaced.
Bytes settings_file(int code, bool earlier) {
    Bytes file = table_image();
    for (int i = 0; earlier && i < 8; ++i) {
        const app::PstateRow row = earlier_row(app::join(pstate.table.reg_low[i], pstate.table.reg_high[i]),
                                               app::startup.ex_family >= 0x15);
        std::memcpy(&file[64 + 4 * i], &row, 4);
    }
    file.push_back(0);
    if (code >= 0) file.insert(file.end(), {'Q', 'L', 'Y', 'T', uint8_t(code)});
    return file;
}

// Every register of every simulated processor, in one list.
std::vector<uint64_t> registers() {
    std::vector<uint64_t> all;
    for (uint32_t p = 0; p < platform::sim_processor_count(); ++p)
        for (uint32_t i = 0; i < 8; ++i) platform::sim_register(p, 0xC0010064 + i, &all.emplace_back());
    return all;
}

using Status = app::SettingsStatus;

// Catches: a file read with another meaning than it was written with (the earlier family-15h
// 12.5 mV bytes as 6.25 mV ones, the plain format on a layout it misreads, a code of another
// layout), and an unedited file that does not apply bit for bit or writes at all.
TEST_F(Settings, EachFileIsReadWithItsOwnMeaningOrRefused) {
    constexpr Status ok = Status::ok, converted = Status::converted, other = Status::other_layout;
    struct {
        const char* sim;
        int code;     // -1: no trailer
        bool earlier; // made by the earlier release (else by this one)
        Status want;
    } cases[] = {
        // clang-format off
        {"fam10h", -1, true, ok},             {"fam10h", 1, true, ok},            {"fam10h", 2, true, other},
        {"fam10h", 12, false, other},         {"fam10h,pvi=1", -1, true, other},  {"fam10h,pvi=1", 1, true, other},
        {"fam10h,pvi=1", 2, true, other},     {"fam10h,pvi=1", 11, false, ok},    {"fam15h-m01", -1, true, other},
        {"fam15h-m01", 1, true, other},       {"fam15h-m01", 2, true, other},     {"fam15h-m01", 12, false, other},
        {"fam15h-m01", 6, false, ok},         {"fam15h", -1, true, converted},    {"fam15h", 1, true, other},
        {"fam15h", 2, true, converted},       {"fam15h", 12, false, ok},          {"fam15h", 2, false, Status::out_of_range},
        {"fam16h", -1, true, converted},      {"fam16h", 2, true, converted},     {"fam16h", 12, false, ok},
        {"fam17h", -1, true, other},          {"fam17h", 2, true, other},         {"fam17h", 12, false, other},
        {"fam17h", 7, false, ok},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.sim << " code " << c.code << (c.earlier ? " earlier" : ""));
        start_quietly(c.sim);
        write_file(path_, settings_file(c.code, c.earlier));
        const Bytes table = table_image();
        const std::vector<uint64_t> before = registers();
        static int writes;
        writes = 0;
        platform::sim_before_write = [](uint32_t, uint32_t, uint64_t) { ++writes; };
        EXPECT_EQ(app::load_image(path_.c_str()), c.want);
        if (c.want == ok || c.want == converted) {
            app::apply_settings(-1);
            EXPECT_TRUE(boxes().empty()) << boxes().back().text;
        } else {
            EXPECT_EQ(table_image(), table);
        }
        // The processor's own table: no write.
        EXPECT_EQ(std::pair(registers(), writes), std::pair(before, 0));
        platform::sim_before_write = nullptr;
    }
}

// Catches: an earlier 12.5 mV core voltage converted to anything but the Vid twice (124 - byte), an
// unedited row's odd Vid rounded, and a byte outside the earlier slider's range taken at all.
TEST_F(Settings, EarlierCoreVoltagesConvertExactly) {
    for (const int code : {-1, 2}) {
        start_quietly("fam15h"); // rows 2 and 4 hold the odd Vids 29 and 57, row 3 the even 38
        Bytes file = settings_file(code, true);
        const std::vector<uint64_t> before = registers();
        for (int byte = 0; byte < 256; ++byte) {
            SCOPED_TRACE(testing::Message() << "code " << code << " byte " << byte);
            file[64 + 4 * 3 + 2] = uint8_t(byte);
            write_file(path_, file);
            const bool in_range = byte >= 69 && byte <= 124; // the earlier slider's range
            ASSERT_EQ(app::load_image(path_.c_str()), in_range ? Status::converted : Status::out_of_range);
            if (!in_range) continue;
            EXPECT_EQ(std::tuple(pstate.table.rows[2].vcore, pstate.table.rows[3].vcore,
                                 pstate.table.rows[4].vcore),
                      std::tuple(248 - 29, 2 * byte, 248 - 57));
            app::apply_settings(-1);
            std::vector<uint64_t> want = before;
            for (uint32_t p = 0; p < 4; ++p)
                want[8 * p + 3] = (before[3] & ~0x1FE00ull) | uint64_t(2 * (124 - byte)) << 9;
            EXPECT_EQ(registers(), want);
        }
        // Row 7 at 0.6125 V (Vid 150) with the byte this release shows for it, 98: under the earlier
        // meaning an edit to 0.9625 V, under this one unedited. Which was meant cannot be told.
        const uint32_t vid150 = 150 << 9; // row 7 is disabled, its word 0
        std::memcpy(&file[4 * 7], &vid150, 4);
        file[64 + 4 * 3 + 2] = 105, file[64 + 4 * 7 + 2] = 98;
        write_file(path_, file);
        EXPECT_EQ(app::load_image(path_.c_str()), Status::out_of_range);
    }
    EXPECT_TRUE(boxes().empty());
}

// Catches: a file's current limit, or any bit no column shows, written over the processor's own, and a
// file's field that sets what no slider shows.
TEST_F(Settings, BitsNoColumnShowsStayTheProcessors) {
    start_quietly("fam17h");
    Bytes file = settings_file(7, false);
    file[3] ^= 0x0C;           // row 0: IddValue 29..22, the current limit, is not shown
    file[4 + 3] ^= 0xC0;       // row 1: IddDiv 31..30
    file[32 + 4 * 1] ^= 0x10;  // row 1: reserved bit 36
    file[64 + 4 * 1 + 2] -= 2; // row 1: core voltage two steps lower
    write_file(path_, file);
    const std::vector<uint64_t> before = registers();
    ASSERT_EQ(app::load_image(path_.c_str()), Status::ok);
    app::apply_settings(-1);
    std::vector<uint64_t> want = before;
    for (uint32_t p = 0; p < 8; ++p) want[8 * p + 1] = before[1] + (uint64_t{2} << 14); // Vid 2 higher
    EXPECT_EQ(registers(), want);
    // A field that the file changes to a value no slider shows: P1's Vid F8h, "off", as its byte says
    // (the Vid's bits 21..17 set, in the word's third byte).
    file[4 + 2] |= 0xF8u << 14 >> 16;
    file[64 + 4 * 1 + 2] = app::byte_off;
    write_file(path_, file);
    EXPECT_EQ(app::load_image(path_.c_str()), Status::out_of_range);
}

// Catches: a failed save (a full disk) that spoils the old file or leaves a temporary one beside it, a
// failure not told, and a save that writes through a link planted at the path.
TEST_F(Settings, ASaveLeavesTheOldFileOnFailureAndNeverWritesThroughALink) {
    const Bytes old = saved(0);
    pstate.table.rows[0].multi = 12;
    // A file size limit makes writes fail the way a full disk does.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved_limit;
    getrlimit(RLIMIT_FSIZE, &saved_limit);
    const rlimit small{40, saved_limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    app::save_settings(-1);
    setrlimit(RLIMIT_FSIZE, &saved_limit);
    // The old file as it was, nothing left beside it.
    EXPECT_EQ(std::tuple(boxes().back().text, boxes().back().caption, read_file(path_),
                         std::system(("test $(ls -A " + std::string(dir_) + " | wc -l) -eq 1").c_str())),
              std::tuple(path_, "error!?", old, 0));

    const std::string victim = std::string(dir_) + "/victim";
    write_file(victim, Bytes{1, 2, 3});
    std::remove(path_.c_str());
    ASSERT_EQ(symlink(victim.c_str(), path_.c_str()), 0);
    saved(0);
    struct stat st;
    ASSERT_EQ(lstat(path_.c_str(), &st), 0);
    EXPECT_EQ(std::pair(read_file(victim), S_ISREG(st.st_mode)), std::pair(Bytes{1, 2, 3}, true));
}

// Catches: a first word in other letters, shorter than "load" or only beginning with it loading,
// and loading that applies nothing or leaves automatic mode off.
TEST_F(Settings, LoadAsFirstWordAppliesAndSwitchesAutoModeOn) {
    // The settings file of the command line lies beside the test program; this test only uses it.
    start_quietly("fam10h"); // a file saved from an edited table with automatic mode on
    pstate.table.rows[1].multi = 20;
    pstate.auto_mode = 1;
    app::save_settings(-1);
    const std::string cfg = app::startup.settings_path;
    for (const auto& [word, applied] :
         {std::pair{"lo", false}, {"LOAD", false}, {"loading", false}, {"load", true}}) {
        reset("fam10h");
        std::string arg = word;
        char name[] = "quilm", *argv[] = {name, arg.data()};
        platform::os_set_arguments(2, argv);
        testing::internal::CaptureStderr();
        EXPECT_EQ(run(), applied ? 0u : 2u) << word; // any other word is a usage error
        testing::internal::GetCapturedStderr();
        // No hardware opened at all for a usage error; a title more where auto mode was switched on.
        uint64_t def1 = 0;
        const bool written = platform::sim_register(0, 0xC0010065, &def1) && (def1 & 0x3F) == 4;
        EXPECT_EQ(std::pair(written, platform::headless_titles().size() > 1), std::pair(applied, applied))
            << word;
    }
    std::remove(cfg.c_str());
}

} // namespace
