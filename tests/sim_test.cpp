// The simulated processor: its profiles, its options, register writes by mask,
// the state file, and its selection through QUILM_SIM.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/hw.h"
#include "platform/sim.h"

namespace {

constexpr uint32_t control = 0xC0010062, status = 0xC0010063, definition = 0xC0010064, cofvid = 0xC0010071;

uint64_t reg(uint32_t processor, uint32_t index) {
    uint64_t value = 0;
    EXPECT_TRUE(platform::sim_register(processor, index, &value)) << processor << " " << std::hex << index;
    return value;
}

// Current P-state of processor 0 as the program sees it: software from status, hardware from COFVID.
void current_pstate(uint32_t* software, uint32_t* hardware) {
    uint32_t eax = 0, edx = 0;
    ASSERT_EQ(platform::sim_rdmsr(status, &eax, &edx), 1);
    *software = eax & 7;
    ASSERT_EQ(platform::sim_rdmsr(cofvid, &eax, &edx), 1);
    *hardware = eax >> 16 & 7;
}

// Readable definition registers: reads succeed up to the first failure.
uint32_t readable_count() {
    uint32_t n = 0, eax, edx;
    while (n < 8 && platform::sim_rdmsr(definition + n, &eax, &edx)) ++n;
    return n;
}

int line_count(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

std::string temp_path(const char* name) {
    std::string path = testing::TempDir() + "quilm_sim_" + name;
    std::remove(path.c_str());
    return path;
}

class Sim : public testing::Test {
  protected:
    void SetUp() override { platform::sim_reset(); }
    void TearDown() override { platform::sim_reset(); }
};

TEST_F(Sim, ProfilesLookLikeTheirProcessors) {
    struct Case {
        const char* text;
        uint32_t cpuid_eax, cores, readable, offset, enabled; // enabled: mask of rows with bit 63
    };
    const Case cases[] = {
        {"fam10h", 0x00100F42, 4, 5, 0, 0x0F},
        {"fam15h", 0x00610F01, 4, 8, 2, 0x7F},
        {"fam17h", 0x00800F11, 8, 8, 0, 0x07},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::sim_reset();
        ASSERT_EQ(platform::sim_initialize(c.text, nullptr), 1);
        EXPECT_EQ(platform::sim_status(), 0u);
        uint32_t eax, ebx, ecx, edx;
        ASSERT_EQ(platform::sim_cpuid(1, &eax, &ebx, &ecx, &edx), 1);
        EXPECT_EQ(eax, c.cpuid_eax);
        EXPECT_EQ(platform::sim_processor_count(), c.cores);
        EXPECT_EQ(readable_count(), c.readable);
        uint32_t software, hardware;
        current_pstate(&software, &hardware);
        EXPECT_EQ(software, 0u);
        EXPECT_EQ(hardware - software, c.offset);
        uint32_t enabled = 0;
        for (uint32_t i = 0; i < 8; ++i) enabled |= uint32_t(reg(0, definition + i) >> 63) << i;
        EXPECT_EQ(enabled, c.enabled);
        // Every processor starts with the same definitions.
        for (uint32_t p = 1; p < c.cores; ++p)
            for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(reg(p, definition + i), reg(0, definition + i));
    }
}

// The profiles' operating points decode to realistic frequencies and voltages in their layouts.
TEST_F(Sim, ProfileOperatingPointsDecode) {
    struct Case {
        const char* profile;
        uint32_t row, mhz, microvolts, nb; // nb: NB VID (family 10h) or NB P-state bit (family 15h)
    };
    const Case cases[] = {
        {"fam10h", 0, 3000, 1425000, 30}, {"fam10h", 3, 800, 1025000, 34}, {"fam15h", 0, 4200, 1475000, 0},
        {"fam15h", 2, 3800, 1368750, 0},  {"fam15h", 6, 1400, 893750, 1},  {"fam17h", 0, 3600, 1350000, 0},
        {"fam17h", 2, 2200, 900000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.profile << " row " << c.row);
        platform::sim_reset();
        ASSERT_EQ(platform::sim_initialize(c.profile, nullptr), 1);
        uint32_t low = uint32_t(reg(0, definition + c.row));
        uint32_t mhz, microvolts, nb;
        if (std::string(c.profile) == "fam17h") { // FID 7..0, DfsId 13..8, VID 21..14
            mhz = 200 * (low & 0xFF) / (low >> 8 & 0x3F);
            microvolts = 1550000 - 6250 * (low >> 14 & 0xFF);
            nb = 0;
        } else if (std::string(c.profile) == "fam15h") { // 8-bit VID 16..9, NB P-state 22
            mhz = 100 * ((low & 0x3F) + 16) >> (low >> 6 & 7);
            microvolts = 1550000 - 6250 * (low >> 9 & 0xFF);
            nb = low >> 22 & 1;
        } else { // 7-bit VID 15..9, NB VID 31..25
            mhz = 100 * ((low & 0x3F) + 16) >> (low >> 6 & 7);
            microvolts = 1550000 - 12500 * (low >> 9 & 0x7F);
            nb = low >> 25;
        }
        EXPECT_EQ(mhz, c.mhz);
        EXPECT_EQ(microvolts, c.microvolts);
        EXPECT_EQ(nb, c.nb);
    }
}

TEST_F(Sim, OptionsChangeTheProcessor) {
    struct Case {
        const char* text;
        uint32_t cores, readable, software, hardware; // current P-state in both numberings
    };
    const Case cases[] = {
        {"fam10h,cores=1", 1, 5, 0, 0},           {"fam10h,cores=64", 64, 5, 0, 0},
        {"fam15h,pstates=3", 4, 3, 0, 2},         {"fam15h,pstates=0", 4, 0, 0, 2},
        {"fam15h,boost=0", 4, 8, 0, 0},           {"fam15h,current=5", 4, 8, 3, 5},
        {"fam10h,current=3,boost=1", 4, 5, 2, 3}, {"fam17h,cores=2,pstates=2,boost=1", 2, 2, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::sim_reset();
        testing::internal::CaptureStderr();
        ASSERT_EQ(platform::sim_initialize(c.text, nullptr), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(platform::sim_processor_count(), c.cores);
        EXPECT_EQ(readable_count(), c.readable);
        uint32_t software, hardware;
        current_pstate(&software, &hardware);
        EXPECT_EQ(software, c.software);
        EXPECT_EQ(hardware, c.hardware);
    }
}

TEST_F(Sim, FailureOptions) {
    EXPECT_EQ(platform::sim_initialize("fam10h,init=fail", nullptr), 0);
    uint32_t eax, edx;
    EXPECT_EQ(platform::sim_rdmsr(status, &eax, &edx), 0);
    EXPECT_EQ(platform::sim_processor_count(), 0u);

    platform::sim_reset();
    ASSERT_EQ(platform::sim_initialize("fam10h,driver=error", nullptr), 1);
    EXPECT_EQ(platform::sim_status(), 1u);
}

// An unknown profile, option or value stops the start with one line naming it.
TEST_F(Sim, UnknownOrOutOfRangeOptionsFailTheStart) {
    struct Case {
        const char* text;
        const char* named;
    };
    const Case cases[] = {
        {"fam11h", "\"fam11h\""},
        {"", "unknown simulated processor \"\""},
        {"fam10h,turbo=1", "\"turbo=1\""},
        {"fam10h,cores=", "\"cores=\""},
        {"fam10h,cores=x2", "\"cores=x2\""},
        {"fam10h,cores=0", "\"cores=0\" in QUILM_SIM is out of range (1..64)"},
        {"fam10h,cores=99999999999", "\"cores=99999999999\""},
        {"fam10h,pstates=9", "\"pstates=9\""},
        {"fam15h,current=1", "\"current=1\""}, // a boosted row
        {"fam10h,reject=8", "\"reject=8\""},
        {"fam10h,init=later", "\"init=later\""},
        {"fam10h,", "option \"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::sim_reset();
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::sim_initialize(c.text, nullptr), 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_NE(err.find(c.named), std::string::npos) << err;
        EXPECT_EQ(platform::sim_processor_count(), 0u);
    }
}

// A control write changes the current P-state only on the processors of the mask.
TEST_F(Sim, ControlWritesFollowTheMask) {
    struct Case {
        uint64_t mask;
        uint32_t value;
        int result;
        uint32_t hardware[4]; // current hardware row per processor afterwards
    };
    const Case cases[] = {
        {0x4, 1, 1, {2, 2, 3, 2}},  {0x1, 4, 1, {6, 2, 3, 2}},
        {0xA, 2, 1, {6, 4, 3, 4}},  {0x1, 6, 1, {6, 4, 3, 4}}, // row 8 does not exist: no change
        {0x2, 8, 0, {6, 4, 3, 4}},                             // reserved bits: refused
        {0x11, 0, 0, {2, 4, 3, 4}}, // processor 4 does not exist; processor 0 still switches
        {0x0, 0, 0, {2, 4, 3, 4}},
    };
    ASSERT_EQ(platform::sim_initialize("fam15h", nullptr), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask << " value " << c.value);
        EXPECT_EQ(platform::sim_wrmsr(control, c.value, 0, c.mask), c.result);
        for (uint32_t p = 0; p < 4; ++p) {
            EXPECT_EQ(reg(p, cofvid) >> 16 & 7, c.hardware[p]) << "processor " << p;
            EXPECT_EQ(reg(p, status), c.hardware[p] - 2) << "processor " << p;
        }
    }
    // Reads see processor 0.
    uint32_t software, hardware;
    current_pstate(&software, &hardware);
    EXPECT_EQ(hardware, 2u);
}

TEST_F(Sim, DefinitionWritesAreStoredUnlessRejected) {
    ASSERT_EQ(platform::sim_initialize("fam10h,reject=1", nullptr), 1);
    const uint64_t old1 = reg(0, definition + 1);
    EXPECT_EQ(platform::sim_wrmsr(definition + 2, 0x11111111, 0x80000000, 0x6), 1);
    EXPECT_EQ(platform::sim_wrmsr(definition + 1, 0x22222222, 0x80000000, 0xF), 1); // silently kept
    EXPECT_EQ(platform::sim_wrmsr(definition + 5, 0x33333333, 0x80000000, 0xF), 0); // not readable
    EXPECT_EQ(platform::sim_wrmsr(status, 3, 0, 0xF), 0);                           // read-only
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(reg(p, definition + 2) == 0x8000000011111111, p == 1 || p == 2);
        EXPECT_EQ(reg(p, definition + 1), old1);
        EXPECT_EQ(reg(p, definition + 5), 0u);
        EXPECT_EQ(reg(p, status), 0u);
    }
}

TEST_F(Sim, StateFileRoundTrip) {
    const std::string path = temp_path("round_trip");
    ASSERT_EQ(platform::sim_initialize("fam15h,cores=2", path.c_str()), 1);
    // Written at once: a comment, then one line per register per processor.
    std::string text = read_file(path);
    std::regex line("(#.*|[0-9]+ [0-9A-F]{8} [0-9A-F]{16})");
    std::istringstream lines(text);
    int registers = 0;
    for (std::string l; std::getline(lines, l);) {
        EXPECT_TRUE(std::regex_match(l, line)) << l;
        registers += l[0] != '#';
    }
    EXPECT_EQ(registers, 2 * 11);
    char expected[40];
    std::snprintf(expected, sizeof expected, "1 C0010066 %016llX\n",
                  (unsigned long long)reg(1, definition + 2));
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    const uint64_t profile_row3 = reg(0, definition + 3);

    ASSERT_EQ(platform::sim_wrmsr(definition + 3, 0x0000A40C, 0x80000030, 0x2), 1);
    ASSERT_EQ(platform::sim_wrmsr(control, 3, 0, 0x3), 1);
    EXPECT_NE(read_file(path).find("1 C0010067 800000300000A40C\n"), std::string::npos);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());

    // A fresh start takes the registers from the file, not from the profile.
    platform::sim_deinitialize();
    platform::sim_reset();
    ASSERT_EQ(platform::sim_initialize("fam15h,cores=2", path.c_str()), 1);
    EXPECT_EQ(reg(1, definition + 3), 0x800000300000A40Cu);
    EXPECT_EQ(reg(0, definition + 3), profile_row3);
    uint32_t software, hardware;
    current_pstate(&software, &hardware);
    EXPECT_EQ(software, 3u);
    EXPECT_EQ(hardware, 5u);
    std::remove(path.c_str());
}

TEST_F(Sim, StateFileSkipsCommentsAndBlankLines) {
    const std::string path = temp_path("comments");
    write_file(path, "# edited by hand\n\n1 C0010065 8000000000001234\r\n#0 C0010065 0000000000000000\n"
                     "0 c0010063 0000000000000001\n");
    ASSERT_EQ(platform::sim_initialize("fam10h", path.c_str()), 1);
    EXPECT_EQ(reg(1, definition + 1), 0x8000000000001234u);
    EXPECT_EQ(reg(0, status), 1u);
    EXPECT_EQ(reg(0, definition + 1) >> 63, 1u); // untouched by the commented line
    EXPECT_EQ(reg(2, definition + 1), reg(0, definition + 1));
    std::remove(path.c_str());
}

// A malformed state file stops the start, is named on stderr and is left as it was.
TEST_F(Sim, MalformedStateFileFailsTheStart) {
    struct Case {
        const char* line;
        const char* words;
    };
    const Case cases[] = {
        {"0 C0010065 80000000000012", "line 2: expected"},
        {"0 C0010065  8000000000001234", "line 2: expected"},
        {"0C0010065 8000000000001234", "line 2: expected"},
        {"0 C001006G 8000000000001234", "line 2: expected"},
        {"4 C0010065 8000000000001234", "processor beyond"},
        {"0 C0010070 8000000000001234", "register not simulated"},
    };
    const std::string path = temp_path("malformed");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        platform::sim_reset();
        const std::string text = std::string("1 C0010064 8000000000000001\n") + c.line + "\n";
        write_file(path, text);
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::sim_initialize("fam10h", path.c_str()), 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
        EXPECT_EQ(read_file(path), text);
        EXPECT_EQ(platform::sim_processor_count(), 0u);
    }
    std::remove(path.c_str());
}

// QUILM_SIM selects the simulator for all six operations, and says so.
TEST_F(Sim, EnvironmentSelectsTheSimulator) {
    ::setenv("QUILM_SIM", "fam15h,cores=2", 1);
    ::unsetenv("QUILM_SIM_STATE");
    testing::internal::CaptureStderr();
    ASSERT_EQ(InitializeOls(), 1);
    std::string err = testing::internal::GetCapturedStderr();
    ::unsetenv("QUILM_SIM");
    EXPECT_EQ(err, "quilm: simulated processor fam15h (QUILM_SIM); no hardware is touched\n");
    EXPECT_EQ(GetDllStatus(), 0u);
    EXPECT_EQ(hw_simulated_processor_count(), 2u);
    uint32_t eax, ebx, ecx, edx;
    ASSERT_EQ(Cpuid(1, &eax, &ebx, &ecx, &edx), 1);
    EXPECT_EQ(eax, 0x00610F01u);
    EXPECT_EQ(WrmsrTx(control, 1, 0, 0x1), 1);
    ASSERT_EQ(Rdmsr(status, &eax, &edx), 1);
    EXPECT_EQ(eax, 1u);
    DeinitializeOls();
    EXPECT_EQ(hw_simulated_processor_count(), 0u);
}

} // namespace
