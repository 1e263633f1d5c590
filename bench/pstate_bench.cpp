// Reading the table: processor 0's registers and every other processor's definitions compared
// with them, as start-up and every refresh do, on the largest machine quilm writes to.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"

namespace {

void BM_ReadPstatesOf1024Processors(benchmark::State& state) {
    setenv("QUILM_SIM", "fam1ah,cores=1024,differ=1023", 1);
    InitializeOls();
    app::startup.processor_count = hw_processor_count();
    app::choose_layout(0x1A, 0x24);
    for (auto _ : state) {
        app::read_pstates();
        benchmark::DoNotOptimize(app::pstate.differing_rows);
    }
    state.counters["differing_rows"] = app::pstate.differing_rows;
    DeinitializeOls();
}
BENCHMARK(BM_ReadPstatesOf1024Processors)->Unit(benchmark::kMicrosecond);

} // namespace
