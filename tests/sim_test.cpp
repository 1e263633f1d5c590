// The simulated processor: its profiles and options, register writes by mask and by
// processor, northbridge configuration reads, the state file, and its selection
// through QUILM_SIM.
#include <algorithm>
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

constexpr uint32_t control = 0xC0010062, status = 0xC0010063, definition = 0xC0010064, cofvid = 0xC0010071,
                   hwcr = 0xC0010015;
constexpr uint32_t function3 = 0xC3, function4 = 0xC4; // bus 0, device 18h

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
    constexpr uint32_t zen = 8; // no COFVID register: Zen parts hold HWCR instead
    struct Case {
        const char* text;
        uint32_t cpuid_eax, cores, readable, software, hardware; // current P-state in both numberings
        uint32_t enabled, status;                                // rows with bit 63 set; GetDllStatus
    };
    const Case cases[] = {
        {"fam10h", 0x00100F42, 4, 5, 0, 0, 0x0F, 0},
        {"fam11h", 0x00200F31, 2, 8, 0, 0, 0x07, 0},
        {"fam12h", 0x00300F10, 4, 8, 0, 1, 0x1F, 0},
        {"fam14h", 0x00500F10, 2, 8, 0, 0, 0x07, 0},
        {"fam15h", 0x00610F01, 4, 8, 0, 2, 0x7F, 0},
        {"fam15h-m01", 0x00600F12, 8, 8, 0, 2, 0x7F, 0},
        {"fam16h", 0x00700F01, 4, 8, 0, 1, 0x0F, 0},
        {"fam17h", 0x00800F11, 8, 8, 0, zen, 0x07, 0},
        {"fam17h-m90", 0x00890F02, 8, 8, 0, zen, 0x07, 0},
        {"fam19h", 0x00A20F10, 16, 8, 0, zen, 0x07, 0},
        {"fam19h-m74", 0x00A70F40, 16, 8, 0, zen, 0x07, 0},
        {"fam1ah", 0x00B20F40, 24, 8, 0, zen, 0x07, 0},
        {"fam10h,cores=1", 0x00100F42, 1, 5, 0, 0, 0x0F, 0},
        {"fam10h,cores=64", 0x00100F42, 64, 5, 0, 0, 0x0F, 0},
        {"fam10h,cores=1024", 0x00100F42, 1024, 5, 0, 0, 0x0F, 0},
        {"fam15h,pstates=0", 0x00610F01, 4, 0, 0, 2, 0x7F, 0},
        {"fam15h,boost=0", 0x00610F01, 4, 8, 0, 0, 0x7F, 0},
        {"fam15h,current=5", 0x00610F01, 4, 8, 3, 5, 0x7F, 0},
        {"fam10h,current=3,boost=1", 0x00100F42, 4, 5, 2, 3, 0x0F, 0},
        {"fam17h,cores=2,pstates=2,current=1", 0x00800F11, 2, 2, 1, zen, 0x07, 0},
        {"fam1ah,boost=0,current=2", 0x00B20F40, 24, 8, 2, zen, 0x07, 0},
        {"fam10h,driver=error", 0x00100F42, 4, 5, 0, 0, 0x0F, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(start(c.text, 1), "");
        EXPECT_EQ(platform::sim_status(), c.status);
        uint32_t eax, ebx, ecx, edx, enabled = 0;
        ASSERT_EQ(platform::sim_cpuid(1, &eax, &ebx, &ecx, &edx), 1);
        EXPECT_EQ(eax, c.cpuid_eax);
        EXPECT_EQ(ebx, std::min(c.cores, 255u) << 16); // the count never spills into the APIC ID byte
        EXPECT_EQ(platform::sim_processor_count(), c.cores);
        EXPECT_EQ(readable_count(), c.readable);
        EXPECT_EQ(read_low(status) & 7, c.software);
        // Zen parts have HWCR and no COFVID, the others the other way round.
        EXPECT_EQ(platform::sim_rdmsr(cofvid, &eax, &edx), c.hardware != zen ? 1 : 0);
        if (c.hardware != zen) {
            EXPECT_EQ(eax >> 16 & 7, c.hardware);
        }
        EXPECT_EQ(platform::sim_rdmsr(hwcr, &eax, &edx), c.hardware == zen ? 1 : 0);
        if (c.hardware == zen) {
            EXPECT_EQ(eax >> 21 & 1, 0u); // LockTscToCurrentP0 clear at start
        }
        for (uint32_t i = 0; i < 8; ++i) enabled |= uint32_t(reg(c.cores - 1, definition + i) >> 63) << i;
        EXPECT_EQ(enabled, c.enabled);
    }
}

