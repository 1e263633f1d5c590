// The msr driver's logic against a fake set of processors: opening and the message per
// failure, writes by affinity mask and by processor number, the HWCR guard; PCI
// configuration reads from files; and the hardware layer's choice between the driver and
// the simulator.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/hw.h"
#include "platform/msr_linux.h"
#include "platform/pci_linux.h"

namespace {

constexpr int fd_base = 100; // descriptor of processor p, so that a processor number taken for one shows
constexpr uint32_t hwcr = 0xC0010015, control = 0xC0010062, status = 0xC0010063;

struct Fake {
    uint32_t count = 4; // processors online
    int current = 0;    // the processor the thread runs on
    int opens = 0, closes = 0;
    std::map<uint32_t, int> open_error, write_error;   // errno by processor, 0 to succeed
    std::map<std::pair<int, uint32_t>, uint64_t> regs; // by processor and register; reads of others fail
} fake;

int fake_open(uint32_t p) {
    if (const int error = fake.open_error[p]) return -error;
    ++fake.opens;
    return fd_base + int(p);
}

int fake_read(int fd, uint32_t index, uint64_t* value) {
    EXPECT_GE(fd, fd_base) << "a descriptor the fake never handed out";
    const auto reg = fake.regs.find({fd - fd_base, index});
    if (reg == fake.regs.end()) return EIO;
    *value = reg->second;
    return 0;
}

int fake_write(int fd, uint32_t index, uint64_t value) {
    EXPECT_GE(fd, fd_base) << "a descriptor the fake never handed out";
    const int error = fake.write_error[fd - fd_base];
    if (!error) fake.regs[{fd - fd_base, index}] = value;
    return error;
}

const platform::MsrDevice fake_device = {fake_open,
                                         fake_read,
                                         fake_write,
                                         [](int) { ++fake.closes; },
                                         [] { return fake.current; },
                                         [] { return fake.count; }};

// Checks that stderr holds exactly one line with `words` in it, or nothing when `words` is null.
void expect_told(const std::string& err, const char* words) {
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), words ? 1 : 0) << err;
    EXPECT_NE(err.find(words ? words : ""), std::string::npos) << err;
}

// A register through the hardware layer, on the thread's processor (-1) or on the one named;
// -1 when the read fails.
int64_t read(int processor, uint32_t index) {
    uint32_t eax = 0, edx = 0;
    const int ok = processor < 0 ? Rdmsr(index, &eax, &edx) : hw_rdmsr_on(processor, index, &eax, &edx);
    return ok ? int64_t(uint64_t(edx) << 32 | eax) : -1;
}

// The word at offset `at` of a configuration file made by the fixture: byte i holds i % 251.
uint32_t word(uint32_t at) {
    uint32_t v = 0;
    for (uint32_t i = 0; i < 4; ++i) v |= uint32_t((at + i) % 251) << 8 * i;
    return v;
}

// Fresh fake processors, a closed driver, and PCI functions in a directory of the test's own.
class MsrDriver : public testing::Test {
  protected:
    const std::string root =
        testing::TempDir() + "quilm_pci_" + testing::UnitTest::GetInstance()->current_test_info()->name();
    void SetUp() override {
        platform::msr.device = &fake_device;
        platform::msr_reset();
        fake = Fake{};
        std::filesystem::remove_all(root);
        platform::pci.devices = root.c_str();
        // Config files of the size root sees, any other user sees, one that ends inside a
        // register, and a function on another bus.
        for (auto [function, size] : {std::pair{"0000:00:18.3", 4096},
                                      {"0000:00:18.4", 64},
                                      {"0000:00:18.2", 0xA2},
                                      {"0000:1a:1f.7", 256}}) {
            std::filesystem::create_directories(root + "/" + function);
            std::ofstream file(root + "/" + function + "/config", std::ios::binary);
            for (int i = 0; i < size; ++i) file.put(char(i % 251));
        }
    }
    void TearDown() override {
        platform::msr_reset();
        platform::pci = platform::PciState{};
        std::filesystem::remove_all(root);
    }
};

