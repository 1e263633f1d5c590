// The msr driver's logic against a fake set of processors: opening, the messages
// per failure, reading on the current processor, writing by affinity mask, one
// processor by number, the HWCR guard; and PCI configuration reads from files.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/hw.h"
#include "platform/msr_linux.h"
#include "platform/pci_linux.h"

namespace {

using platform::msr;

constexpr uint32_t fake_max = 1100; // more than the driver opens
constexpr int fd_base = 100;        // descriptor of processor p is fd_base + p

struct FakeProcessor {
    int open_error = 0;  // errno the open fails with, 0 to succeed
    int read_error = 0;  // errno every read fails with, 0 to succeed
    int write_error = 0; // errno every write fails with, 0 to succeed
    bool open = false;
    std::map<uint32_t, uint64_t> regs; // registers that exist; reads of others fail with EIO
};

struct Fake {
    uint32_t count = 4;
    int current = 0;
    int opens = 0, closes = 0;
    FakeProcessor cpu[fake_max];
} fake;

int fake_open(uint32_t p) {
    if (p >= fake_max) return -ENXIO;
    if (fake.cpu[p].open_error) return -fake.cpu[p].open_error;
    ++fake.opens;
    fake.cpu[p].open = true;
    return fd_base + int(p);
}

int fake_read(int fd, uint32_t index, uint64_t* value) {
    FakeProcessor& cpu = fake.cpu[fd - fd_base];
    if (!cpu.open || !cpu.regs.count(index)) return EIO;
    if (cpu.read_error) return cpu.read_error;
    *value = cpu.regs[index];
    return 0;
}

int fake_write(int fd, uint32_t index, uint64_t value) {
    FakeProcessor& cpu = fake.cpu[fd - fd_base];
    if (!cpu.open) return EBADF;
    if (!cpu.write_error) cpu.regs[index] = value;
    return cpu.write_error;
}

void fake_close(int fd) {
    ++fake.closes;
    fake.cpu[fd - fd_base].open = false;
}

const platform::MsrDevice fake_device = {
    fake_open, fake_read, fake_write, fake_close, [] { return fake.current; }, [] { return fake.count; }};

// Checks that stderr holds exactly one line with `words` in it, or nothing when `words` is null.
void expect_told(const std::string& err, const char* words) {
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), words ? 1 : 0) << err;
    EXPECT_NE(err.find(words ? words : ""), std::string::npos) << err;
}

class MsrDriver : public testing::Test {
  protected:
    void SetUp() override {
        msr.device = &fake_device;
        platform::msr_reset();
        fake.count = 4;
        fake.current = 0;
        fake.opens = fake.closes = 0;
        for (FakeProcessor& cpu : fake.cpu) cpu = FakeProcessor{};
    }
    void TearDown() override { platform::msr_reset(); }
};

// Opening: processor 0 decides InitializeOls, the others GetDllStatus; one actionable line per reason.
TEST_F(MsrDriver, OpenFailuresAreReportedWithWhatToDo) {
    struct Case {
        uint32_t failing; // mask of processors whose open fails
        int error;
        int initialized;   // InitializeOls result
        uint32_t status;   // GetDllStatus result
        int open;          // devices left open: none after a failed start
        const char* words; // expected in the single stderr line, nullptr for silence
    };
    const Case cases[] = {
        {0x0, 0, 1, 0, 4, nullptr},
        {0x1, ENOENT, 0, 1, 0,
         "/dev/cpu/0/msr: no such processor, or the msr module is not loaded (run: modprobe msr)"},
        {0xF, EACCES, 0, 1, 0, "/dev/cpu/0/msr: permission denied (run as root)"},
        {0x1, EPERM, 0, 1, 0, "CAP_SYS_RAWIO (run as root)"},
        {0x1, EIO, 0, 1, 0, "no model-specific registers"},
        {0x4, EACCES, 1, 1, 3, "/dev/cpu/2/msr: permission denied"},
        {0xE, ENXIO, 1, 1, 1, "/dev/cpu/1/msr: no such processor"}, // three failures, one line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing " << c.failing << " errno " << c.error);
        SetUp(); // a fresh session on fresh processors
        for (uint32_t p = 0; p < fake.count; ++p)
            if (c.failing >> p & 1) fake.cpu[p].open_error = c.error;
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::msr_initialize(), c.initialized);
        expect_told(testing::internal::GetCapturedStderr(), c.words);
        EXPECT_EQ(platform::msr_status(), c.status);
        EXPECT_EQ(fake.opens - fake.closes, c.open);
    }
}

