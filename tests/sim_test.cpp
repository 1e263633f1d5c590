// The simulated processor: its profiles and options, register writes by mask,
// the state file, and its selection through QUILM_SIM.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
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

// Low word of a register as the program reads it, on processor 0.
uint32_t read_low(uint32_t index) {
    uint32_t eax = 0, edx;
    EXPECT_EQ(platform::sim_rdmsr(index, &eax, &edx), 1) << std::hex << index;
    return eax;
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
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

std::string temp_path(const char* name) {
    std::string path = testing::TempDir() + "quilm_sim_" + name;
    std::remove(path.c_str());
    return path;
}

// Starts the simulator afresh and checks the result; returns what it printed on stderr.
std::string start(const char* text, int expected, const std::string& state_path = "") {
    platform::sim_reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::sim_initialize(text, state_path.c_str()), expected) << text;
    return testing::internal::GetCapturedStderr();
}

class Sim : public testing::Test {
  protected:
    void TearDown() override { platform::sim_reset(); }
};

// Each profile looks like its processor, and each option changes what it names, quietly.
TEST_F(Sim, ProfilesAndOptionsShapeTheProcessor) {
    struct Case {
        const char* text;
        uint32_t cpuid_eax, cores, readable, software, hardware; // current P-state in both numberings
        uint32_t enabled, status;                                // rows with bit 63 set; GetDllStatus
    };
    const Case cases[] = {
        {"fam10h", 0x00100F42, 4, 5, 0, 0, 0x0F, 0},
        {"fam15h", 0x00610F01, 4, 8, 0, 2, 0x7F, 0},
        {"fam17h", 0x00800F11, 8, 8, 0, 0, 0x07, 0},
        {"fam10h,cores=1", 0x00100F42, 1, 5, 0, 0, 0x0F, 0},
        {"fam10h,cores=64", 0x00100F42, 64, 5, 0, 0, 0x0F, 0},
        {"fam15h,pstates=0", 0x00610F01, 4, 0, 0, 2, 0x7F, 0},
        {"fam15h,boost=0", 0x00610F01, 4, 8, 0, 0, 0x7F, 0},
        {"fam15h,current=5", 0x00610F01, 4, 8, 3, 5, 0x7F, 0},
        {"fam10h,current=3,boost=1", 0x00100F42, 4, 5, 2, 3, 0x0F, 0},
        {"fam17h,cores=2,pstates=2,boost=1", 0x00800F11, 2, 2, 0, 1, 0x07, 0},
        {"fam10h,driver=error", 0x00100F42, 4, 5, 0, 0, 0x0F, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(start(c.text, 1), "");
        EXPECT_EQ(platform::sim_status(), c.status);
        uint32_t eax, ebx, ecx, edx, enabled = 0;
        ASSERT_EQ(platform::sim_cpuid(1, &eax, &ebx, &ecx, &edx), 1);
        EXPECT_EQ(eax, c.cpuid_eax);
        EXPECT_EQ(platform::sim_processor_count(), c.cores);
        EXPECT_EQ(readable_count(), c.readable);
        EXPECT_EQ(read_low(status) & 7, c.software);
        EXPECT_EQ(read_low(cofvid) >> 16 & 7, c.hardware);
        for (uint32_t i = 0; i < 8; ++i) enabled |= uint32_t(reg(0, definition + i) >> 63) << i;
        EXPECT_EQ(enabled, c.enabled);
    }
}

// An unknown profile, option or value fails the start with one line naming it in quotes, and
// init=fail (a library that will not start) fails it silently; either way nothing is left running.
TEST_F(Sim, FailedStartsNameTheCulprit) {
    for (const char* text : {"fam11h", "", "fam10h,turbo=1", "fam10h,cores=x2", "fam10h,cores=0", "fam10h,",
                             "fam10h,cores=4294967300", "fam10h,pstates=9", "fam10h,reject=8",
                             "fam15h,current=1", // a boosted row
                             "fam10h,init=later"}) {
        SCOPED_TRACE(text);
        const char* option = std::strrchr(text, ',');
        std::string err = start(text, 0);
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_NE(err.find(std::string("\"") + (option ? option + 1 : text) + "\""), std::string::npos)
            << err;
        EXPECT_EQ(platform::sim_processor_count(), 0u);
    }
    EXPECT_EQ(start("fam10h,init=fail", 0), "");
    EXPECT_EQ(platform::sim_processor_count(), 0u);
}

// A control write changes the current P-state only on the processors of the mask; reads see processor 0.
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
    start("fam15h", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask << " value " << c.value);
        EXPECT_EQ(platform::sim_wrmsr(control, c.value, 0, c.mask), c.result);
        for (uint32_t p = 0; p < 4; ++p) {
            EXPECT_EQ(reg(p, cofvid) >> 16 & 7, c.hardware[p]) << "processor " << p;
            EXPECT_EQ(reg(p, status), c.hardware[p] - 2) << "processor " << p;
        }
        EXPECT_EQ(read_low(cofvid) >> 16 & 7, c.hardware[0]);
    }
}