// Catches: InitializeOls decided by another processor than 0; GetDllStatus clear with a device
// missing; a reason told without what to do, twice, or not at all; devices left open after a
// failed start or after closing; processors named past a gap or past 1024.
TEST_F(MsrDriver, OpeningNamesProcessorsUpToTheFirstGap) {
    // Processors online; the mask of those whose open fails with the error; the InitializeOls result;
    // GetDllStatus; processors open without a gap from processor 0; devices left open; the words
    // expected in the single stderr line, nullptr for silence.
    const std::tuple<uint32_t, uint32_t, int, int, uint32_t, uint32_t, int, const char*> cases[] = {
        {4, 0x0, 0, 1, 0, 4, 4, nullptr},
        {1090, 0x0, 0, 1, 0, 1024, 1024, nullptr}, // beyond the most the driver opens
        {4, 0x1, ENOENT, 0, 1, 0, 0,
         "/dev/cpu/0/msr: no such processor, or the msr module is not loaded (run: modprobe msr)"},
        {4, 0xF, EACCES, 0, 1, 0, 0, "/dev/cpu/0/msr: permission denied (run as root)"},
        {4, 0x1, EPERM, 0, 1, 0, 0, "CAP_SYS_RAWIO (run as root)"},
        {4, 0x1, EIO, 0, 1, 0, 0, "no model-specific registers"},
        {4, 0x4, EACCES, 1, 1, 2, 3, "/dev/cpu/2/msr: permission denied"},
        {4, 0xE, ENXIO, 1, 1, 1, 1, "/dev/cpu/1/msr: no such processor"},       // three failures, one line
        {4, 0x2, EBUSY, 1, 1, 1, 3, "/dev/cpu/1/msr: Device or resource busy"}, // a gap; any other reason
    };
    for (const auto& [online, failing, error, initialized, dll_status, named, left_open, words] : cases) {
        SCOPED_TRACE(testing::Message() << online << " online, failing " << failing << " " << error);
        SetUp();
        fake.count = online;
        for (uint32_t p = 0; p < 4; ++p) fake.open_error[p] = failing >> p & 1 ? error : 0;
        testing::internal::CaptureStderr();
        const int result = platform::msr_initialize();
        expect_told(testing::internal::GetCapturedStderr(), words);
        EXPECT_EQ(std::tuple(result, platform::msr_status(), platform::msr_processor_count(),
                             fake.opens - fake.closes),
                  std::tuple(initialized, dll_status, named, left_open));
        platform::msr_deinitialize();
        EXPECT_EQ(std::tuple(platform::msr_processor_count(), fake.opens - fake.closes), std::tuple(0u, 0));
    }
}