// Writes reach exactly the processors of the mask and only the P-state control and definition
// registers; a refusal stops neither the other processors nor the result, and each reason is told once.
TEST_F(MsrDriver, WritesFollowTheMaskAndTellEachRefusalOnce) {
    constexpr uintptr_t top = uintptr_t(1) << (8 * sizeof(uintptr_t) - 1);
    struct Case {
        uint32_t index;
        uintptr_t mask;
        uint32_t failing; // processors whose write fails with `error`
        int error;
        int result;
        uint32_t written;  // processors that hold the value afterwards
        const char* words; // the single stderr line, nullptr for silence
    };
    const Case cases[] = {
        {0xC0010066, 0xA, 0, 0, 1, 0xA, nullptr},
        {0xC0010066, 0x0, 0, 0, 0, 0x0, nullptr},
        {0xC0010066, 0x31, 0, 0, 0, 0x1, "register C0010066 on processor 4: no such processor"},
        {0xC0010066, top, 0, 0, 0, 0x0, nullptr}, // same reason: not told again
        {0xC0010064, 0xF, 0x2, EPERM, 0, 0xD,
         "refused to write register C0010064 on processor 1 (kernel lockdown, or msr.allow_writes=off"},
        {0xC0010064, 0x4, 0x4, EPERM, 0, 0x0, nullptr},
        {0xC0010064, 0xF, 0x8, EIO, 0, 0x7, "register C0010064 does not exist on processor 3"},
        {0xC0010064, 0x4, 0x4, EINVAL, 0, 0x0, "register C0010064 on processor 2: Invalid argument"},
        {0xC0010061, 0xF, 0, 0, 0, 0x0, "register C0010061 is not a P-state register; write refused"},
        {0xC0010063, 0xF, 0, 0, 0, 0x0, nullptr},
        {0xC001006C, 0xF, 0, 0, 0, 0x0, nullptr},
        {0xC0010071, 0xF, 0, 0, 0, 0x0, nullptr},
        {0xC0010062, 0x1, 0, 0, 1, 0x1, nullptr},
        {0xC001006B, 0x1, 0, 0, 1, 0x1, nullptr},
    };
    ASSERT_EQ(platform::msr_initialize(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "register " << c.index << " mask " << c.mask);
        for (uint32_t p = 0; p < fake.count; ++p) {
            fake.cpu[p].regs.clear();
            fake.cpu[p].write_error = c.failing >> p & 1 ? c.error : 0;
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::msr_write(c.index, 0x3C00140E, 0x80000058, c.mask), c.result);
        expect_told(testing::internal::GetCapturedStderr(), c.words);
        for (uint32_t p = 0; p < fake.count; ++p)
            EXPECT_EQ(fake.cpu[p].regs[c.index], c.written >> p & 1 ? 0x800000583C00140Eu : 0u) << p;
    }
}

