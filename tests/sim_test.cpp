// The simulated processor: its profiles and options, register writes by mask and by
// processor, northbridge configuration reads, and the state file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim.h"

namespace {

constexpr uint32_t control = 0xC0010062, status = 0xC0010063, definition = 0xC0010064, cofvid = 0xC0010071,
                   hwcr = 0xC0010015;

// Any register of a simulated processor; the test fails where the processor has no such register.
uint64_t reg(uint32_t processor, uint32_t index) {
    uint64_t value = 0;
    EXPECT_TRUE(platform::sim_register(processor, index, &value)) << processor << " " << std::hex << index;
    return value;
}

std::string read_file(const std::string& path) {
    return (std::stringstream() << std::ifstream(path).rdbuf()).str();
}

// Starts the simulator afresh and checks the result; returns what it printed on stderr.
std::string start(const char* text, int expected, const std::string& state_path = "") {
    platform::sim_reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::sim_initialize(text, state_path.c_str()), expected) << text;
    return testing::internal::GetCapturedStderr();
}

// Every register of every simulated processor, one "processor register=value" item each with the
// register by its last two hexadecimal digits.
std::vector<std::string> all_registers() {
    std::vector<std::string> items;
    char item[48];
    uint64_t value;
    for (uint32_t p = 0; p < platform::sim_processor_count(); ++p)
        for (uint32_t index = hwcr; index <= cofvid; ++index)
            if (platform::sim_register(p, index, &value)) {
                std::snprintf(item, sizeof item, "%u %02X=%llX ", p, index & 0xFF, (unsigned long long)value);
                items.push_back(item);
            }
    return items;
}

// A stopped simulator after each test, and a state file name of the test's own.
class Sim : public testing::Test {
  protected:
    const std::string path =
        testing::TempDir() + "quilm_sim_" + testing::UnitTest::GetInstance()->current_test_info()->name();
    void SetUp() override { std::remove(path.c_str()); }
    void TearDown() override {
        platform::sim_reset();
        std::remove(path.c_str());
    }
};

