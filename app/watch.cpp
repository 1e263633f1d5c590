// The live view's readings and `quilm watch`. Each sample reads every processor's
// counters in one pass (time-stamp counter, MPERF, APERF), its hardware P-state and
// requested operating point, then the package's sensors, and compares them with the
// previous reading.
#include "app/watch.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/cli.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/files.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "platform/sensors.h"

namespace app {

WatchState watch;

void reset_watch() {
    std::memset(static_cast<void*>(&watch), 0, sizeof watch);
    watch.hwmon_root = "";
}

namespace {

constexpr uint32_t northbridge_function3 = 0x18 << 3 | 3; // bus 0, device 18h, function 3

uint64_t now_ns() {
    if (watch.clock_ns) return watch.clock_ns();
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

bool read_msr(uint32_t processor, uint32_t index, uint64_t* value) {
    uint32_t low = 0, high = 0;
    if (!hw_rdmsr_on(processor, index, &low, &high)) return false;
    *value = join(low, high);
    return true;
}

CoreCounters read_counters(uint32_t processor) {
    CoreCounters c{};
    c.valid = watch.counters && read_msr(processor, MSR_TSC, &c.tsc) &&
              read_msr(processor, watch.mperf, &c.mperf) && read_msr(processor, watch.aperf, &c.aperf);
    return c;
}

// The hardware P-state and the requested operating point from the status register: before Zen
// C001_0071, whose frequency fields and low VID bits lie where the definitions hold them (an
// 8-bit VID keeps its top bit at bit 20); on Zen C001_0293, laid out as the definitions.
void read_request(uint32_t processor, CoreReading& out) {
    const Layout& layout = current_layout();
    out.pstate = -1;
    out.request_mhz = out.request_volts = {Quantity::unknown, 0};
    if (!layout.cofvid && !layout.zen) return;
    uint64_t status = 0;
    if (!read_msr(processor, layout.zen ? MSR_HW_PSTATE : MSR_COFVID_STATUS, &status)) return;
    uint64_t as_definition = status;
    if (layout.zen) {
        out.pstate = int8_t(status >> 22 & 7);
    } else {
        out.pstate = int8_t(status >> 16 & 7);
        as_definition = status & 0xFFFF;
        if (layout.vid.width == 8) as_definition |= (status >> 20 & 1) << 16;
    }
    const Quantity mhz = frequency_of(layout, as_definition);
    if (mhz.state == Quantity::value) out.request_mhz = mhz;
    // The voltage encoding is only guessed for an uncertain layout: no volts from a guess.
    const Quantity volts = voltage_of(layout, as_definition);
    if (layout_state.certain && volts.state == Quantity::value) out.request_volts = volts;
}

// P0's frequency in 1/100 MHz, the pace of MPERF before Zen; 0 where it is not known.
int64_t p0_centi_mhz() {
    const uint32_t row = load_shared(pstate.pstate_offset);
    if (current_layout().zen || row >= load_shared(pstate.pstate_count)) return 0;
    const Quantity q =
        frequency_of(current_layout(), join(pstate.table.reg_low[row], pstate.table.reg_high[row]));
    return q.state == Quantity::value ? q.amount : 0;
}

// The package temperature from the system's sensor, or before Zen from the northbridge's
// CurTmp (D18F3xA4 bits 31..21 in 1/8 degrees, 49 degrees lower when bits 17..16 are 3).
void read_temperature(const platform::PackageSensors& sensors, WatchSample& s) {
    s.celsius_known = sensors.celsius_known;
    s.millicelsius = sensors.millicelsius;
    uint32_t value = 0;
    if (s.celsius_known || !current_layout().cofvid ||
        !ReadPciConfigDwordEx(northbridge_function3, 0xA4, &value))
        return;
    s.celsius_known = true;
    s.millicelsius = int32_t(value >> 21) * 125 - ((value >> 16 & 3) == 3 ? 49000 : 0);
}

// The package power from the system's sensor, or on Zen from the energy counter's rise.
void read_power(const platform::PackageSensors& sensors, uint64_t ns, WatchSample& s) {
    s.watts_known = sensors.watts_known && sensors.microwatts >= 0;
    s.milliwatts = uint32_t(sensors.microwatts / 1000);
    uint64_t energy = 0;
    const bool read = current_layout().zen && read_msr(0, MSR_PACKAGE_ENERGY, &energy);
    if (!s.watts_known && read && watch.energy_valid && ns > 0) {
        const uint64_t counts = uint32_t(uint32_t(energy) - watch.energy); // the counter wraps
        s.watts_known = true;
        s.milliwatts = uint32_t((counts * 1000000000000ull >> watch.energy_unit) / ns);
    }
    watch.energy_valid = read;
    watch.energy = uint32_t(energy);
}

void settle_sources() {
    uint32_t a = 0, b = 0, c = 0, d = 0;
    watch.counters = Cpuid(0, &a, &b, &c, &d) && a >= 6 && Cpuid(6, &a, &b, &c, &d) && (c & 1);
    bool read_only = false;
    if (Cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000007 && Cpuid(0x80000007, &a, &b, &c, &d))
        read_only = current_layout().zen && (d >> 10 & 1);
    watch.mperf = read_only ? MSR_MPERF_READ_ONLY : MSR_MPERF;
    watch.aperf = read_only ? MSR_APERF_READ_ONLY : MSR_APERF;
    uint64_t unit = 0;
    watch.energy_unit =
        current_layout().zen && read_msr(0, MSR_RAPL_UNIT, &unit) ? uint32_t(unit >> 8 & 0x1F) : 0;
}

uint32_t sampled_processors() {
    uint32_t n =
        startup.processor_count < hw_processor_count() ? startup.processor_count : hw_processor_count();
    return n < watch_max_processors ? n : watch_max_processors;
}

} // namespace

void core_clock(const CoreCounters& before, const CoreCounters& now, uint64_t ns, int64_t reference,
                CoreReading& out) {
    out.clock = Clock::unknown;
    out.busy_known = false;
    // A counter that went backwards was reset in between: the interval means nothing.
    if (!before.valid || !now.valid || now.tsc < before.tsc || now.mperf < before.mperf ||
        now.aperf < before.aperf)
        return;
    const uint64_t tsc = now.tsc - before.tsc, mperf = now.mperf - before.mperf,
                   aperf = now.aperf - before.aperf;
    if (tsc == 0) return;
    out.busy_known = true;
    const double busy = double(mperf) / double(tsc);
    out.busy = uint16_t(busy >= 1 ? 1000 : busy * 1000 + 0.5);
    if (mperf == 0) {
        out.clock = Clock::idle;
        return;
    }
    // MPERF ticks at P0's frequency; so does the time-stamp counter, whose rate is measured on Zen.
    const double p0_mhz = reference > 0 ? double(reference) / 100
                          : ns > 0      ? double(tsc) * 1000 / double(ns)
                                        : 0;
    if (p0_mhz <= 0) return;
    out.clock = Clock::value;
    out.mhz = uint32_t(double(aperf) / double(mperf) * p0_mhz + 0.5);
}

void watch_begin() {
    settle_sources();
    watch.sample.count = sampled_processors();
    for (uint32_t p = 0; p < watch.sample.count; ++p) watch.last[p] = read_counters(p);
    watch.last_ns = now_ns();
    uint64_t energy = 0;
    watch.energy_valid = current_layout().zen && read_msr(0, MSR_PACKAGE_ENERGY, &energy);
    watch.energy = uint32_t(energy);
}

void watch_sample() {
    WatchSample& s = watch.sample;
    const int64_t reference = p0_centi_mhz();
    // Every processor's counters first, close together, then the slower reads.
    CoreCounters now[watch_max_processors];
    for (uint32_t p = 0; p < s.count; ++p) now[p] = read_counters(p);
    const uint64_t ns_now = now_ns(), ns = ns_now - watch.last_ns;
    for (uint32_t p = 0; p < s.count; ++p) {
        core_clock(watch.last[p], now[p], ns, reference, s.cores[p]);
        watch.last[p] = now[p];
        read_request(p, s.cores[p]);
    }
    platform::PackageSensors sensors;
    platform::read_package_sensors(watch.hwmon_root, &sensors);
    read_temperature(sensors, s);
    read_power(sensors, ns, s);
    watch.last_ns = ns_now;
}

// ---------------------------------------------------------------------------
// Output

namespace {

const char* json_or_null(char* text, size_t size, bool known, int64_t amount, int decimals) {
    return known ? fixed_point(text, size, amount, decimals, true) : std::strcpy(text, "null");
}

} // namespace

void print_sample(std::FILE* out, bool json, double unix_seconds) {
    const WatchSample& s = watch.sample;
    char a[32], b[48], c[32], d[32];
    if (json) {
        std::fprintf(out, "{\"time\": %.3f, \"package\": {\"celsius\": %s, \"watts\": %s}, \"processors\": [",
                     unix_seconds, json_or_null(a, sizeof a, s.celsius_known, s.millicelsius, 3),
                     json_or_null(b, sizeof b, s.watts_known, s.milliwatts, 3));
        for (uint32_t p = 0; p < s.count; ++p) {
            const CoreReading& r = s.cores[p];
            std::fprintf(out, "%s{\"processor\": %u, \"pstate\": ", p ? ", " : "", p);
            if (r.pstate < 0)
                std::fputs("null", out);
            else
                std::fprintf(out, "%d", r.pstate);
            std::fprintf(
                out, ", \"mhz\": %s, \"busy\": %s, \"request_mhz\": %s, \"request_volts\": %s}",
                json_or_null(a, sizeof a, r.clock == Clock::value, r.mhz, 0),
                json_or_null(b, sizeof b, r.busy_known, r.busy, 1),
                json_or_null(c, sizeof c, r.request_mhz.state == Quantity::value, r.request_mhz.amount, 2),
                json_or_null(d, sizeof d, r.request_volts.state == Quantity::value, r.request_volts.amount,
                             5));
        }
        std::fputs("]}\n", out);
        return;
    }
    std::fputs("processor  P-state      MHz    busy  request MHz      volts\n", out);
    for (uint32_t p = 0; p < s.count; ++p) {
        const CoreReading& r = s.cores[p];
        char pstate[8] = "-";
        if (r.pstate >= 0) std::snprintf(pstate, sizeof pstate, "P%d", r.pstate);
        const char* mhz = r.clock == Clock::idle    ? "idle"
                          : r.clock == Clock::value ? fixed_point(a, sizeof a, r.mhz, 0, false)
                                                    : "-";
        std::snprintf(b, sizeof b, "%s%s", r.busy_known ? fixed_point(c, sizeof c, r.busy, 1, false) : "-",
                      r.busy_known ? " %" : "");
        std::fprintf(out, "%9u  %-7s  %7s  %7s  %11s  %9s\n", p, pstate, mhz, b,
                     r.request_mhz.state == Quantity::value
                         ? fixed_point(c, sizeof c, r.request_mhz.amount, 2, false)
                         : "-",
                     r.request_volts.state == Quantity::value
                         ? fixed_point(d, sizeof d, r.request_volts.amount, 5, false)
                         : "-");
    }
    std::fprintf(out, "package  %s °C  %s W\n\n",
                 s.celsius_known ? fixed_point(a, sizeof a, s.millicelsius / 100, 1, false) : "-",
                 s.watts_known ? fixed_point(b, sizeof b, s.milliwatts / 100, 1, false) : "-");
}

size_t format_metrics(char* buffer, size_t size) {
    const WatchSample& s = watch.sample;
    size_t used = 0;
    auto put = [&](const char* format, auto... values) {
        if (used >= size) return;
        const int n = std::snprintf(buffer + used, size - used, format, values...);
        used = n < 0 ? size : used + size_t(n) < size ? used + size_t(n) : size - 1;
    };
    auto family = [&](const char* name, const char* help) {
        put("# HELP %s %s\n# TYPE %s gauge\n", name, help, name);
    };
    char text[32];
    family("quilm_cpu_mhz", "Effective clock of the processor over the last interval, in MHz.");
    for (uint32_t p = 0; p < s.count; ++p)
        if (s.cores[p].clock == Clock::value) put("quilm_cpu_mhz{cpu=\"%u\"} %u\n", p, s.cores[p].mhz);
    family("quilm_cpu_busy_ratio", "Share of the last interval the processor ran, 0 to 1.");
    for (uint32_t p = 0; p < s.count; ++p)
        if (s.cores[p].busy_known)
            put("quilm_cpu_busy_ratio{cpu=\"%u\"} %s\n", p,
                fixed_point(text, sizeof text, s.cores[p].busy, 3, true));
    family("quilm_cpu_pstate", "Hardware P-state the processor is in.");
    for (uint32_t p = 0; p < s.count; ++p)
        if (s.cores[p].pstate >= 0) put("quilm_cpu_pstate{cpu=\"%u\"} %d\n", p, s.cores[p].pstate);
    family("quilm_package_celsius", "Control temperature (Tctl) of the package, in degrees Celsius.");
    if (s.celsius_known)
        put("quilm_package_celsius %s\n", fixed_point(text, sizeof text, s.millicelsius, 3, true));
    family("quilm_package_watts", "Power drawn by the package over the last interval, in watts.");
    if (s.watts_known) put("quilm_package_watts %s\n", fixed_point(text, sizeof text, s.milliwatts, 3, true));
    return used;
}

// ---------------------------------------------------------------------------
// The word

namespace {

constexpr const char* watch_usage =
    "usage: quilm watch [--json] [--interval SECONDS] [--count N] [--textfile PATH]\n";

int watch_usage_error(const char* what, const char* word) {
    std::fprintf(stderr, "quilm: %s: %s\n%s", what, word, watch_usage);
    return exit_usage;
}

struct WatchOptions {
    bool json = false;
    uint32_t interval_ms = 1000;
    uint32_t count = 0;                  // 0: until interrupted
    char textfile[arg_buffer_size] = ""; // empty: no metrics file
};

// Reads the words after "watch" from the command line; the usage error's exit code, or -1.
int read_options(WatchOptions& o) {
    char w[arg_buffer_size], value[arg_buffer_size];
    for (;;) {
        const int32_t length = next_token(w);
        if (length == no_more_words) return -1;
        if (length >= int32_t(arg_buffer_size)) return watch_usage_error("word too long", w);
        if (!std::strcmp(w, "--json")) {
            o.json = true;
            continue;
        }
        if (std::strcmp(w, "--interval") && std::strcmp(w, "--count") && std::strcmp(w, "--textfile"))
            return watch_usage_error("unknown option", w);
        const int32_t value_length = next_token(value);
        if (value_length == no_more_words || value_length == 0) return watch_usage_error("missing value", w);
        if (value_length >= int32_t(arg_buffer_size)) return watch_usage_error("word too long", value);
        char* end = nullptr;
        if (!std::strcmp(w, "--textfile")) {
            std::memcpy(o.textfile, value, size_t(value_length) + 1);
        } else if (!std::strcmp(w, "--interval")) {
            const double seconds = std::strtod(value, &end);
            if (end == value || *end != 0 || !(seconds >= 0.01 && seconds <= 86400))
                return watch_usage_error("interval out of range (0.01 to 86400 seconds)", value);
            o.interval_ms = uint32_t(seconds * 1000 + 0.5);
        } else {
            const unsigned long n = std::strtoul(value, &end, 10);
            if (end == value || *end != 0 || value[0] == '-' || n < 1 || n > 0xFFFFFFFFul)
                return watch_usage_error("count out of range (1 or more)", value);
            o.count = uint32_t(n);
        }
    }
}

// Sleeps for the interval in short steps; false when an interrupt came meanwhile.
bool wait_interval(uint32_t ms) {
    for (uint32_t slept = 0; slept < ms && !platform::os_interrupted(); slept += 50)
        platform::os_sleep_ms(ms - slept < 50 ? ms - slept : 50);
    return !platform::os_interrupted();
}

double unix_seconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

int watch_word() {
    WatchOptions o;
    if (const int usage = read_options(o); usage >= 0) return usage;
    if (const char* failure = open_processor()) {
        std::fprintf(stderr, "quilm: %s\n", failure);
        if (failure == no_pstates_text) DeinitializeOls();
        return exit_environment;
    }
    platform::os_catch_interrupt();
    reset_watch();
    watch_begin();
    int code = exit_ok;
    static char metrics[1 << 18]; // room for every metric of 1024 processors
    for (uint32_t n = 0; (o.count == 0 || n < o.count) && wait_interval(o.interval_ms); ++n) {
        watch_sample();
        print_sample(stdout, o.json, unix_seconds());
        std::fflush(stdout);
        if (o.textfile[0] == 0) continue;
        const size_t length = format_metrics(metrics, sizeof metrics);
        if (platform::file_replace(o.textfile, metrics, uint32_t(length)) != platform::FileResult::ok) {
            std::fprintf(stderr, "quilm: %s: cannot write the metrics file\n", o.textfile);
            code = exit_environment;
            break;
        }
    }
    DeinitializeOls();
    return code;
}

} // namespace app
