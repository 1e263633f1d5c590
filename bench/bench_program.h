// The real program for the benchmarks: started on a simulated processor up to its
// message loop, with no word on its command line whatever the benchmark's own flags.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "app/startup.h"
#include "platform/hw.h"
#include "platform/os.h"

namespace bench {

struct ProgramExit {};

// Runs start-up on the simulated processor `sim` and opens hardware access again.
inline void start_program(const char* sim) {
    setenv("QUILM_SIM", sim, 1);
    char name[] = "quilm";
    char* argv[] = {name};
    platform::os_set_arguments(1, argv);
    app::startup.exit_process = [](uint32_t) { throw ProgramExit{}; };
    try {
        app::run_program();
    } catch (const ProgramExit&) {
    }
    InitializeOls();
}

} // namespace bench