// Catches: a profile with another part's family, core count, readable rows, current P-state or
// definition registers; an option that changes nothing or something else; a core count spilling
// into the APIC ID byte of CPUID; HWCR and COFVID on the wrong side of Zen; a boosted current row
// read back as a software number; processors that do not all start with the profile's rows.
TEST_F(Sim, ProfilesAndOptionsShapeTheProcessor) {
    constexpr uint32_t zen = 8; // no COFVID register: Zen parts hold HWCR instead
    struct Case {
        const char* text;
        uint32_t cpuid_eax, cores, readable, software, hardware; // current P-state in both numberings
        uint32_t enabled, status;                                // rows with bit 63 set; GetDllStatus
        uint64_t row0;                                           // definition register 0
    };
    const Case cases[] = {
        {"fam10h", 0x00100F42, 4, 5, 0, 0, 0x0F, 0, 0x800000583C00140E},
        {"fam11h", 0x00200F31, 2, 8, 0, 0, 0x07, 0, 0x8000001E00004010},
        {"fam12h", 0x00300F10, 4, 8, 0, 1, 0x1F, 0, 0x8000002300001680},
        {"fam14h", 0x00500F10, 2, 8, 0, 0, 0x07, 0, 0x8000001200002010},
        {"fam15h", 0x00610F01, 4, 8, 0, 2, 0x7F, 0, 0x8000005A0000181A},
        {"fam15h-m01", 0x00600F12, 8, 8, 0, 2, 0x7F, 0, 0x800000780000161A},
        {"fam16h", 0x00700F01, 4, 8, 0, 1, 0x0F, 0, 0x800000090000B04C},
        {"fam17h", 0x00800F11, 8, 8, 0, zen, 0x07, 0, 0x8000000017C80890},
        {"fam17h-m90", 0x00890F02, 8, 8, 0, zen, 0x07, 0, 0x8000000059120A8C},
        {"fam19h", 0x00A20F10, 16, 8, 0, zen, 0x07, 0, 0x8000000059080890},     // 3600 MHz, 1.35 V, 10.0 A
        {"fam19h-m74", 0x00A70F40, 16, 8, 0, zen, 0x07, 0, 0x800000005E2FC898}, // 3800 MHz, 1.20 V, 12.0 A
        {"fam1ah", 0x00B20F40, 24, 8, 0, zen, 0x07, 0, 0x8000000065AFC352},     // 4250 MHz, 1.20 V, 15.0 A
        {"fam10h,cores=1024", 0x00100F42, 1024, 5, 0, 0, 0x0F, 0, 0x800000583C00140E},
        {"fam15h,pstates=0", 0x00610F01, 4, 0, 0, 2, 0x7F, 0, 0x8000005A0000181A},
        {"fam15h,boost=0", 0x00610F01, 4, 8, 0, 0, 0x7F, 0, 0x8000005A0000181A},
        {"fam15h,current=5", 0x00610F01, 4, 8, 3, 5, 0x7F, 0, 0x8000005A0000181A},
        {"fam15h,current=1", 0x00610F01, 4, 8, 0, 1, 0x7F, 0, 0x8000005A0000181A}, // boosted: no number
        {"fam10h,current=3,boost=1", 0x00100F42, 4, 5, 2, 3, 0x0F, 0, 0x800000583C00140E},
        {"fam17h,cores=2,pstates=2,current=1", 0x00800F11, 2, 2, 1, zen, 0x07, 0, 0x8000000017C80890},
        {"fam1ah,boost=0,current=2", 0x00B20F40, 24, 8, 2, zen, 0x07, 0, 0x8000000065AFC352},
        {"fam10h,driver=error", 0x00100F42, 4, 5, 0, 0, 0x0F, 1, 0x800000583C00140E},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(start(c.text, 1), "");
        uint32_t eax, ebx, ecx, edx, enabled = 0, readable = 0;
        ASSERT_EQ(platform::sim_cpuid(1, &eax, &ebx, &ecx, &edx), 1);
        while (readable < 8 && platform::sim_rdmsr(definition + readable, &ecx, &edx)) ++readable;
        // Zen parts hold HWCR, LockTscToCurrentP0 clear; the others COFVID with the current row.
        const bool is_zen = c.hardware == zen;
        EXPECT_EQ(platform::sim_rdmsr(is_zen ? cofvid : hwcr, &ecx, &edx), 0);
        const uint64_t hardware = is_zen ? reg(0, hwcr) >> 21 & 1 : reg(0, cofvid) >> 16 & 7;
        for (uint32_t i = 0; i < 8; ++i) {
            enabled |= uint32_t(reg(c.cores - 1, definition + i) >> 63) << i;
            EXPECT_EQ(reg(c.cores - 1, definition + i), reg(0, definition + i)) << i;
        }
        EXPECT_EQ(std::tuple(eax, ebx, platform::sim_processor_count(), readable, reg(0, status), hardware),
                  std::tuple(c.cpuid_eax, std::min(c.cores, 255u) << 16, c.cores, c.readable,
                             uint64_t(c.software), uint64_t(is_zen ? 0 : c.hardware)));
        EXPECT_EQ(std::tuple(enabled, platform::sim_status(), reg(c.cores - 1, definition)),
                  std::tuple(c.enabled, c.status, c.row0));
    }
}