// The Zen profiles carry their parts' definition registers bit for bit.
TEST_F(Sim, ZenProfilesHoldTheirPartsRegisters) {
    struct Case {
        const char* profile;
        uint32_t row;
        uint64_t value;
    };
    const Case cases[] = {
        {"fam19h", 0, 0x8000000059080890},     // 3600 MHz, 1.35 V, 10.0 A
        {"fam19h", 2, 0x800000004C960C60},     // 1600 MHz, 1.00 V, 5.0 A
        {"fam19h-m74", 0, 0x800000005E2FC898}, // 3800 MHz, 1.20 V, 12.0 A
        {"fam1ah", 0, 0x8000000065AFC352},     // 4250 MHz, 1.20 V, 15.0 A
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.profile << " row " << c.row);
        start(c.profile, 1);
        EXPECT_EQ(reg(0, definition + c.row), c.value);
        EXPECT_EQ(reg(platform::sim_processor_count() - 1, definition + c.row), c.value);
        for (uint32_t row = 3; row < 8; ++row) EXPECT_EQ(reg(0, definition + row), 0u) << row;
    }
}

// One processor by number: reads and writes reach it alone, up to processor 1023, with the same
// refusals as writes by mask; masks still name processors 0..63 only.
TEST_F(Sim, OneProcessorByNumber) {
    struct Case {
        const char* text;
        uint32_t processor, index;
        uint64_t value;
        int result;
    };
    const Case cases[] = {
        {"fam10h,cores=1024", 1023, definition + 2, 0x8000000012345678, 1},
        {"fam10h,cores=1024", 700, control, 2, 1},
        {"fam10h,cores=1024", 1024, definition + 2, 0x8000000012345678, 0},       // no such processor
        {"fam10h,cores=1024", 5, definition + 5, 0x8000000012345678, 0},          // not readable
        {"fam10h,cores=1024", 5, status, 1, 0},                                   // read-only
        {"fam10h,cores=1024", 5, cofvid, 1, 0},                                   // read-only
        {"fam10h,cores=1024", 5, hwcr, 1 << 21, 0},                               // no HWCR before Zen
        {"fam10h,cores=1024,reject=2", 9, definition + 2, 0x8000000012345678, 1}, // taken, then kept
        {"fam19h", 15, hwcr, 0x09200011, 1},
        {"fam19h", 3, definition + 1, 0x8000000012345678, 1},
        {"fam19h", 3, cofvid, 1, 0}, // no COFVID on Zen
        {"fam19h", 16, hwcr, 0x09200011, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.text << " processor " << c.processor << " " << std::hex << c.index);
        start(c.text, 1);
        // Processor 0 stands for everyone else, or the last one when the case writes processor 0.
        const uint32_t other = c.processor == 0 ? platform::sim_processor_count() - 1 : 0;
        uint64_t before = 0, others = 0, after = 0;
        const bool held = platform::sim_register(other, c.index, &others);
        platform::sim_register(c.processor, c.index, &before);
        EXPECT_EQ(platform::sim_wrmsr_on(c.processor, c.index, uint32_t(c.value), uint32_t(c.value >> 32)),
                  c.result);
        if (!held) continue;
        const bool stored = c.result && std::strstr(c.text, "reject") == nullptr;
        if (platform::sim_register(c.processor, c.index, &after)) {
            EXPECT_EQ(after, stored ? c.value : before);
        }
        EXPECT_TRUE(platform::sim_register(other, c.index, &after));
        EXPECT_EQ(after, others);
        uint32_t eax = 0, edx = 0;
        if (stored) {
            ASSERT_EQ(platform::sim_rdmsr_on(c.processor, c.index, &eax, &edx), 1);
            EXPECT_EQ(uint64_t(edx) << 32 | eax, c.value);
        }
    }
    // Reads by number fail where a write by number would: no such processor, register or row.
    start("fam19h", 1);
    uint32_t eax, edx;
    EXPECT_EQ(platform::sim_rdmsr_on(15, definition + 7, &eax, &edx), 1);
    EXPECT_EQ(platform::sim_rdmsr_on(16, definition, &eax, &edx), 0);
    EXPECT_EQ(platform::sim_rdmsr_on(0, cofvid, &eax, &edx), 0);
    start("fam10h", 1);
    EXPECT_EQ(platform::sim_rdmsr_on(3, definition + 4, &eax, &edx), 1);
    EXPECT_EQ(platform::sim_rdmsr_on(3, definition + 5, &eax, &edx), 0);
    EXPECT_EQ(platform::sim_rdmsr_on(3, hwcr, &eax, &edx), 0);
    platform::sim_deinitialize();
    EXPECT_EQ(platform::sim_rdmsr_on(0, definition, &eax, &edx), 0);
    EXPECT_EQ(platform::sim_wrmsr_on(0, control, 1, 0), 0);

    // A control write by number makes that processor's row current; one by mask cannot reach beyond 63.
    start("fam15h,cores=1024", 1);
    EXPECT_EQ(platform::sim_wrmsr_on(1000, control, 3, 0), 1);
    EXPECT_EQ(reg(1000, status), 3u);
    EXPECT_EQ(reg(1000, cofvid) >> 16 & 7, 5u);
    EXPECT_EQ(reg(999, status), 0u);
    EXPECT_EQ(platform::sim_wrmsr(control, 1, 0, uint64_t(1) << 63), 1);
    EXPECT_EQ(reg(63, status), 1u);
    EXPECT_EQ(reg(64, status), 0u);
}

