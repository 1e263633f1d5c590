// The msr driver's logic against a fake set of processors: opening, the messages
// per failure, reading on the current processor and writing by affinity mask.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/hw.h"
#include "platform/msr_linux.h"

namespace {

using platform::msr;

constexpr uint32_t fake_max = 8;
constexpr int fd_base = 100; // descriptor of processor p is fd_base + p

struct FakeProcessor {
    int open_error = 0;  // errno the open fails with, 0 to succeed
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
        fake = Fake{};
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

// Without QUILM_SIM the six operations go to the msr driver until DeinitializeOls. Reads go to the
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
    DeinitializeOls();
    EXPECT_EQ(fake.closes, int(fake.count)); // every device opened at the start is closed
    EXPECT_EQ(Rdmsr(0xC0010063, &eax, &edx), 0);
    EXPECT_EQ(WrmsrTx(0xC0010062, 1, 0, 0x2), 0);
    EXPECT_NE(GetDllStatus(), 0u);
}

} // namespace
