// A clean program for each test: every module back to its start state, the
// headless window, and a simulated processor chosen by the test. Unit tests never
// reach real hardware: they always name a simulated processor.
#pragma once
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/actions.h"
#include "app/governor.h"
#include "app/pstate.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/watch.h"
#include "app/watch_page.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "platform/sim.h"
#include "platform/window_headless.h"
#include "toolkit/input.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace test {

// Thrown where the program would end its process.
struct ProcessExit {
    uint32_t code;
};

[[noreturn]] inline void throw_exit(uint32_t code) {
    throw ProcessExit{code};
}

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override { reset("fam10h"); }
    void TearDown() override {
        app::stop_governor();
        app::reset_watch_page();
        platform::sim_reset();
        unsetenv("QUILM_SIM");
        unsetenv("QUILM_SIM_STATE");
    }

    // Every module back to its start state, with `sim` as the processor to simulate.
    void reset(const std::string& sim, const std::string& state_file = "") {
        app::stop_governor();
        platform::sim_reset();
        app::reset_pstate();
        app::reset_startup();
        app::reset_governor();
        app::reset_watch_page();
        app::reset_watch();
        app::settings = {};
        tk::reset_window();
        tk::reset_widgets();
        tk::reset_input();
        platform::headless_reset();
        app::startup.exit_process = throw_exit;
        static char program[] = "quilm";
        static char* plain[] = {program, nullptr};
        platform::os_set_arguments(1, plain); // the window, not the test program's own words
        setenv("QUILM_SIM", sim.c_str(), 1);
        if (state_file.empty())
            unsetenv("QUILM_SIM_STATE");
        else
            setenv("QUILM_SIM_STATE", state_file.c_str(), 1);
    }

    // Runs the whole program until it would end its process; returns the exit code.
    uint32_t run() {
        try {
            app::run_program();
        } catch (const ProcessExit& e) {
            return e.code;
        }
    }

    // The start-up sequence up to the message loop, without leaving the program: the window
    // with its widgets drawn, on the simulated processor.
    void start(const std::string& sim, const std::string& state_file = "") {
        reset(sim, state_file);
        EXPECT_EQ(run(), 0u); // the headless message loop ends when no message is queued
        // Open hardware access again, as if the loop were still running.
        ASSERT_NE(InitializeOls(), 0);
    }

    const std::vector<platform::MessageBoxRecord>& boxes() const { return platform::headless.message_boxes; }

    // start, with what the simulator says on stderr kept out of the test's output.
    void start_quietly(const std::string& sim, const std::string& state_file = "") {
        testing::internal::CaptureStderr();
        start(sim, state_file);
        testing::internal::GetCapturedStderr();
    }

    // A register of a simulated processor.
    static uint64_t reg(uint32_t processor, uint32_t index) {
        uint64_t v = 0;
        EXPECT_TRUE(platform::sim_register(processor, index, &v)) << processor << " " << std::hex << index;
        return v;
    }
};

} // namespace test