// The northbridge registers of the parts before Zen, each field following its option or the
// part; any other register, and every register of a Zen part, fails.
TEST_F(Sim, NorthbridgeRegistersFollowThePartAndTheOptions) {
    struct Case {
        const char* text;
        uint32_t address, reg;
        uint32_t field, expected; // bits under test and their value; field 0 for a failed read
    };
    const Case cases[] = {
        {"fam10h", function3, 0xA0, 1 << 8, 0},             // PviMode
        {"fam10h,pvi=1", function3, 0xA0, 1 << 8, 1 << 8},  //
        {"fam14h", function3, 0xD4, 0x3F, 0x10},            // MainPllOpFreqId: 3.2 GHz
        {"fam14h,pll=63", function3, 0xD4, 0x3F, 63},       //
        {"fam10h", function4, 0x15C, 0x1F, 0},              // no boosted states
        {"fam10h,boost=1", function4, 0x15C, 0x1F, 0x5},    // BoostSrc 1, the one NumBoostStates bit
        {"fam10h,boost=3", function4, 0x15C, 0x1F, 0x5},    // one bit holds no more
        {"fam12h", function4, 0x15C, 0x1F, 0x5},            // one boosted state
        {"fam15h", function4, 0x15C, 0x1F, 0x9},            // two boosted states
        {"fam16h,boost=7", function4, 0x15C, 0x1F, 0x1D},   //
        {"fam15h,boostsrc=0", function4, 0x15C, 0x1F, 0x8}, //
        {"fam15h,boost=0,boostsrc=3", function4, 0x15C, 0x1F, 0x3},
        {"fam10h", function3, 0xA2, 0, 0},          // not a register boundary
        {"fam10h", function3, 0x00, 0, 0},          // not simulated
        {"fam10h", 0x18 << 3 | 2, 0xA0, 0, 0},      // another function
        {"fam10h", 1 << 8 | function3, 0xA0, 0, 0}, // another bus
        {"fam17h", function3, 0xA0, 0, 0},          // Zen: no such functions
        {"fam19h", function4, 0x15C, 0, 0},         //
        {"fam1ah", function4, 0x15C, 0, 0},         //
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " " << std::hex << c.address << " " << c.reg);
        // The part as shipped, to see that an option changes its own field and nothing else.
        const std::string profile = std::string(c.text).substr(0, std::string(c.text).find(','));
        start(profile.c_str(), 1);
        uint32_t shipped = 0xDEADBEEF, value = 0xDEADBEEF;
        platform::sim_read_pci(c.address, c.reg, &shipped);
        start(c.text, 1);
        EXPECT_EQ(platform::sim_read_pci(c.address, c.reg, &value), c.field != 0 ? 1 : 0);
        if (c.field == 0) {
            EXPECT_EQ(value, 0xDEADBEEFu);
            continue;
        }
        EXPECT_EQ(value & c.field, c.expected);
        EXPECT_EQ(value & ~c.field, shipped & ~c.field);
    }
    platform::sim_deinitialize();
    uint32_t value;
    EXPECT_EQ(platform::sim_read_pci(function3, 0xA0, &value), 0);
}