// Catches: a write reaching processors other than its mask or number names, or not the last
// ones (63 by mask, 63 of 64 by number); a register outside the P-state control and eight
// definitions written; a refusal that stops the other processors, is reported as success, is told
// twice or without its reason; an HWCR write that changes any bit but LockTscToCurrentP0, checked
// against another processor's value or without reading it first; a read by number from a
// processor without a device.
TEST_F(MsrDriver, WritesReachTheirProcessorsAndRefuseTheRest) {
    constexpr uint64_t v = 0x800000583C00140E, zen = 0x0000000009000011, locked = zen | 1 << 21;
    constexpr uint64_t top = uint64_t(1) << 63;
    constexpr int by_mask = -1;
    struct Case {
        uint32_t index;
        int processor;                   // by_mask, or the one processor written
        uint64_t mask;                   // the processors written by mask
        int result;                      // of the write
        uint64_t held;                   // processors holding the value afterwards
        const char* words;               // the single stderr line, nullptr for silence
        uint64_t value = v, failing = 0; // and the processors whose write fails with `error`
        int error = 0;
        uint64_t hwcr[2] = {zen, zen}; // HWCR of processors 0 and 1 before the write, 0 for none
    };
    const Case cases[] = {
        {0xC0010066, by_mask, 0xA, 1, 0xA, nullptr},
        {0xC0010066, by_mask, 0x0, 0, 0x0, nullptr},
        {0xC0010066, by_mask, 0x30, 0, 0x10, "register C0010066 on processor 5: no such processor"},
        {0xC0010066, 64, 0, 0, 0x0, nullptr},        // the same reason: not told again
        {0xC0010066, by_mask, top, 1, top, nullptr}, // the mask's last bit
        {0xC0010066, 63, 0, 1, top, nullptr},        // the last processor
        {0xC0010064, by_mask, 0xF, 0, 0xD,
         "register C0010064 on processor 1: the kernel refused it (kernel lockdown", v, 0x2, EPERM},
        {0xC0010064, by_mask, 0x4, 0, 0x0, "register C0010064 on processor 2: Invalid argument", v, 0x4,
         EINVAL},
        {0xC0010061, by_mask, 0xF, 0, 0x0,
         "register C0010061 on processor 0: not a P-state register; write refused"},
        {0xC0010063, by_mask, 0xF, 0, 0x0, nullptr},
        {0xC001006C, by_mask, 0xF, 0, 0x0, nullptr},
        {0xC0010071, 7, 0, 0, 0x0, nullptr},
        {0xC0010062, 7, 0, 1, 0x80, nullptr},
        {0xC001006B, by_mask, 0x1, 1, 0x1, nullptr},
        // HWCR: only to set bit 21, with every other bit as the same processor holds it.
        {hwcr, by_mask, 0x3, 1, 0x3, nullptr, locked},
        {hwcr, 0, 0, 1, 0x1, nullptr, locked, 0, 0, {locked, locked}}, // already set: the same value again
        {hwcr, 0, 0, 0, 0x0, "0000000009000010 would change more than bit 21", zen ^ 1},
        {hwcr, by_mask, 0x3, 0, 0x0, nullptr, locked | 1 << 25},
        {hwcr, by_mask, 0x1, 1, 0x1, nullptr, zen, 0, 0, {locked, locked}},     // puts bit 21 back
        {hwcr, by_mask, 0x3, 0, 0x1, nullptr, locked, 0, 0, {zen, 0x09000010}}, // each against its own
        {hwcr, 0, 0, 0, 0x0, "C0010015 on processor 0: the register does not exist", locked, 0, 0, {0, 0}},
        {hwcr, by_mask, 0x2, 0, 0x0, nullptr, locked, 0x2, EPERM},
        {0xC0010064, by_mask, 0xF, 0, 0x7, nullptr, v, 0x8, EIO}, // told with HWCR's
    };
    fake.count = 64;
    fake.open_error[5] = EACCES;
    testing::internal::CaptureStderr();
    ASSERT_EQ(platform::msr_initialize(), 1);
    testing::internal::GetCapturedStderr();
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << c.index << " on " << c.processor << " mask " << c.mask);
        fake.regs.clear();
        for (int p = 0; p < 64; ++p) fake.write_error[p] = c.failing >> p & 1 ? c.error : 0;
        for (int p = 0; p < 2; ++p)
            if (c.hwcr[p]) fake.regs[{p, hwcr}] = c.hwcr[p];
        const uint32_t low = uint32_t(c.value), high = uint32_t(c.value >> 32);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.processor == by_mask ? platform::msr_write(c.index, low, high, c.mask)
                                         : platform::msr_write_on(c.processor, c.index, low, high),
                  c.result);
        expect_told(testing::internal::GetCapturedStderr(), c.words);
        for (int p = 0; p < 64; ++p) {
            const uint64_t before = c.index == hwcr && p < 2 ? c.hwcr[p] : 0;
            EXPECT_EQ((fake.regs[{p, c.index}]), c.held >> p & 1 ? c.value : before) << p;
        }
    }
    // Reads by number: none from a processor without a device.
    fake.regs[{5, status}] = 1;
    uint32_t eax, edx;
    EXPECT_EQ(platform::msr_read_on(5, status, &eax, &edx), 0);
}

