// The live view's readings: on the simulated processors of every layout family, and
// on the msr driver's path over fake processors, fake hwmon devices and a fake
// northbridge; the Prometheus text of a sample.
#include <array>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "app/watch.h"
#include "platform/msr_linux.h"
#include "platform/pci_linux.h"
#include "tests/app_fixture.h"

namespace {

using app::Clock;

uint64_t fixed_ns = 0;
uint64_t fixed_clock() {
    return fixed_ns;
}

// Lets `ns` nanoseconds pass on the fixed clock and takes the next reading.
void sample_after(uint64_t ns) {
    fixed_ns += ns;
    app::watch_sample();
}

// A reading as the test expects it; -1 for unknown (null in JSON).
struct Expected {
    Clock clock;
    int64_t mhz, busy, pstate, request_centi_mhz, request_microvolts_x10;
};

void expect_core(const app::CoreReading& r, const Expected& e) {
    const auto known = [](const app::Quantity& q) { return q.state == app::Quantity::value ? q.amount : -1; };
    EXPECT_EQ(std::tuple(r.clock, r.clock == Clock::value ? int64_t(r.mhz) : 0,
                         r.busy_known ? int64_t(r.busy) : -1, int(r.pstate), known(r.request_mhz),
                         known(r.request_volts)),
              std::tuple(e.clock, e.mhz, e.busy, e.pstate, e.request_centi_mhz, e.request_microvolts_x10));
}

class WatchSim : public test::AppTest {};

// Catches: a clock not following the current P-state, a reference that is not software P0 on a
// part with boosted states, an idle processor shown at 0 MHz, busy not following the load, the
// requested operating point decoded with another layout's fields, volts from a guessed layout,
// package readings missing where the simulator gives them or made up where it does not.
TEST_F(WatchSim, EveryProcessorFollowsItsPstateAndTheLoad) {
    // The simulated processor; the reading of each of its cores; the package's temperature and whether
    // its power is known.
    const std::tuple<const char*, Expected, int32_t, bool> cases[] = {
        {"fam19h,load=100", {Clock::value, 3600, 1000, 0, 360000, 135000}, 45000, true},
        {"fam19h,load=100,current=2", {Clock::value, 1600, 1000, 2, 160000, 100000}, 45000, true},
        {"fam19h,load=0", {Clock::idle, 0, 0, 0, 360000, 135000}, 45000, true},
        {"fam1ah,current=1,temp=88", {Clock::value, 3000, 500, 1, 300000, 100000}, 88000, true},
        {"fam17h-m90", {Clock::value, 2800, 500, 0, 280000, -1}, 45000, true},
        {"fam10h,temp=70,load=25", {Clock::value, 3000, 250, 0, 300000, 142500}, 70000, false},
        {"fam15h,current=0", {Clock::value, 4200, 500, 0, 420000, 147500}, 45000, false},
        {"fam14h,current=2", {Clock::value, 800, 500, 2, 80000, 105000}, 45000, false},
        {"fam12h,current=3", {Clock::value, 1100, 500, 3, 110000, 111250}, 45000, false},
    };
    std::vector<uint32_t> milliwatts;
    for (const auto& [sim, core, millicelsius, watts] : cases) {
        SCOPED_TRACE(sim);
        reset(sim);
        testing::internal::CaptureStderr();
        ASSERT_EQ(app::open_processor(), nullptr);
        testing::internal::GetCapturedStderr();
        fixed_ns = 5000000000;
        platform::sim_set_clock(fixed_clock);
        app::watch.clock_ns = fixed_clock;
        app::watch_begin();
        for (int second = 0; second < 2; ++second) sample_after(1000000000);
        const app::WatchSample& s = app::watch.sample;
        ASSERT_EQ(s.count, app::startup.processor_count);
        for (uint32_t p = 0; p < s.count; ++p) expect_core(s.cores[p], core);
        EXPECT_EQ(std::tuple(s.celsius_known, s.millicelsius, s.watts_known),
                  std::tuple(true, millicelsius, watts));
        milliwatts.push_back(s.milliwatts);
        DeinitializeOls();
    }
    EXPECT_GT(milliwatts[0], milliwatts[2]); // more load, more power
}

// ---------------------------------------------------------------------------
// The msr driver's path

struct FakeProcessors {
    std::map<std::pair<int, uint32_t>, uint64_t> regs; // by processor and register; others fail to read
} fake;

const platform::MsrDevice fake_device = {
    [](uint32_t p) { return 100 + int(p); },
    [](int fd, uint32_t index, uint64_t* value) {
        const auto reg = fake.regs.find({fd - 100, index});
        if (reg == fake.regs.end()) return EIO;
        *value = reg->second;
        return 0;
    },
    [](int, uint32_t, uint64_t) { return EPERM; }, // the live view never writes
    [](int) {},
    [] { return 0; },
    [] { return 2u; }};

class WatchMsr : public testing::Test {
  protected:
    const std::string root =
        testing::TempDir() + "quilm_watch_" + testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string pci_root = root + "/pci";
    void SetUp() override {
        unsetenv("QUILM_SIM");
        platform::msr.device = &fake_device;
        platform::msr_reset();
        fake = FakeProcessors{};
        std::filesystem::remove_all(root);
        app::reset_pstate();
        app::reset_startup();
        app::reset_watch();
        app::startup.processor_count = 2;
        ASSERT_NE(InitializeOls(), 0);
    }
    void TearDown() override {
        DeinitializeOls();
        platform::msr_reset();
        platform::pci = platform::PciState{};
        std::filesystem::remove_all(root);
    }
    void file(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root + path).parent_path());
        std::ofstream(root + path, std::ios::binary) << text;
    }
    // Chooses the layout and takes the first reading with the counters at `before`.
    void begin(uint8_t family, uint8_t model) {
        app::choose_layout(family, model);
        app::watch.clock_ns = fixed_clock;
        platform::pci.devices = pci_root.c_str();
        app::watch.hwmon_root = root.c_str();
        app::watch_begin();
        // The counters exist, whatever the machine running the test has.
        app::watch.counters = true;
        app::watch.mperf = app::MSR_MPERF;
        app::watch.aperf = app::MSR_APERF;
        fixed_ns = 1000000000;
        app::watch_sample();
    }
    void counters(uint64_t tsc, uint64_t mperf, uint64_t aperf) {
        fake.regs[{0, app::MSR_TSC}] = tsc;
        fake.regs[{0, app::MSR_MPERF}] = mperf;
        fake.regs[{0, app::MSR_APERF}] = aperf;
    }
};