TEST_F(Sim, DefinitionWritesAreStoredUnlessRejected) {
    start("fam10h,reject=1", 1);
    const uint64_t old1 = reg(0, definition + 1);
    EXPECT_EQ(platform::sim_wrmsr(definition + 2, 0x11111111, 0x80000000, 0x6), 1);
    EXPECT_EQ(platform::sim_wrmsr(definition + 1, 0x22222222, 0x80000000, 0xF), 1); // silently kept
    EXPECT_EQ(platform::sim_wrmsr(definition + 5, 0x33333333, 0x80000000, 0xF), 0); // not readable
    EXPECT_EQ(platform::sim_wrmsr(status, 3, 0, 0xF), 0);                           // read-only
    for (uint32_t p = 0; p < 4; ++p) {
        SCOPED_TRACE(p);
        EXPECT_EQ(reg(p, definition + 2) == 0x8000000011111111, p == 1 || p == 2);
        EXPECT_EQ(reg(p, definition + 1), old1); // also: every processor starts with the profile's rows
        EXPECT_EQ(reg(p, definition + 5), 0u);
        EXPECT_EQ(reg(p, status), 0u);
    }
}

// The state file holds every register from the start and follows each write; a fresh start
// takes the registers from it, lines edited by hand included, rather than from the profile.
TEST_F(Sim, StateFileRoundTrip) {
    const std::string path = temp_path("round_trip");
    EXPECT_EQ(start("fam15h,cores=2", 1, path), "");
    EXPECT_EQ(line_count(read_file(path)), 1 + 2 * 11); // a comment, then each register of each processor
    const uint64_t profile_row3 = reg(0, definition + 3);
    ASSERT_EQ(platform::sim_wrmsr(definition + 3, 0x0000A40C, 0x80000030, 0x2), 1);
    ASSERT_EQ(platform::sim_wrmsr(control, 3, 0, 0x3), 1);
    EXPECT_NE(read_file(path).find("\n1 C0010067 800000300000A40C\n"), std::string::npos);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());

    // Lower-case digits, a Windows line end, a blank line and a register commented out.
    std::ofstream(path, std::ios::app) << "# by hand\n\n0 c0010065 8000000000001234\r\n#0 C0010067 0\n";
    EXPECT_EQ(start("fam15h,cores=2", 1, path), "");
    EXPECT_EQ(reg(1, definition + 3), 0x800000300000A40Cu);
    EXPECT_EQ(reg(0, definition + 3), profile_row3);
    EXPECT_EQ(reg(0, definition + 1), 0x8000000000001234u);
    EXPECT_EQ(read_low(status), 3u);
    EXPECT_EQ(read_low(cofvid) >> 16 & 7, 5u);
    std::remove(path.c_str());
}

// A malformed state file stops the start, is named on stderr, loads nothing and is left as it was.
TEST_F(Sim, MalformedStateFileFailsTheStart) {
    struct Case {
        const char* line;
        const char* words;
    };
    const Case cases[] = {{"0 C0010065 80000000000012", "line 2: expected"},
                          {"0 C0010065  8000000000001234", "line 2: expected"},
                          {"0C0010065 8000000000001234", "line 2: expected"},
                          {"0 C001006G 8000000000001234", "line 2: expected"},
                          {"4 C0010065 8000000000001234", "processor beyond"},
                          {"0 C0010070 8000000000001234", "register not simulated"}};
    const std::string path = temp_path("malformed");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = std::string("1 C0010064 8000000000000001\n") + c.line + "\n";
        std::ofstream(path) << text;
        std::string err = start("fam10h", 0, path);
        EXPECT_EQ(line_count(err), 1) << err;
        EXPECT_NE(err.find(c.words), std::string::npos) << err;
        EXPECT_EQ(read_file(path), text);
        EXPECT_NE(reg(1, definition), 0x8000000000000001u); // the good first line was not taken either
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