// Catches: a write that reaches other processors than its mask or number names, or processors
// beyond the mask's 64 bits; a refused write (no such processor, an unreadable row, a read-only
// register, HWCR before Zen, COFVID on Zen, reserved control bits) that changes anything or
// reports success; one refusal that stops the other processors of the mask; reject= storing the
// value; a control write that does not make its row current in status and COFVID, or that moves
// to a row the part does not have.
TEST_F(Sim, WritesChangeExactlyWhatTheyName) {
    constexpr uint64_t v = 0x8000000012345678, by_mask = ~uint64_t(0);
    // The simulator's options; by_mask for a write to the processors of mask `target`, 0 for one to
    // processor `target` alone; the register and value; the write's result; every register that
    // changed afterwards.
    const std::tuple<const char*, uint64_t, uint64_t, uint32_t, uint64_t, int, const char*> cases[] = {
        {"fam10h,cores=1024", 0, 1023, definition + 2, v, 1, "1023 66=8000000012345678 "},
        {"fam10h,cores=1024", 0, 1024, definition + 2, v, 0, ""}, // no such processor
        {"fam10h,cores=1024", 0, 5, definition + 5, v, 0, ""},    // not readable
        {"fam10h,cores=1024", 0, 5, status, 1, 0, ""},            // read-only
        {"fam10h", 0, 3, hwcr, 1 << 21, 0, ""},                   // no HWCR before Zen
        {"fam19h", 0, 15, hwcr, 0x09200011, 1, "15 15=9200011 "},
        {"fam19h", 0, 3, cofvid, 1, 0, ""}, // no COFVID on Zen
        {"fam10h,cores=1024", 0, 700, control, 2, 1, "700 62=2 700 63=2 700 71=23450 "},
        {"fam10h,reject=1", by_mask, 0x6, definition + 2, v, 1,
         "1 66=8000000012345678 2 66=8000000012345678 "},
        {"fam10h,reject=1", by_mask, 0xF, definition + 1, v, 1, ""},               // silently kept
        {"fam10h", by_mask, 0x11, definition + 2, v, 0, "0 66=8000000012345678 "}, // no processor 4
        {"fam10h", by_mask, 0, definition + 2, v, 0, ""},
        {"fam10h,cores=1024", by_mask, uint64_t(1) << 63, definition + 2, v, 1, "63 66=8000000012345678 "},
        // Control: boosted rows come first, so software P-state 1 of family 15h is row 3.
        {"fam15h", by_mask, 0x4, control, 1, 1, "2 62=1 2 63=1 2 71=34C12 "},
        {"fam15h", by_mask, 0x1, control, 6, 1, "0 62=6 "}, // row 8: no such row
        {"fam15h", by_mask, 0x2, control, 8, 0, ""},        // reserved bits
    };
    for (const auto& [text, mask, target, index, value, result, changes] : cases) {
        SCOPED_TRACE(testing::Message() << text << " " << std::hex << target << " " << index);
        start(text, 1);
        const std::vector<std::string> before = all_registers();
        const uint32_t low = uint32_t(value), high = uint32_t(value >> 32);
        EXPECT_EQ(mask ? platform::sim_wrmsr(index, low, high, target)
                       : platform::sim_wrmsr_on(uint32_t(target), index, low, high),
                  result);
        std::string changed;
        for (size_t i = 0; const std::string& item : all_registers())
            changed += item != before[i++] ? item : "";
        EXPECT_EQ(changed, changes);
    }
}

// Catches: a northbridge field that ignores its option or the part, an option that changes other
// bits of its register, a boost count that spills out of family 10h's single bit, a read of an
// unaligned or unmodelled register, another function or bus, a Zen part, or a stopped simulator
// that succeeds or changes the value.
TEST_F(Sim, NorthbridgeRegistersFollowThePartAndTheOptions) {
    constexpr uint32_t failed = 0xDEADBEEF;                // the read fails and leaves the value alone
    constexpr uint32_t function3 = 0xC3, function4 = 0xC4; // bus 0, device 18h
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t> cases[] = {
        {"fam10h", function3, 0xA0, 0x000008A0},          // PviMode (bit 8) clear
        {"fam10h,pvi=1", function3, 0xA0, 0x000009A0},    //
        {"fam14h", function3, 0xD4, 0x03310F50},          // MainPllOpFreqId (bits 5..0): 3.2 GHz
        {"fam14h,pll=63", function3, 0xD4, 0x03310F7F},   //
        {"fam10h", function4, 0x15C, 0x00000000},         // no boosted states, BoostSrc (bits 1..0) 0
        {"fam10h,boost=1", function4, 0x15C, 0x00000005}, // BoostSrc 1, the one NumBoostStates bit
        {"fam10h,boost=2", function4, 0x15C, 0x00000005}, // one bit holds no more
        {"fam15h", function4, 0x15C, 0x80000089},         // two boosted states, BoostLock, ApmMasterEn
        {"fam16h,boost=7", function4, 0x15C, 0x8000009D}, //
        {"fam15h,boostsrc=0", function4, 0x15C, 0x80000088},
        {"fam15h,boost=0,boostsrc=3", function4, 0x15C, 0x80000083},
        {"fam10h", function3, 0xA2, failed},          // not a register boundary
        {"fam10h", 0x18 << 3 | 2, 0xA0, failed},      // another function
        {"fam10h", 1 << 8 | function3, 0xA0, failed}, // another bus
        {"fam17h", function3, 0xA0, failed},          // Zen: no such functions
        {"fam19h", function4, 0x15C, failed},         //
        {nullptr, function4, 0x15C, failed},          // a stopped simulator
    };
    for (const auto& [text, address, reg, expected] : cases) {
        SCOPED_TRACE(testing::Message() << text << " " << std::hex << address << " " << reg);
        text ? void(start(text, 1)) : platform::sim_deinitialize();
        uint32_t value = failed;
        EXPECT_EQ(platform::sim_read_pci(address, reg, &value), expected != failed ? 1 : 0);
        EXPECT_EQ(value, expected);
    }
}

