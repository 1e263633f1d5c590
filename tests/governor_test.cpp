// The load governor: one period as a pure function of the times and the table,
// and the thread's life (on, off, load and exit while it runs).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/app_fixture.h"
#include "toolkit/window.h"

namespace {

using app::governor_step;
using app::GovernorView;

struct StepCase {
    const char* name;
    uint64_t period, idle; // of the new sample against the previous one (at 1000, 1000)
    uint32_t avg_load;
    GovernorView view;
    uint32_t sample_load, new_avg;
    int32_t target;
};

TEST(GovernorStep, LoadThresholdsAndTheWalkOverEnabledRows) {
    // clang-format off
    const StepCase cases[] = {
        // 4 processors, a period of 6,000,000 units
        {"busy steps toward P0",          6000000, 4500000,  0, {3, 0, 5, 0x1F, 4}, 32, 16,  2},
        {"busy at P0 writes nothing",     6000000, 4500000,  0, {0, 0, 5, 0x1F, 4}, 32, 16, -1},
        {"middling load, low average",    6000000, 5000000,  0, {1, 0, 5, 0x1F, 4}, 21, 19,  2},
        {"middling load, high average",   6000000, 5000000, 40, {1, 0, 5, 0x1F, 4}, 21, 30, -1},
        {"idle steps away from P0",       6000000, 5400000,  0, {0, 0, 5, 0x1F, 4}, 12, 19,  1},
        {"idle at the last row read",     6000000, 5400000,  0, {4, 0, 5, 0x1F, 4}, 12,  6, -1},
        {"a disabled row blocks the walk",6000000, 5400000,  0, {1, 0, 5, 0x1B, 4}, 12,  6, -1},
        {"never onto a disabled row up",  6000000, 4500000,  0, {3, 0, 5, 0x1B, 4}, 32, 16, -1},
        {"boosted rows are never chosen", 6000000, 4500000,  0, {2, 2, 8, 0xFF, 4}, 32, 16, -1},
        {"toward software P0 with boost", 6000000, 4500000,  0, {3, 2, 8, 0xFF, 4}, 32, 16,  2},
        // 1 processor: 104 or more steps toward P0, an average of 72 or less away from it
        {"one processor at 104",           128000,   24000,  0, {2, 0, 5, 0x1F, 1}, 104, 52,  1},
        {"one processor at 103",           128000,   25000, 41, {2, 0, 5, 0x1F, 1}, 103, 78,  3},
        {"one processor resets to 78",     128000,  128000,  0, {2, 0, 5, 0x1F, 1},   0,  78, 3},
        // 8 processors: 13 toward, 9 or less away; the reset is 9
        {"eight processors at 13",        1280000, 1150000,  0, {2, 0, 5, 0x1F, 8}, 13,  6,  1},
        {"eight processors at 12",        1280000, 1160000,  6, {2, 0, 5, 0x1F, 8}, 12,  9,  3},
        // 2 processors reset to 39
        {"two processors reset",          1280000, 1280000,  0, {0, 0, 2, 0x03, 2},  0, 39,  1},
        // a period under 128 units carries no information
        {"tiny period",                       127,       0, 50, {2, 0, 5, 0x1F, 4},  0, 50, -1},
        {"no time at all",                      0,       0, 50, {2, 0, 5, 0x1F, 4},  0, 50, -1},
    };
    // clang-format on
    for (const auto& c : cases) {
        auto d = governor_step({1000, 1000}, {1000 + c.period, 1000 + c.idle}, c.avg_load, c.view);
        EXPECT_EQ(std::tie(d.sample_load, d.avg_load, d.target), std::tie(c.sample_load, c.new_avg, c.target))
            << c.name;
    }
}

class Governor : public test::AppTest {
  protected:
    // Waits (at most ten seconds) until the condition holds.
    template <class F> bool eventually(F condition) {
        for (int i = 0; i < 1000 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return condition();
    }
    std::string last_title() { return platform::headless_titles().back(); }
    bool running() { return app::load_shared(app::governor_state.governor_running) != 0; }
};

// System times that a test makes up: after the first sample every period of 150 ms is idle.
std::atomic<int> samples_taken;
bool busy_since_boot_then_idle(uint64_t* idle, uint64_t* kernel, uint64_t* user) {
    const uint64_t n = uint64_t(samples_taken++);
    *user = 1'000'000'000'000; // everything before: all busy
    *kernel = *idle = n * 1'500'000;
    return true;
}

// Catches: the first decision weighed against zero (the whole time since boot, all busy here:
// a step toward P0 at once); a refused control value that moves current_index or the title, or
// is told every period, or not at all.
TEST_F(Governor, FirstDecisionFromAPrimedSampleAndARefusalToldOnce) {
    for (const char* sim : {"fam15h,current=4", "fam15h,current=4,refusecontrol=1"}) {
        SCOPED_TRACE(sim);
        start_quietly(sim);
        const bool refusing = std::string(sim).ends_with("refusecontrol=1");
        samples_taken = 0;
        app::governor_state.system_times = busy_since_boot_then_idle;
        app::toggle_auto(-1);
        EXPECT_TRUE(eventually([&] { return samples_taken >= (refusing ? 6 : 4); }));
        app::toggle_auto(-1);
        const auto titles = platform::headless_titles(); // never toward P0: no "3 auto"
        EXPECT_EQ(std::tuple(std::count(titles.begin(), titles.end(), "QUILM (3 auto)"),
                             std::count(titles.begin(), titles.end(), "QUILM (5 auto)"),
                             app::pstate.current_index),
                  std::tuple(0, refusing ? 0 : 1, refusing ? 4 : 6));
        tk::message_loop(); // the main thread shows what the governor posted
        ASSERT_EQ(boxes().size(), refusing ? 1u : 0u);
        for (const auto& box : boxes())
            EXPECT_EQ(box.text, "not all settings accepted: processor 1 refused register C0010062");
    }
}

// Catches: a boosted row or no row in the title while automatic mode is on, switching off before
// the thread has ended, or without the manual title.
TEST_F(Governor, OnShowsTheRowInTheTitleAndOffWaitsForTheThread) {
    start_quietly("fam15h");
    app::toggle_auto(-1);
    EXPECT_EQ(app::pstate.auto_mode, 1);
    EXPECT_TRUE(eventually([&] { return last_title().size() == 14 && last_title().ends_with(" auto)"); }));
    // Hardware numbering: never a boosted row.
    EXPECT_TRUE(last_title()[7] >= '2' && last_title()[7] <= '6') << last_title();
    app::toggle_auto(-1); // the wait is over only when the thread has ended
    EXPECT_EQ(std::tuple(running(), app::pstate.auto_mode, last_title()),
              std::tuple(false, 0, "QUILM (manual)"));
}

// Catches: loading the settings file leaving the governor running or the title automatic, a second
// governor on again, a race on the enable bits the governor reads, and exit releasing the hardware
// before the governor has ended.
TEST_F(Governor, LoadingEndsAutoModeOnAgainStartsOneThreadAndExitStopsItFirst) {
    start_quietly("fam10h");
    char dir[] = "/tmp/quilm-governor-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::snprintf(app::startup.settings_path, app::settings_path_size, "%s/quilm.cfg", dir);
    app::save_settings(-1);
    app::toggle_auto(-1);
    ASSERT_TRUE(eventually([&] { return last_title() != "QUILM (manual)"; }));
    EXPECT_EQ(app::load_settings(-1), 0u);
    EXPECT_EQ(std::pair(running(), last_title()), std::pair(false, std::string("QUILM (manual)")));
    std::remove(app::startup.settings_path);
    rmdir(dir);

    app::toggle_auto(-1); // on again: exactly one governor
    ASSERT_TRUE(running());
    const int32_t toggle = 5 * 4; // P-State 0, after the five header widgets
    ASSERT_EQ(tk::wkind(toggle), tk::KIND_TOGGLE);
    for (int i = 0; i < 40; ++i) { // the governor reads the enable bits every period
        tk::activate_widget(toggle);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_LE(app::pstate.table.rows[0].state, 1); // toggled, not yet decoded again
    EXPECT_THROW(app::exit_program(-1), test::ProcessExit);
    EXPECT_EQ(std::pair(running(), platform::sim_processor_count()),
              std::pair(false, 0u)); // released after the governor ended
}

} // namespace