// Catches: a read that is not one aligned 4-byte read of the function's config file (a short read
// taken, an unaligned register or one beyond configuration space read), the wrong file for a
// bus, device or function, a big-endian word, or a value changed by a failed read.
TEST_F(MsrDriver, PciReadsFourBytesOrFails) {
    // The bus, device and function; the register; whether it reads.
    // clang-format off
    const std::tuple<uint32_t, uint32_t, int> cases[] = {
        {0xC3, 0xA0, 1}, {0xC3, 0xFFC, 1}, {0xC3, 0xA2, 0}, // not a multiple of 4
        {0xC3, 0x1000, 0},                                  // beyond configuration space
        {0xC4, 0x3C, 1}, {0xC4, 0x40, 0},                   // beyond what a user who is not root may read
        {0xC2, 0xA0, 0}, {0xC5, 0xA0, 0},                   // two bytes left; no such function
        {0x1AFF, 0xFC, 1}, {0x100C3, 0xA0, 0},              // bus 1Ah device 1Fh function 7; no bus past FFh
    };
    // clang-format on
    for (const auto& [address, reg, result] : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << address << " " << reg);
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(platform::pci_read_config(address, reg, &value), result);
        EXPECT_EQ(value, result ? word(reg) : 0xDEADBEEF);
    }
}

// Catches: an operation sent to the driver with QUILM_SIM set or to the simulator without it;
// the simulation not said on stderr; Rdmsr on another processor than the thread's, or without
// falling back to processor 0; a failed probe told on stderr; CPUID answered for a leaf the
// processor lacks; devices left open; operations that still answer after DeinitializeOls.
TEST_F(MsrDriver, HardwareLayerUsesTheSimulatorOrTheDriver) {
    fake.count = 2;
    fake.regs = {{{0, control}, 0}, {{1, control}, 0}, {{0, status}, 0}, {{1, status}, 1}};
    ::unsetenv("QUILM_SIM_STATE");
    for (const char* sim : {"fam15h,cores=2", ""}) {
        SCOPED_TRACE(sim);
        const bool simulated = *sim != '\0';
        ::setenv("QUILM_SIM", sim, 1);
        testing::internal::CaptureStderr();
        ASSERT_EQ(InitializeOls(), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  simulated ? "quilm: simulated processor fam15h (QUILM_SIM); no hardware is touched\n" : "");
        EXPECT_EQ(
            std::tuple(GetDllStatus(), fake.opens, hw_simulated_processor_count(), hw_processor_count()),
            std::tuple(0u, simulated ? 0 : 2, simulated ? 2u : 0u, 2u));
        EXPECT_EQ(std::tuple(WrmsrTx(control, 1, 0, 0x1), hw_wrmsr_on(1, control, 3, 0)), std::tuple(1, 1));
        EXPECT_EQ(std::tuple(read(-1, control), read(1, control), read(2, control)), std::tuple(1, 3, -1));
        EXPECT_EQ((fake.regs[{1, control}]), simulated ? 0u : 3u); // the driver's processors untouched
        uint32_t eax = 0, ebx, ecx, edx;
        EXPECT_EQ(Cpuid(0x7FFFFFFF, &eax, &ebx, &ecx, &edx), simulated ? 1 : 0);
        ASSERT_EQ(ReadPciConfigDwordEx(0xC3, 0xA0, &eax), 1);
        EXPECT_EQ(eax, simulated ? 0x000048A0u : word(0xA0)); // the simulated part's PviMode clear
        if (!simulated) {
            for (auto [current, processor] : {std::pair{0, 0}, {1, 1}, {-1, 0}, {2, 0}}) {
                fake.current = current;
                EXPECT_EQ(read(-1, status), processor) << current;
            }
            testing::internal::CaptureStderr();
            EXPECT_EQ(read(-1, 0xC0010069), -1);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        }
        DeinitializeOls();
        EXPECT_EQ(std::tuple(fake.opens - fake.closes, GetDllStatus() != 0, hw_simulated_processor_count(),
                             hw_processor_count(), read(-1, control), read(0, control),
                             WrmsrTx(control, 1, 0, 0x1), hw_wrmsr_on(0, control, 1, 0),
                             ReadPciConfigDwordEx(0xC3, 0xA0, &eax)),
                  std::tuple(0, true, 0u, 0u, -1, -1, 0, 0, 0));
    }
}

} // namespace