// Catches: an unknown profile, option or value accepted (cores=0 among them) or refused without
// naming it in one line; a number that wraps; an option for a register the part lacks; a failed
// start that leaves a simulator running; init=fail telling something.
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
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find('"' + std::string(option ? option + 1 : text) + '"'), std::string::npos) << err;
        EXPECT_EQ(platform::sim_processor_count(), 0u);
    }
    EXPECT_EQ(start("fam10h,init=fail", 0), "");
    EXPECT_EQ(platform::sim_processor_count(), 0u);
}

// Catches: a state file that lacks registers, holds registers the part does not have (COFVID on
// Zen, HWCR before it), changes its form, misses a write or leaves its temporary file; a fresh
// start that takes the profile over the file, skips lines edited by hand (lower case, CR LF, blank
// lines) or takes commented ones; processor numbers of four digits that do not load back; a
// malformed line (short or long value, missing blank, bad digit, five-digit processor, a processor
// or register the part lacks) accepted, not named on stderr, or half loaded; the file changed by
// the failed start.
TEST_F(Sim, StateFileFollowsEveryWriteAndLoadsOnlyWhatIsWellFormed) {
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
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 1024 * 11);
    EXPECT_EQ(text.find("C0010071"), std::string::npos);
    EXPECT_NE(text.find("\n0 C0010015 0000000009000011\n0 C0010062 "), std::string::npos);
    const uint64_t row2 = reg(0, definition + 2);
    ASSERT_EQ(platform::sim_wrmsr_on(1023, hwcr, 0x09200011, 0), 1);
    ASSERT_EQ(platform::sim_wrmsr(control, 1, 0, 0x3), 1);
    EXPECT_NE(read_file(path).find("\n1023 C0010015 0000000009200011\n"), std::string::npos);
    EXPECT_FALSE(std::ifstream(path + ".tmp").good());

    std::ofstream(path, std::ios::app) << "# by hand\n\n0 c0010065 8000000000001234\r\n#0 C0010066 0\n";
    EXPECT_EQ(start("fam19h-m74,cores=1024", 1, path), "");
    EXPECT_EQ(std::tuple(reg(1023, hwcr), reg(1022, hwcr), reg(0, definition + 1), reg(0, definition + 2),
                         reg(1, status), reg(2, status)),
              std::tuple(0x09200011u, 0x09000011u, 0x8000000000001234u, row2, 1u, 0u));

    // A malformed line stops the start, is named on stderr, loads nothing and leaves the file as it was.
    const std::pair<const char*, const char*> cases[] = {
        {"0 C0010065 80000000000012", "line 2: expected"},
        {"0 C0010065 80000000000012345", "line 2: expected"},
        {"0C0010065 8000000000001234", "line 2: expected"},
        {"0 C001006G 8000000000001234", "line 2: expected"},
        {"12345 C0010065 8000000000001234", "line 2: expected"},
        {"4 C0010065 8000000000001234", "processor beyond"},
        {"0 C0010070 8000000000001234", "register not simulated"},
        {"0 C0010015 0000000009200011", "register not simulated"}}; // HWCR is Zen's only
    for (const auto& [line, words] : cases) {
        SCOPED_TRACE(line);
        const std::string text = std::string("1 C0010064 8000000000000001\n") + line + "\n";
        std::ofstream(path) << text;
        std::string err = start("fam10h", 0, path);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_NE(err.find(words), std::string::npos) << err;
        EXPECT_EQ(read_file(path), text);
        EXPECT_NE(reg(1, definition), 0x8000000000000001u); // the good first line was not taken either
    }
}

} // namespace