// Without QUILM_SIM the operations go to the msr driver until DeinitializeOls. Reads go to the
// processor the thread runs on, or to processor 0 when that one has no device.
TEST_F(MsrDriver, HardwareOperationsUseTheDriverWithoutSimulation) {
    struct Case {
        int current;
        uint32_t processor; // whose register the read returns
    };
    const Case cases[] = {{0, 0}, {2, 2}, {3, 3}, {-1, 0}, {6, 0}};
    for (uint32_t p = 0; p < fake.count; ++p) fake.cpu[p].regs[0xC0010063] = 0x0000000700000000 + p;
    ::unsetenv("QUILM_SIM");
    ASSERT_EQ(InitializeOls(), 1);
    EXPECT_EQ(GetDllStatus(), 0u);
    EXPECT_EQ(hw_simulated_processor_count(), 0u);
    uint32_t eax = 0, edx = 0;
    for (const Case& c : cases) {
        fake.current = c.current;
        ASSERT_EQ(Rdmsr(0xC0010063, &eax, &edx), 1) << c.current;
        EXPECT_EQ(eax, c.processor) << c.current;
        EXPECT_EQ(edx, 7u) << c.current;
    }
    // A register the processor lacks fails the read without a word: probing for it is normal.
    testing::internal::CaptureStderr();
    EXPECT_EQ(Rdmsr(0xC0010069, &eax, &edx), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(WrmsrTx(0xC0010062, 1, 0, 0x2), 1);
    EXPECT_EQ(fake.cpu[1].regs[0xC0010062], 1u);
    // By number: the driver's own processors, whichever the thread runs on.
    EXPECT_EQ(hw_processor_count(), fake.count);
    ASSERT_EQ(hw_rdmsr_on(3, 0xC0010063, &eax, &edx), 1);
    EXPECT_EQ(eax, 3u);
    EXPECT_EQ(hw_wrmsr_on(2, 0xC0010062, 2, 0), 1);
    EXPECT_EQ(fake.cpu[2].regs[0xC0010062], 2u);
    EXPECT_EQ(fake.cpu[3].regs.count(0xC0010062), 0u);
    // PCI configuration space from sysfs, here a directory of the test's own.
    const std::string root = testing::TempDir() + "quilm_pci_hw";
    std::filesystem::create_directories(root + "/0000:00:18.3");
    std::ofstream(root + "/0000:00:18.3/config", std::ios::binary)
        .write("\x11\x22\x33\x44\x55\x66\x77\x88", 8);
    platform::pci.devices = root.c_str();
    ASSERT_EQ(ReadPciConfigDwordEx(0xC3, 4, &eax), 1);
    EXPECT_EQ(eax, 0x88776655u);
    DeinitializeOls();
    EXPECT_EQ(fake.closes, int(fake.count)); // every device opened at the start is closed
    EXPECT_EQ(Rdmsr(0xC0010063, &eax, &edx), 0);
    EXPECT_EQ(WrmsrTx(0xC0010062, 1, 0, 0x2), 0);
    EXPECT_NE(GetDllStatus(), 0u);
    EXPECT_EQ(hw_processor_count(), 0u);
    EXPECT_EQ(hw_rdmsr_on(0, 0xC0010063, &eax, &edx), 0);
    EXPECT_EQ(hw_wrmsr_on(0, 0xC0010062, 1, 0), 0);
    EXPECT_EQ(ReadPciConfigDwordEx(0xC3, 4, &eax), 0); // nothing is read once the layer is closed
    platform::pci = platform::PciState{};
    std::filesystem::remove_all(root);
}

// Exactly the processors open without a gap from processor 0 can be named, up to 1024.
TEST_F(MsrDriver, ProcessorsAreNamedUpToTheFirstGap) {
    struct Case {
        uint32_t online;
        uint32_t failing; // processor whose open fails, or fake_max for none
        uint32_t named, opened;
    };
    const Case cases[] = {
        {4, fake_max, 4, 4},
        {1, fake_max, 1, 1},
        {1024, fake_max, 1024, 1024},
        {1090, fake_max, 1024, 1024}, // beyond the most the driver opens
        {4, 3, 3, 3},                 // the last one
        {4, 1, 1, 3},                 // a gap: processors 2 and 3 are open but cannot all be named
        {4, 0, 0, 0},                 // none: the start fails
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.online << " online, failing " << c.failing);
        SetUp();
        fake.count = c.online;
        if (c.failing < fake_max) fake.cpu[c.failing].open_error = ENOENT;
        testing::internal::CaptureStderr();
        platform::msr_initialize();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(platform::msr_processor_count(), c.named);
        EXPECT_EQ(fake.opens - fake.closes, int(c.opened));
        platform::msr_deinitialize();
        EXPECT_EQ(platform::msr_processor_count(), 0u);
        EXPECT_EQ(fake.opens, fake.closes);
    }
}

