// What quilm test reads from its command line, the kernel log and stress-ng, and how it
// judges a run; the refusal of automatic mode while a test runs.
#include "app/stability.h"

#include <cstring>
#include <string>

#include "tests/app_fixture.h"

namespace {

using platform::ProcessEnd;
using V = app::Verdict;

// Catches: a range taken backwards or past the last processor, trailing garbage or an empty
// item accepted, a processor of another item dropped.
TEST(ProcessorList, RangesAndSinglesWithinTheCount) {
    struct {
        const char* text;
        bool ok;
        uint64_t bits; // processors 0..63
    } cases[] = {
        {"0-3,8", true, 0x10F}, {"5", true, 0x20}, {"0,0-1", true, 0x3}, {"9", false, 0},
        {"3-2", false, 0},      {"0-9", false, 0}, {"0,", false, 0},     {"", false, 0},
        {"1-", false, 0},       {"-1", false, 0},  {"0 1", false, 0},    {"99999999999", false, 0},
    };
    for (const auto& c : cases) {
        uint64_t chosen[app::test_max_processors / 64] = {};
        EXPECT_EQ(app::parse_processors(c.text, 9, chosen), c.ok) << c.text;
        EXPECT_EQ(chosen[0], c.bits) << c.text;
    }
}

// Catches: machine-check reports missed in /dev/kmsg records or plain lines, or other kernel
// messages (thermal throttling, the boot-time set-up) taken for errors.
TEST(KernelLog, MachineCheckLines) {
    struct {
        const char* line;
        bool error;
    } cases[] = {
        {"3,812,4242,-;mce: [Hardware Error]: CPU 2: Machine Check: 0 Bank 5: bea0000000000108", true},
        {"4,813,4243,-;mce: [Hardware Error]: Machine check events logged", true},
        {"[Hardware Error]: Corrected error, no action required.", true},
        {"0,900,5000,-;Kernel panic - not syncing: Fatal machine check", true},
        {"4,814,4244,-;mce: CPU2: Core temperature above threshold, cpu clock throttled", false},
        {"6,10,100,-;MCE: In-kernel MCE decoding enabled.", false},
        {"6,11,101,-;usb 1-1: new high-speed USB device", false},
    };
    for (const auto& c : cases) EXPECT_EQ(app::machine_check_line(c.line), c.error) << c.line;
}

// Catches: a report without work counted as work, the instances of a report not summed.
TEST(Report, BogoOperationsSummed) {
    EXPECT_EQ(app::report_bogo_ops("---\nmetrics:\n    - stressor: cpu\n      bogo-ops: 2301\n"), 2301);
    EXPECT_EQ(app::report_bogo_ops("metrics:\n  - bogo-ops: 5\n  - bogo-ops: 7\n"), 12);
    EXPECT_EQ(app::report_bogo_ops("---\nsystem-info:\n      cpus: 2\n"), -1);
    EXPECT_EQ(app::report_bogo_ops("      bogo-ops: 0\n"), 0);
}

// Catches: a wrong answer, a crash or an unexpected end counted as a pass, a run without work
// counted as proof, a refusal of stress-ng's options blamed on the processor.
TEST(Report, EachEndOfStressNgJudged) {
    const char* fail_output = "stress-ng: info:  [9] dispatching hogs: 1 cpu\n"
                              "stress-ng: fail:  [10] cpu: sqrt error detected on sqrt(17)\n";
    const char* taskset_output = "stress-ng: info:  [9] setting\ntaskset: invalid range, 5 is not allowed\n";
    constexpr ProcessEnd exited = ProcessEnd::exited;
    struct {
        ProcessEnd end;
        int code;
        const char* output;
        int64_t bogo_ops;
        V verdict;
        const char* evidence;
    } cases[] = {
        // clang-format off
        {exited, 0, "", 100, V::passed, ""},
        {exited, 0, "", 0, V::no_work, "stress-ng ran sqrt but reported no completed work"},
        {exited, 0, "", -1, V::no_work, "stress-ng ran sqrt but reported no completed work"},
        {exited, 2, fail_output, 100, V::failed, "verification failed in sqrt: cpu: sqrt error detected on sqrt(17)"},
        {exited, 2, "", -1, V::failed, "verification failed in sqrt"},
        {exited, 5, "", -1, V::failed, "a worker running sqrt was killed by a signal"},
        {exited, 7, "", 100, V::failed, "a worker running sqrt went wrong (stress-ng exit status 7)"},
        {ProcessEnd::killed, 11, "", -1, V::failed, "stress-ng running sqrt killed by signal 11"},
        {exited, 1, taskset_output, -1, V::cannot_run, "exit status 1: taskset: invalid range, 5 is not allowed"},
        {exited, 3, "stress-ng: error: [9] cpu: out of memory\n", -1, V::cannot_run, "exit status 3: cpu: out of memory"},
        // clang-format on
    };
    for (const auto& c : cases) {
        char evidence[256] = "";
        const V verdict =
            app::judge_run(c.end, c.code, c.output, c.bogo_ops, "sqrt", evidence, sizeof evidence);
        EXPECT_EQ(std::tuple(verdict, std::string(evidence)), std::tuple(c.verdict, std::string(c.evidence)))
            << c.code;
    }
}

class Stability : public test::AppTest {
  protected:
    void TearDown() override {
        platform::test_mark_release();
        AppTest::TearDown();
    }
};

// Catches: the governor started while a test holds a P-state, and the mark never let go.
TEST_F(Stability, AutomaticModeIsRefusedWhileATestRuns) {
    start_quietly("fam15h");
    ASSERT_TRUE(platform::test_mark_take("")); // a simulated processor without a state file: this process
    app::toggle_auto(-1);
    ASSERT_EQ(std::pair(app::pstate.auto_mode, boxes().size()), std::pair(uint8_t{0}, size_t{1}));
    EXPECT_EQ(boxes()[0].text, "a stability test is running: automatic mode stays off");
    platform::test_mark_release();
    app::toggle_auto(-1);
    EXPECT_EQ(app::pstate.auto_mode, 1);
    app::stop_governor();
}

} // namespace