// Catches: MHz from the wrong ratio or reference (P0's definition before Zen, the measured TSC rate on
// Zen), a backward counter taken as a huge interval, an idle processor shown at 0 MHz, a missing
// register read as 0, the P-state or request from the wrong bits (the 8-bit VID's top bit at 20).
TEST_F(WatchMsr, CountersStatusAndMissingRegisters) {
    constexpr uint64_t g = 1000000000;
    // The case; family and model; the counters afterwards (TSC, MPERF, APERF; before: 1e9, 5e8, 5e8); the
    // status register (C001_0071 before Zen, C001_0293 on Zen; 0: missing); processor 0's reading.
    const std::tuple<const char*, uint8_t, uint8_t, std::array<uint64_t, 3>, uint64_t, Expected> cases[] = {
        // clang-format off
        {"zen: TSC rate 3600 MHz, half busy, half clock", 0x19, 0x21,
         {g + 3600000000, g / 2 + 1800000000, g / 2 + 900000000}, (0x8000000059080890 & 0x3FFFFF) | 1 << 22,
         {Clock::value, 1800, 500, 1, 360000, 135000}},
        {"zen: aperf went backwards", 0x19, 0x21, {g + 3600000000, g / 2 + 1800000000, 4}, 0,
         {Clock::unknown, 0, -1, -1, -1, -1}},
        {"zen: mperf stood still", 0x19, 0x21, {g + 3600000000, g / 2, g / 2}, 0, {Clock::idle, 0, 0, -1, -1, -1}},
        {"zen 5: fid in 5 MHz", 0x1A, 0x24, {g + 4000000000, g / 2 + 4000000000, g / 2 + 4000000000},
         850 | 2 << 22, {Clock::value, 4000, 1000, 2, 425000, -1}},
        {"family 10h: P0 3000 MHz, full busy, half clock", 0x10, 0x04,
         {g + 3000000000, g / 2 + 3000000000, g / 2 + 1500000000}, 2 << 16 | 26 << 9 | 1 << 6 | 16,
         {Clock::value, 1500, 1000, 2, 160000, 122500}},
        {"family 15h: VID bit 7 at bit 20", 0x15, 0x10, {g + 3000000000, g / 2 + 300000000, g / 2 + 300000000},
         1 << 20 | 3 << 16 | 0x10 << 9 | 22, {Clock::value, 3000, 100, 3, 380000, 65000}},
        // clang-format on
    };
    for (const auto& [name, family, model, after, status, core] : cases) {
        SCOPED_TRACE(name);
        fake = FakeProcessors{};
        app::reset_watch();
        counters(g, g / 2, g / 2);
        // Before Zen the reference is P0's definition: Fid 14, (14 + 16) * 100 MHz.
        app::pstate.table.reg_low[0] = 14;
        app::pstate.pstate_count = 1;
        begin(family, model);
        counters(after[0], after[1], after[2]);
        if (status != 0)
            fake.regs[{0, family >= 0x17 ? app::MSR_HW_PSTATE : app::MSR_COFVID_STATUS}] = status;
        sample_after(g);
        expect_core(app::watch.sample.cores[0], core);
        // Processor 1 has no registers at all.
        expect_core(app::watch.sample.cores[1], {Clock::unknown, 0, -1, -1, -1, -1});
    }
}

