// The live view on 128 simulated processors: one sample (every processor's counters,
// status and the package), and one refresh of the live page (a sample, its texts,
// bars and traces, drawn and presented). This file's benchmarks run after the main
// window's, since they replace its widgets with the live page.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "app/startup.h"
#include "app/watch.h"
#include "app/watch_page.h"
#include "bench/bench_program.h"
#include "platform/hw.h"

namespace {

// Starts the program on 128 simulated Zen 3 processors and opens the live page, once.
void open_live_page() {
    static bool open = false;
    if (open) return;
    open = true;
    bench::start_program("fam19h,cores=128");
    app::watch_page.tick_ms = 0; // the benchmark refreshes the page itself
    app::open_watch_page();
}

void BM_WatchSample128Processors(benchmark::State& state) {
    open_live_page();
    for (auto _ : state) {
        app::watch_sample();
        benchmark::DoNotOptimize(app::watch.sample.cores[127].mhz);
    }
    state.counters["processors"] = app::watch.sample.count;
}
BENCHMARK(BM_WatchSample128Processors)->Unit(benchmark::kMicrosecond);

void BM_WatchPageRefresh(benchmark::State& state) {
    open_live_page();
    for (auto _ : state) {
        app::watch_page_tick();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_WatchPageRefresh)->Unit(benchmark::kMicrosecond);

} // namespace