// A read or write by number reaches that processor alone; no device means failure, and for writes
// the same refusals and messages as by mask.
TEST_F(MsrDriver, OneProcessorByNumber) {
    fake.count = 1024;
    fake.cpu[5].open_error = EACCES;
    for (uint32_t p = 0; p < fake.count; ++p) fake.cpu[p].regs[0xC0010064] = 0x8000000000000100 + p;
    testing::internal::CaptureStderr();
    ASSERT_EQ(platform::msr_initialize(), 1);
    testing::internal::GetCapturedStderr();
    struct Case {
        uint32_t processor, index;
        int result;
        const char* words; // the single stderr line of the write, nullptr for silence
    };
    const Case cases[] = {
        {1023, 0xC0010064, 1, nullptr},
        {0, 0xC0010064, 1, nullptr},
        {1024, 0xC0010064, 0, "register C0010064 on processor 1024: no such processor"},
        {5, 0xC0010064, 0, nullptr}, // no device; the same reason, not told again
        {7, 0xC0010063, 0, "register C0010063 is not a P-state register; write refused"},
        {7, 0xC0010062, 1, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "processor " << c.processor << std::hex << " register " << c.index);
        for (uint32_t p : {0u, 6u, 7u, 1023u}) {
            fake.cpu[p].regs.clear();
            fake.cpu[p].regs[0xC0010064] = 0x8000000000000100 + p;
        }
        uint32_t eax = 0, edx = 0;
        const bool readable =
            c.processor < fake.count && c.processor != 5 && fake.cpu[c.processor].regs.count(c.index);
        EXPECT_EQ(platform::msr_read_on(c.processor, c.index, &eax, &edx), int(readable));
        if (readable) {
            EXPECT_EQ(eax, 0x100 + c.processor);
        }
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::msr_write_on(c.processor, c.index, 0x00001234, 0x80000000), c.result);
        expect_told(testing::internal::GetCapturedStderr(), c.words);
        for (uint32_t p : {0u, 6u, 7u, 1023u}) {
            const auto it = fake.cpu[p].regs.find(c.index);
            const bool holds = it != fake.cpu[p].regs.end() && it->second == 0x8000000000001234;
            EXPECT_EQ(holds, c.result && p == c.processor) << p;
        }
    }
}