// Catches: sensors looked up by device number instead of name, power from the wrong file, the
// northbridge's temperature without its -49 degree range, an energy counter's wrap taken as a
// fall, readings made up where nothing offers them; the Prometheus text with unknown readings.
TEST_F(WatchMsr, PackageSensorsAndMetrics) {
    // hwmon devices in an order that puts others first; the northbridge says 61 - 49 degrees.
    file("/sys/class/hwmon/hwmon0/name", "nvme\n");
    file("/sys/class/hwmon/hwmon0/temp1_input", "33000\n");
    file("/sys/class/hwmon/hwmon1/name", "fam15h_power\n");
    file("/sys/class/hwmon/hwmon1/power1_input", "45500000\n");
    std::string config(256, '\0');
    const uint32_t curtmp = (61 * 8) << 21 | 3 << 16;
    for (int i = 0; i < 4; ++i) config[0xA4 + i] = char(curtmp >> 8 * i);
    file("/pci/0000:00:18.3/config", config);
    begin(0x15, 0x10);
    sample_after(1000000000);
    const app::WatchSample& s = app::watch.sample;
    EXPECT_EQ(std::tuple(s.celsius_known, s.watts_known, s.millicelsius, s.milliwatts),
              std::tuple(true, true, 12000, 45500u));

    // k10temp wins over the northbridge; a Zen package's energy counter wraps.
    file("/sys/class/hwmon/hwmon2/name", "k10temp\n");
    file("/sys/class/hwmon/hwmon2/temp1_input", "57125\n");
    std::filesystem::remove_all(root + "/sys/class/hwmon/hwmon1");
    fake.regs[{0, app::MSR_RAPL_UNIT}] = 0x000A1003;
    fake.regs[{0, app::MSR_PACKAGE_ENERGY}] = 0xFFFF0000;
    begin(0x19, 0x21);
    fake.regs[{0, app::MSR_PACKAGE_ENERGY}] = 0x0000FFFF; // 0x1FFFF units of 2^-16 J: 2 J
    sample_after(1000000000);
    EXPECT_EQ(std::tuple(s.millicelsius, s.watts_known), std::tuple(57125, true));
    EXPECT_NEAR(s.milliwatts, 2000, 1);

    // Without sensors, northbridge or energy registers nothing is known; the metrics leave it out.
    std::filesystem::remove_all(root);
    fake = FakeProcessors{};
    counters(1000, 500, 500);
    begin(0x19, 0x21);
    counters(3601000, 1800500, 900500);
    sample_after(1000000);
    EXPECT_FALSE(s.celsius_known || s.watts_known);
    char text[4096];
    const std::string metrics(text, app::format_metrics(text, sizeof text));
    for (const char* name : {"quilm_cpu_mhz", "quilm_cpu_busy_ratio", "quilm_cpu_pstate",
                             "quilm_package_celsius", "quilm_package_watts"}) {
        EXPECT_NE(metrics.find(std::string("# HELP ") + name + " "), std::string::npos) << name;
        EXPECT_NE(metrics.find(std::string("# TYPE ") + name + " gauge\n"), std::string::npos) << name;
    }
    for (const char* line : {"\nquilm_cpu_mhz{cpu=\"0\"} 1800\n", "\nquilm_cpu_busy_ratio{cpu=\"0\"} 0.5\n"})
        EXPECT_NE(metrics.find(line), std::string::npos) << line << metrics;
    for (const char* absent :
         {"cpu=\"1\"", "quilm_cpu_pstate{", "\nquilm_package_celsius ", "\nquilm_package_watts "})
        EXPECT_EQ(metrics.find(absent), std::string::npos) << absent << "\n" << metrics;
}

} // namespace
