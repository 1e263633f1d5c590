// The load governor's cost: the process's CPU time over ten seconds of auto mode
// while the main thread only waits, as a share of one core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "app/governor.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"

namespace {

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_GovernorTenSecondsOfAutoMode(benchmark::State& state) {
    setenv("QUILM_SIM", "fam10h", 1);
    InitializeOls();
    app::startup.processor_count = 4;
    app::read_pstates();
    app::choose_layout(0x10, 4);
    app::decode_pstates();
    double share = 0;
    for (auto _ : state) {
        const double before = cpu_seconds();
        const auto start = std::chrono::steady_clock::now();
        app::pstate.auto_mode = 0;
        app::toggle_auto(-1);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        app::toggle_auto(-1);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        share = (cpu_seconds() - before) / wall;
        state.SetIterationTime(wall);
    }
    state.counters["cpu_share_percent"] = share * 100;
    DeinitializeOls();
}
BENCHMARK(BM_GovernorTenSecondsOfAutoMode)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
