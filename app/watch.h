// The live view: what every processor really does from one sample to the next (its
// effective clock, how busy it was, its hardware P-state and the operating point it
// asks for) and the package's temperature and power. Every reading comes from a
// register or sensor that may be missing or hidden; a reading that cannot be had is
// unknown, never guessed. Nothing here writes a register.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "app/layouts.h"

namespace app {

// clang-format off
inline constexpr uint32_t MSR_TSC             = 0x00000010; // time-stamp counter
inline constexpr uint32_t MSR_MPERF           = 0x000000E7; // ticks at P0 while the processor runs
inline constexpr uint32_t MSR_APERF           = 0x000000E8; // ticks at the actual clock while it runs
inline constexpr uint32_t MSR_MPERF_READ_ONLY = 0xC00000E7; // Zen: copies that reading never resets
inline constexpr uint32_t MSR_APERF_READ_ONLY = 0xC00000E8;
inline constexpr uint32_t MSR_HW_PSTATE       = 0xC0010293; // Zen: current Fid, DfsId, Vid; bits 24..22 the P-state
inline constexpr uint32_t MSR_RAPL_UNIT       = 0xC0010299; // Zen: bits 12..8 energy unit, 2^-ESU J
inline constexpr uint32_t MSR_PACKAGE_ENERGY  = 0xC001029B; // Zen: package energy, 32 bits that wrap
// clang-format on

inline constexpr uint32_t watch_max_processors = 1024;

// A processor's effective clock over the interval.
enum class Clock : uint8_t {
    unknown, // no counters, or the sample was dropped
    idle,    // MPERF did not move: the processor slept the whole interval
    value,
};

struct CoreReading {
    Clock clock;
    uint32_t mhz; // effective clock in MHz, when clock is value
    bool busy_known;
    uint16_t busy;          // share of the interval the processor ran, 1/10 %, 0..1000
    int8_t pstate;          // hardware P-state now, -1 unknown
    Quantity request_mhz;   // requested frequency, 1/100 MHz
    Quantity request_volts; // requested voltage, 1/100000 V
};

struct WatchSample {
    uint32_t count; // processors sampled
    bool celsius_known;
    int32_t millicelsius; // package temperature (Tctl), 1/1000 degrees Celsius
    bool watts_known;
    uint32_t milliwatts; // package power, 1/1000 W
    CoreReading cores[watch_max_processors];
};

struct CoreCounters {
    bool valid; // all three read
    uint64_t tsc, mperf, aperf;
};

struct WatchState {
    uint64_t (*clock_ns)(); // monotonic clock in ns; null: the system's steady clock
    const char* hwmon_root; // root of the sensor files, "" for the running system
    bool counters;          // the processor has APERF and MPERF
    uint32_t mperf, aperf;  // the registers read for them
    uint64_t last_ns;       // clock at the previous reading
    bool energy_valid;      // energy holds a reading
    uint32_t energy;        // package energy counter at the previous reading
    uint32_t energy_unit;   // ESU: one count is 2^-ESU J
    CoreCounters last[watch_max_processors];
    WatchSample sample;
};
extern WatchState watch;

// Back to the start state (the system's clock and sensors).
void reset_watch();

// Settles which registers give the readings and takes the first counters (hardware access
// open, the processor identified). The first sample follows from watch_sample.
void watch_begin();

// Reads every processor and the package and works out the sample since the previous reading.
void watch_sample();

// One processor's effective clock and busy share from two readings of its counters; reference
// is P0's frequency in 1/100 MHz, or 0 where the time-stamp counter's rate over ns is the
// reference (Zen).
void core_clock(const CoreCounters& before, const CoreCounters& now, uint64_t ns, int64_t reference,
                CoreReading& out);

// Prints the sample: one JSON object on a line, or the aligned table.
void print_sample(std::FILE* out, bool json, double unix_seconds);

// The sample in Prometheus's text format; the length written (at most size - 1).
size_t format_metrics(char* buffer, size_t size);

// `quilm watch [--json] [--interval SECONDS] [--count N] [--textfile PATH]`; the exit code.
int watch_word();

} // namespace app