// An unknown profile, option or value fails the start with one line naming it in quotes, and
// init=fail (a library that will not start) fails it silently; either way nothing is left running.
TEST_F(Sim, FailedStartsNameTheCulprit) {
    for (const char* text :
         {"fam13h", "", "fam10h,turbo=1", "fam10h,cores=x2", "fam10h,cores=0", "fam10h,",
          "fam10h,cores=4294967300", "fam10h,cores=1025", "fam10h,pstates=9", "fam10h,reject=8",
          "fam10h,init=later", "fam10h,pvi=2", "fam15h,boostsrc=4", "fam14h,pll=64",
          "fam17h,boost=1",                                        // Zen rows are never boosted
          "fam17h,pvi=0", "fam19h,pll=16", "fam1ah,boostsrc=1"}) { // Zen: no such registers
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

// The file of a part before Zen keeps its exact form; a Zen part's has HWCR first and no COFVID,
// and processor numbers of four digits load back.
TEST_F(Sim, StateFileHoldsEachPartsRegisters) {
    const std::string path = temp_path("parts");
    EXPECT_EQ(start("fam10h,cores=1", 1, path), "");
    EXPECT_EQ(read_file(path), "# quilm simulated fam10h: processor, register, value\n"
                               "0 C0010062 0000000000000000\n"
                               "0 C0010063 0000000000000000\n"
                               "0 C0010064 800000583C00140E\n"
                               "0 C0010065 8000003C3C002407\n"
                               "0 C0010066 800000283C003450\n"
                               "0 C0010067 8000001244405440\n"
                               "0 C0010068 0000000000000000\n"
                               "0 C0010069 0000000000000000\n"
                               "0 C001006A 0000000000000000\n"
                               "0 C001006B 0000000000000000\n"
                               "0 C0010071 000000000000140E\n");
    std::remove(path.c_str());

    EXPECT_EQ(start("fam19h-m74,cores=1024", 1, path), "");
    const std::string text = read_file(path);
    EXPECT_EQ(line_count(text), 1 + 1024 * 11);
    EXPECT_EQ(text.find("C0010071"), std::string::npos);
    EXPECT_NE(text.find("\n0 C0010015 0000000009000011\n0 C0010062 "), std::string::npos);
    ASSERT_EQ(platform::sim_wrmsr_on(1023, hwcr, 0x09200011, 0), 1);
    EXPECT_NE(read_file(path).find("\n1023 C0010015 0000000009200011\n"), std::string::npos);
    EXPECT_EQ(start("fam19h-m74,cores=1024", 1, path), "");
    EXPECT_EQ(reg(1023, hwcr), 0x09200011u);
    EXPECT_EQ(reg(1022, hwcr), 0x09000011u);
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
                          {"0 C0010070 8000000000001234", "register not simulated"},
                          {"0 C0010015 0000000009200011", "register not simulated"}, // HWCR is Zen's only
                          {"12345 C0010065 8000000000001234", "line 2: expected"}};
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

// QUILM_SIM selects the simulator for every operation, and says so.
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
    // One processor by number, and the northbridge registers, from the simulator too.
    EXPECT_EQ(hw_processor_count(), 2u);
    EXPECT_EQ(hw_wrmsr_on(1, control, 3, 0), 1);
    ASSERT_EQ(hw_rdmsr_on(1, status, &eax, &edx), 1);
    EXPECT_EQ(eax, 3u);
    ASSERT_EQ(hw_rdmsr_on(0, status, &eax, &edx), 1);
    EXPECT_EQ(eax, 1u);
    EXPECT_EQ(hw_rdmsr_on(2, status, &eax, &edx), 0);
    ASSERT_EQ(ReadPciConfigDwordEx(function4, 0x15C, &eax), 1);
    EXPECT_EQ(eax & 0x1F, 0x9u); // BoostSrc 1, two boosted states
    DeinitializeOls();
    EXPECT_EQ(hw_simulated_processor_count(), 0u);
    EXPECT_EQ(hw_processor_count(), 0u);
    EXPECT_EQ(hw_rdmsr_on(0, status, &eax, &edx), 0);
    EXPECT_EQ(hw_wrmsr_on(0, control, 1, 0), 0);
    EXPECT_EQ(ReadPciConfigDwordEx(function4, 0x15C, &eax), 0);
}

} // namespace