// HWCR is written only to set LockTscToCurrentP0, with every other bit as the same processor holds it.
TEST_F(MsrDriver, HwcrWritesOnlySetBit21) {
    constexpr uint32_t hwcr = 0xC0010015;
    constexpr uint64_t zen = 0x0000000009000011, locked = zen | 1 << 21;
    struct Case {
        uint64_t current[2]; // HWCR of processors 0 and 1 before the write
        uint64_t value;
        uintptr_t mask; // 0: by number, processor 0
        int read_error, write_error;
        int result;
        uint32_t written;  // processors holding the value afterwards
        const char* words; // the single stderr line, nullptr for silence
    };
    const Case cases[] = {
        {{zen, zen}, locked, 0, 0, 0, 1, 0x1, nullptr},
        {{zen, zen}, locked, 0x3, 0, 0, 1, 0x3, nullptr},
        {{locked, locked}, locked, 0, 0, 0, 1, 0x1, nullptr}, // already set: the same value again
        {{zen, zen}, zen, 0, 0, 0, 0, 0x0, "0000000009000011 would change more than bit 21"},
        {{zen, zen}, locked & ~uint64_t(1), 0, 0, 0, 0, 0x0, nullptr}, // clears bit 0: told once already
        {{zen, zen}, locked | 1 << 25, 0x3, 0, 0, 0, 0x0, nullptr},    // sets another bit
        {{locked, locked}, zen, 0x1, 0, 0, 0, 0x0, nullptr},           // clears bit 21 itself
        {{zen, 0x09000010}, locked, 0x3, 0, 0, 0, 0x1, nullptr}, // each processor is checked against its own
        {{zen, zen}, locked, 0, EIO, 0, 0, 0x0, "register C0010015 does not exist on processor 0"},
        {{zen, zen}, locked, 0x2, 0, EPERM, 0, 0x0, "kernel refused to write register C0010015"},
    };
    ASSERT_EQ(platform::msr_initialize(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value << " mask " << c.mask);
        for (uint32_t p = 0; p < 2; ++p) {
            fake.cpu[p].regs[hwcr] = c.current[p];
            fake.cpu[p].read_error = c.read_error;
            fake.cpu[p].write_error = c.write_error;
        }
        testing::internal::CaptureStderr();
        if (c.mask) {
            EXPECT_EQ(platform::msr_write(hwcr, uint32_t(c.value), uint32_t(c.value >> 32), c.mask),
                      c.result);
        } else {
            EXPECT_EQ(platform::msr_write_on(0, hwcr, uint32_t(c.value), uint32_t(c.value >> 32)), c.result);
        }
        expect_told(testing::internal::GetCapturedStderr(), c.words);
        for (uint32_t p = 0; p < 2; ++p)
            EXPECT_EQ(fake.cpu[p].regs[hwcr], c.written >> p & 1 ? c.value : c.current[p]) << p;
    }
}

class PciConfig : public testing::Test {
  protected:
    std::string root = testing::TempDir() + "quilm_pci";
    void SetUp() override {
        std::filesystem::remove_all(root);
        platform::pci.devices = root.c_str();
    }
    void TearDown() override {
        platform::pci = platform::PciState{};
        std::filesystem::remove_all(root);
    }
    // A config file of `size` bytes whose byte i is i % 251, so that each word differs.
    void make(const char* function, size_t size) {
        std::filesystem::create_directories(root + "/" + function);
        std::ofstream file(root + "/" + function + "/config", std::ios::binary);
        for (size_t i = 0; i < size; ++i) file.put(char(i % 251));
    }
};

// One aligned 4-byte read of the function's config file; anything less fails and leaves the value alone.
TEST_F(PciConfig, ReadsFourBytesOrFails) {
    make("0000:00:18.3", 4096); // as root sees it
    make("0000:00:18.4", 64);   // as any other user sees it
    make("0000:00:18.2", 0xA2); // ends inside a register
    make("0000:1a:1f.7", 256);
    auto word = [](uint32_t at) { // the little-endian word of the file's pattern at offset `at`
        uint32_t v = 0;
        for (uint32_t i = 0; i < 4; ++i) v |= uint32_t((at + i) % 251) << 8 * i;
        return v;
    };
    struct Case {
        uint32_t address, reg;
        int result;
    };
    const Case cases[] = {
        {0xC3, 0xA0, 1},    {0xC3, 0xFFC, 1}, {0xC3, 0x0, 1}, {0xC3, 0xA2, 0}, // not a multiple of 4
        {0xC3, 0x1000, 0},                                                     // beyond configuration space
        {0xC4, 0x3C, 1},    {0xC4, 0x40, 0}, // beyond what a user who is not root may read
        {0xC4, 0x15C, 0},                    //
        {0xC2, 0xA0, 0},                     // two bytes left
        {0xC5, 0xA0, 0},                     // no such function
        {0x1AFF, 0xFC, 1},                   // bus 1Ah, device 1Fh, function 7
        {0x100C3, 0xA0, 0},                  // no bus above FFh
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.address << " " << c.reg);
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(platform::pci_read_config(c.address, c.reg, &value), c.result);
        EXPECT_EQ(value, c.result ? word(c.reg) : 0xDEADBEEF);
    }
}

} // namespace
