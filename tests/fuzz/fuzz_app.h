// The program as the fuzz targets drive it: the main window on the headless
// backend over a simulated processor, opened once per process.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "app/governor.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "platform/window_headless.h"

namespace fuzz {

struct ProcessExit {};
[[noreturn]] inline void leave(uint32_t) {
    throw ProcessExit{};
}

// Opens the main window on a simulated family-10h processor (first call only) and gives the
// simulator fresh registers.
inline void open_program() {
    static bool open = false;
    if (!open) {
        open = true;
        setenv("QUILM_SIM", "fam10h", 1);
        unsetenv("QUILM_SIM_STATE");
        char name[] = "quilm";
        char* argv[] = {name};
        platform::os_set_arguments(1, argv);
        app::startup.exit_process = leave;
        try {
            app::run_program();
        } catch (const ProcessExit&) {
        }
    } else {
        DeinitializeOls();
    }
    InitializeOls();
    platform::headless.message_boxes.clear();
}

// Stops what an input may have left running.
inline void settle() {
    app::stop_governor();
    platform::headless.message_boxes.clear();
}

} // namespace fuzz
