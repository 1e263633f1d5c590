// The msr driver's logic against a fake set of processors: opening, the messages
// per failure, reading on the current processor and writing by affinity mask.
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
    int writes = 0;
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
    auto found = cpu.regs.find(index);
    if (!cpu.open || found == cpu.regs.end()) return EIO;
    *value = found->second;
    return 0;
}

int fake_write(int fd, uint32_t index, uint64_t value) {
    FakeProcessor& cpu = fake.cpu[fd - fd_base];
    if (!cpu.open) return EBADF;
    if (cpu.write_error) return cpu.write_error;
    cpu.regs[index] = value;
    ++cpu.writes;
    return 0;
}

void fake_close(int fd) {
    ++fake.closes;
    fake.cpu[fd - fd_base].open = false;
}

int fake_current_processor() {
    return fake.current;
}
uint32_t fake_processor_count() {
    return fake.count;
}

const platform::MsrDevice fake_device = {
    fake_open, fake_read, fake_write, fake_close, fake_current_processor, fake_processor_count};

int line_count(const std::string& text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

class MsrDriver : public testing::Test {
  protected:
    void SetUp() override {
        fake = Fake{};
        msr.device = &fake_device;
        platform::msr_reset();
    }
    void TearDown() override { platform::msr_reset(); }
};

// Opening: processor 0 decides InitializeOls, the others GetDllStatus; one actionable line per reason.
TEST_F(MsrDriver, OpenFailuresAreReportedWithWhatToDo) {
    struct Case {
        uint32_t failing; // mask of processors whose open fails
        int error;
        int initialized;   // InitializeOls result
        uint32_t status;   // GetDllStatus result when initialized
        const char* words; // expected in the single stderr line, nullptr for silence
    };
    const Case cases[] = {
        {0x0, 0, 1, 0, nullptr},
        {0x1, ENOENT, 0, 1,
         "/dev/cpu/0/msr: no such processor, or the msr module is not loaded (run: modprobe msr)"},
        {0x1, ENXIO, 0, 1, "run: modprobe msr"},
        {0xF, EACCES, 0, 1, "/dev/cpu/0/msr: permission denied (run as root)"},
        {0x1, EPERM, 0, 1, "CAP_SYS_RAWIO (run as root)"},
        {0x1, EIO, 0, 1, "no model-specific registers"},
        {0x4, EACCES, 1, 1, "/dev/cpu/2/msr: permission denied"},
        {0xE, ENXIO, 1, 1, "/dev/cpu/1/msr"}, // three failures, one reason, one line
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "failing " << c.failing << " errno " << c.error);
        platform::msr_reset();
        fake = Fake{};
        for (uint32_t p = 0; p < fake.count; ++p)
            if (c.failing >> p & 1) fake.cpu[p].open_error = c.error;
        testing::internal::CaptureStderr();
        int initialized = platform::msr_initialize();
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(initialized, c.initialized);
        EXPECT_EQ(platform::msr_status(), c.status);
        if (c.words) {
            EXPECT_EQ(line_count(err), 1) << err;
            EXPECT_NE(err.find(c.words), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
        // A failed start keeps nothing open.
        if (!initialized) {
            EXPECT_EQ(fake.opens, fake.closes);
        }
    }
}

// Reads go to the processor the thread runs on, or to processor 0 when that one has no device.
TEST_F(MsrDriver, ReadUsesTheCurrentProcessor) {
    struct Case {
        int current;
        uint32_t expected_processor;
    };
    const Case cases[] = {{0, 0}, {2, 2}, {3, 3}, {-1, 0}, {6, 0}};
    for (uint32_t p = 0; p < fake.count; ++p) fake.cpu[p].regs[0xC0010064] = 0x8000000100000000 + p;
    ASSERT_EQ(platform::msr_initialize(), 1);
    for (const Case& c : cases) {
        fake.current = c.current;
        uint32_t eax = 0xFFFFFFFF, edx = 0;
        ASSERT_EQ(platform::msr_read(0xC0010064, &eax, &edx), 1) << c.current;
        EXPECT_EQ(eax, c.expected_processor) << c.current;
        EXPECT_EQ(edx, 0x80000001u) << c.current;
    }
    // A register the processor lacks fails the read without a word: probing for it is normal.
    uint32_t eax, edx;
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::msr_read(0xC0010069, &eax, &edx), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Writes reach exactly the processors of the mask, with the high word on top.
TEST_F(MsrDriver, WriteReachesEveryProcessorOfTheMask) {
    struct Case {
        uintptr_t mask;
        uint32_t written; // processors expected to hold the value
        int result;
        const char* words; // expected on stderr, nullptr for silence
    };
    const Case cases[] = {
        {0x1, 0x1, 1, nullptr},
        {0x8, 0x8, 1, nullptr},
        {0xA, 0xA, 1, nullptr},
        {0xF, 0xF, 1, nullptr},
        {0x0, 0x0, 0, nullptr},
        {0x31, 0x1, 0, "register C0010066 on processor 4: no such processor"},
        {uintptr_t(1) << (8 * sizeof(uintptr_t) - 1), 0x0, 0, nullptr}, // same reason, not repeated
    };
    ASSERT_EQ(platform::msr_initialize(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mask " << c.mask);
        for (uint32_t p = 0; p < fake.count; ++p) fake.cpu[p].regs.clear();
        testing::internal::CaptureStderr();
        EXPECT_EQ(platform::msr_write(0xC0010066, 0x3C00140E, 0x80000058, c.mask), c.result);
        std::string err = testing::internal::GetCapturedStderr();
        for (uint32_t p = 0; p < fake.count; ++p) {
            bool holds = fake.cpu[p].regs.count(0xC0010066) == 1;
            EXPECT_EQ(holds, bool(c.written >> p & 1)) << "processor " << p;
            if (holds) {
                EXPECT_EQ(fake.cpu[p].regs[0xC0010066], 0x800000583C00140Eu);
            }
        }
        if (c.words) {
            EXPECT_NE(err.find(c.words), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
}

// A refused write is told once per reason, naming register and processor, and always returned.
TEST_F(MsrDriver, RefusedWritesAreReportedOncePerReason) {
    struct Case {
        uint32_t processor;
        int error;
        const char* words; // expected on stderr, nullptr when the reason was told before
    };
    const Case cases[] = {
        {1, EPERM,
         "refused to write register C0010064 on processor 1 (kernel lockdown, or msr.allow_writes=off"},
        {2, EPERM, nullptr},
        {3, EIO, "register C0010064 does not exist on processor 3"},
        {1, EIO, nullptr},
        {2, EINVAL, "register C0010064 on processor 2: Invalid argument"},
    };
    ASSERT_EQ(platform::msr_initialize(), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "processor " << c.processor << " errno " << c.error);
        fake.cpu[c.processor].write_error = c.error;
        testing::internal::CaptureStderr();
        EXPECT_EQ(WrmsrTx(0xC0010064, 1, 0, uintptr_t(1) << c.processor), 0);
        std::string err = testing::internal::GetCapturedStderr();
        fake.cpu[c.processor].write_error = 0;
        if (c.words) {
            EXPECT_EQ(line_count(err), 1) << err;
            EXPECT_NE(err.find(c.words), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
    // The refusals did not stop the other processors from being written.
    EXPECT_EQ(WrmsrTx(0xC0010064, 2, 0, 0xF), 1);
    for (uint32_t p = 0; p < fake.count; ++p) EXPECT_EQ(fake.cpu[p].regs[0xC0010064], 2u) << p;
}

// Only the P-state control and definition registers are ever written.
TEST_F(MsrDriver, RegistersOutsideThePStateSetAreNeverWritten) {
    ASSERT_EQ(platform::msr_initialize(), 1);
    const uint32_t refused[] = {0xC0010061, 0xC0010063, 0xC001006C, 0xC0010071, 0x0000001B};
    testing::internal::CaptureStderr();
    for (uint32_t index : refused) EXPECT_EQ(platform::msr_write(index, 0, 0, 0xF), 0) << std::hex << index;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(line_count(err), 1) << err;
    EXPECT_NE(err.find("C0010061 is not a P-state register"), std::string::npos) << err;
    for (uint32_t p = 0; p < fake.count; ++p) EXPECT_EQ(fake.cpu[p].writes, 0);
    const uint32_t allowed[] = {0xC0010062, 0xC0010064, 0xC001006B};
    for (uint32_t index : allowed) EXPECT_EQ(platform::msr_write(index, 0, 0, 0x1), 1) << std::hex << index;
}

// Without QUILM_SIM the six operations go to the msr driver, and stop with DeinitializeOls.
TEST_F(MsrDriver, HardwareOperationsUseTheDriverWithoutSimulation) {
    ::unsetenv("QUILM_SIM");
    fake.cpu[0].regs[0xC0010063] = 0x0000000700000002;
    ASSERT_EQ(InitializeOls(), 1);
    EXPECT_EQ(GetDllStatus(), 0u);
    EXPECT_EQ(hw_simulated_processor_count(), 0u);
    uint32_t eax = 0, edx = 0;
    EXPECT_EQ(Rdmsr(0xC0010063, &eax, &edx), 1);
    EXPECT_EQ(eax, 2u);
    EXPECT_EQ(edx, 7u);
    EXPECT_EQ(WrmsrTx(0xC0010062, 1, 0, 0x2), 1);
    EXPECT_EQ(fake.cpu[1].regs[0xC0010062], 1u);
    DeinitializeOls();
    EXPECT_EQ(fake.opens, int(fake.count));
    EXPECT_EQ(fake.closes, int(fake.count));
    EXPECT_EQ(Rdmsr(0xC0010063, &eax, &edx), 0);
    EXPECT_EQ(WrmsrTx(0xC0010062, 1, 0, 0x2), 0);
    EXPECT_NE(GetDllStatus(), 0u);
}

} // namespace
