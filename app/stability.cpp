// `quilm test`: one processor at a time runs stress-ng pinned to it, with its
// CPU methods checking their own results, while the others idle, so that each
// core meets its highest single-core clock alone. A run fails on a wrong
// result, a worker that dies or does not stop, or a machine-check error logged
// while it lasts; with --pstate, a run in which the processor left that
// P-state proves nothing about it.
#include "app/stability.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/actions.h"
#include "app/cli.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/files.h"
#include "platform/hw.h"
#include "platform/os.h"

namespace app {

StabilityState stability;

void reset_stability() {
    stability = StabilityState{};
    stability.seconds = 60;
    stability.pstate = -1;
    stability.kernel_log = -1;
}

namespace {

// The CPU methods each processor runs in turn, each verifying its own results. Between
// them they keep the integer, floating-point, square-root, divider and branch units busy.
// clang-format off
constexpr const char* methods[] = {
    "int64double", // integer and double-precision arithmetic, checked against a known sum
    "idct",        // floating-point multiply-adds of an 8x8 inverse DCT with a known result
    "sqrt",        // square roots, each squared back
    "prime",       // integer division: the count of primes below a bound
    "hamming",     // bit operations: the Hamming codes of 65536 words
    "queens",      // branches: the solutions of the N-queens boards
};
// clang-format on
constexpr uint32_t method_count = sizeof methods / sizeof methods[0];

constexpr uint32_t poll_ms = 100;
constexpr uint32_t grace_ms = 5000; // how long stress-ng may run past its time before it counts as hung

const char* usage_line = "usage: quilm test [--seconds S] [--processors LIST] [--pstate N] [--json]\n";

int test_usage(const char* what, const char* word) {
    std::fprintf(stderr, "quilm: %s: %s\n%s", what, word, usage_line);
    return exit_usage;
}

// A decimal number from low to high, nothing else.
bool parse_number(const char* text, uint32_t low, uint32_t high, uint32_t* value) {
    if (text == nullptr || *text == 0) return false;
    uint64_t n = 0;
    for (const char* p = text; *p != 0; ++p) {
        if (*p < '0' || *p > '9' || n > high) return false;
        n = n * 10 + uint64_t(*p - '0');
    }
    if (n < low || n > high) return false;
    *value = uint32_t(n);
    return true;
}

bool chosen(uint32_t p) {
    return (stability.chosen[p / 64] >> (p % 64) & 1) != 0;
}

using Clock = std::chrono::steady_clock;

uint32_t tenths_since(Clock::time_point start) {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() /
                    100);
}

// The text after "] " on the first output line holding tag, or nullptr; copied into line.
const char* output_line(const char* output, const char* tag, char* line, size_t size) {
    for (const char* p = output; *p != 0;) {
        const char* end = std::strchr(p, '\n');
        if (end == nullptr) end = p + std::strlen(p);
        const char* found = std::strstr(p, tag);
        if (found != nullptr && found < end) {
            const char* text = std::strstr(found, "] ");
            text = text != nullptr && text < end ? text + 2 : found;
            std::snprintf(line, size, "%.*s", int(end - text), text);
            return line;
        }
        p = *end ? end + 1 : end;
    }
    return nullptr;
}

// The first line of the output that is not stress-ng's information or metrics.
const char* complaint(const char* output, char* line, size_t size) {
    if (output_line(output, "error:", line, size)) return line;
    if (output_line(output, "fail:", line, size)) return line;
    for (const char* p = output; *p != 0;) {
        const char* end = std::strchr(p, '\n');
        if (end == nullptr) end = p + std::strlen(p);
        const bool chatter = std::strstr(p, "info:") && std::strstr(p, "info:") < end;
        const bool metrics = std::strstr(p, "metrc:") && std::strstr(p, "metrc:") < end;
        if (end > p && !chatter && !metrics) {
            std::snprintf(line, size, "%.*s", int(end - p), p);
            return line;
        }
        p = *end ? end + 1 : end;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// The kernel log

// The message of a /dev/kmsg record ("priority,sequence,microseconds,flags;message"); the
// line itself when it is not such a record.
const char* kernel_message(const char* line) {
    const char* p = line;
    int commas = 0;
    for (; *p != 0 && *p != ';'; ++p) {
        if (*p == ',')
            ++commas;
        else if ((*p < '0' || *p > '9') && *p != '-' && *p != 'c' && *p != '+')
            return line;
    }
    return *p == ';' && commas >= 3 ? p + 1 : line;
}

// Reads what the kernel log gained; the first machine-check message goes into evidence.
bool scan_kernel_log(char* evidence, size_t size) {
    if (stability.kernel_log < 0) return false;
    static char text[8192 + sizeof stability.log_tail];
    bool found = false;
    for (;;) {
        size_t kept = std::strlen(stability.log_tail);
        std::memcpy(text, stability.log_tail, kept);
        const size_t n = platform::kernel_log_read(stability.kernel_log, text + kept, sizeof text - kept);
        stability.log_tail[0] = 0;
        if (n == 0) return found;
        text[kept + n] = 0;
        char* line = text;
        for (char* end; (end = std::strchr(line, '\n')) != nullptr; line = end + 1) {
            *end = 0;
            // Lines starting with a blank continue a record with its key=value properties.
            if (!found && line[0] != ' ' && machine_check_line(line)) {
                std::snprintf(evidence, size, "machine-check error in the kernel log: %s",
                              kernel_message(line));
                found = true;
            }
        }
        // An unfinished line waits for the rest; one too long for the room is dropped.
        if (std::strlen(line) < sizeof stability.log_tail) std::strcpy(stability.log_tail, line);
    }
}

// ---------------------------------------------------------------------------
// The P-state held during the test

bool read_control(uint32_t p, uint64_t& value) {
    uint32_t low = 0, high = 0;
    if (!hw_rdmsr_on(p, MSR_PSTATE_CONTROL, &low, &high)) return false;
    value = join(low, high);
    return true;
}

// Whether every processor's P-state control register held the same value before the test.
bool control_uniform() {
    for (uint32_t p = 1; p < startup.processor_count; ++p)
        if (stability.control[p] != stability.control[0]) return false;
    return true;
}

// Puts every processor's P-state control register back as it was before the test; a processor that
// does not take its old value is named on stderr.
void restore_control() {
    uint32_t refused = startup.processor_count;
    if (control_uniform()) {
        const WriteResult r = write_all_cores(MSR_PSTATE_CONTROL, uint32_t(stability.control[0]),
                                              uint32_t(stability.control[0] >> 32));
        if (!r.ok) refused = r.processor;
    } else {
        // An operating system's frequency driver keeps each processor in its own P-state: each
        // gets back exactly the value it held.
        for (uint32_t p = startup.processor_count; p-- > 0;)
            if (!hw_wrmsr_on(p, MSR_PSTATE_CONTROL, uint32_t(stability.control[p]),
                             uint32_t(stability.control[p] >> 32)))
                refused = p;
    }
    if (refused < startup.processor_count)
        std::fprintf(stderr, "quilm: processor %u did not take its P-state control value back\n", refused);
}

// Holds the software P-state on every processor; false (with nothing changed, or everything
// put back) when a processor cannot be read or does not take it.
bool hold_pstate(uint32_t software) {
    for (uint32_t p = 0; p < startup.processor_count; ++p) {
        if (!read_control(p, stability.control[p])) {
            std::fprintf(stderr,
                         "quilm: cannot read the P-state control register of processor %u: nothing written\n",
                         p);
            return false;
        }
    }
    if (!stability.json) {
        if (control_uniform())
            std::printf(
                "P-state %u held on every processor; the control register goes back to %llX afterwards\n",
                software, static_cast<unsigned long long>(stability.control[0]));
        else
            std::printf(
                "P-state %u held on every processor; each control register goes back to its own value\n",
                software);
    }
    write_all_cores(MSR_PSTATE_CONTROL, software, 0);
    platform::os_sleep_ms(1);
    for (uint32_t p = 0; p < startup.processor_count; ++p) {
        uint64_t now = 0;
        if (!read_control(p, now) || now != software) {
            restore_control();
            std::fprintf(stderr, "quilm: processor %u did not take P-state %u: put back as it was\n", p,
                         software);
            return false;
        }
    }
    return true;
}

// The software P-state the processor's status register reads, -1 when it cannot be read.
int32_t status_pstate(uint32_t p) {
    uint32_t low = 0, high = 0;
    return hw_rdmsr_on(p, MSR_PSTATE_STATUS, &low, &high) ? int32_t(low & 7) : -1;
}

// ---------------------------------------------------------------------------
// One processor's run

enum class Outcome : uint8_t { done, cannot_run, interrupted };

// Runs one method on processor p for `seconds`; fills run on a failure.
Outcome run_method(uint32_t p, const char* method, uint32_t seconds, Clock::time_point start,
                   ProcessorRun& run, char* left, size_t left_size) {
    char processor[16], timeout[16], output_path[4200], report_path[4200];
    std::snprintf(processor, sizeof processor, "%u", p);
    std::snprintf(timeout, sizeof timeout, "%us", seconds);
    std::snprintf(output_path, sizeof output_path, "%s/output", stability.scratch);
    std::snprintf(report_path, sizeof report_path, "%s/report.yaml", stability.scratch);
    const char* argv[] = {
        stability.stress,  "--cpu",     "1",     "--cpu-method",    method,   "--verify",  "--taskset",
        processor,         "--timeout", timeout, "--metrics-brief", "--yaml", report_path, "--temp-path",
        stability.scratch, nullptr};
    platform::file_replace(report_path, "", 0); // no report from an earlier method counts
    const Clock::time_point began = Clock::now();
    const int64_t child = platform::process_start(argv, output_path);
    if (child < 0) {
        std::fprintf(stderr, "quilm: %s: cannot be started\n", stability.stress);
        return Outcome::cannot_run;
    }
    // A failure counts from the moment it is seen, not from when the load has been stopped.
    auto failed_now = [&] {
        run.result = RunResult::failed;
        run.tenths = tenths_since(start);
        return Outcome::done;
    };
    int code = 0;
    platform::ProcessEnd end = platform::ProcessEnd::running;
    while (end == platform::ProcessEnd::running) {
        platform::os_sleep_ms(poll_ms);
        if (platform::interrupt_requested()) {
            platform::process_stop(child);
            return Outcome::interrupted;
        }
        const int32_t seen = status_pstate(p);
        if (seen >= 0) run.seen = seen;
        if (run.pstate >= 0 && seen >= 0 && seen != run.pstate && left[0] == 0)
            std::snprintf(
                left, left_size,
                "left P-state %d (read P-state %d after %u s): an OS frequency driver may have moved it",
                run.pstate, seen, tenths_since(start) / 10);
        if (scan_kernel_log(run.evidence, sizeof run.evidence)) {
            const Outcome outcome = failed_now();
            platform::process_stop(child);
            return outcome;
        }
        end = platform::process_poll(child, &code);
        if (end == platform::ProcessEnd::running && tenths_since(began) * 100 > seconds * 1000 + grace_ms) {
            const Outcome outcome = failed_now();
            platform::process_stop(child);
            std::snprintf(run.evidence, sizeof run.evidence,
                          "did not finish: %s still running %u s after its %u s", method, grace_ms / 1000,
                          seconds);
            return outcome;
        }
    }
    // A machine-check error logged as the load ended still belongs to this run.
    if (scan_kernel_log(run.evidence, sizeof run.evidence)) return failed_now();
    static char output[16384], report[16384];
    uint32_t length = 0;
    platform::file_read(output_path, output, sizeof output - 1, &length);
    output[length] = 0;
    length = 0;
    platform::file_read(report_path, report, sizeof report - 1, &length);
    report[length] = 0;
    switch (
        judge_run(end, code, output, report_bogo_ops(report), method, run.evidence, sizeof run.evidence)) {
    case Verdict::passed: return Outcome::done;
    case Verdict::failed: run.result = RunResult::failed; break;
    case Verdict::no_work: run.result = RunResult::not_proven; break;
    case Verdict::cannot_run:
        std::fprintf(stderr, "quilm: stress-ng cannot run on processor %u: %s\n", p, run.evidence);
        return Outcome::cannot_run;
    }
    run.tenths = tenths_since(start);
    return Outcome::done;
}

// Runs every method on processor p in turn, splitting the seconds between them (each gets
// at least one; with fewer seconds than methods, the first ones run).
Outcome run_processor(uint32_t p, ProcessorRun& run) {
    run = ProcessorRun{p, RunResult::passed, 0, stability.pstate, -1, ""};
    char left[sizeof run.evidence] = "";
    char ignored[sizeof run.evidence];
    scan_kernel_log(ignored, sizeof ignored); // what was logged before this run is not its doing
    const uint32_t used = stability.seconds < method_count ? stability.seconds : method_count;
    const Clock::time_point start = Clock::now();
    for (uint32_t i = 0; i < used && run.result == RunResult::passed; ++i) {
        const uint32_t slice = stability.seconds / used + (i < stability.seconds % used ? 1 : 0);
        const Outcome outcome = run_method(p, methods[i], slice, start, run, left, sizeof left);
        if (outcome != Outcome::done) return outcome;
    }
    if (run.result == RunResult::passed) {
        run.tenths = tenths_since(start);
        if (left[0] != 0) {
            run.result = RunResult::not_proven;
            std::memcpy(run.evidence, left, sizeof left);
        }
    }
    return Outcome::done;
}

// ---------------------------------------------------------------------------
// Output

const char* result_word(RunResult result) {
    switch (result) {
    case RunResult::passed: return "passed";
    case RunResult::failed: return "failed";
    case RunResult::not_proven: return "not proven";
    }
    return "";
}

void print_line(const ProcessorRun& run) {
    char pstate[48] = "";
    if (run.pstate >= 0)
        std::snprintf(pstate, sizeof pstate, "  P-state %d", run.pstate);
    else if (run.seen >= 0)
        std::snprintf(pstate, sizeof pstate, "  P-state %d as read", run.seen);
    const uint32_t seconds = (run.tenths + 5) / 10;
    char name[16];
    std::snprintf(name, sizeof name, "P%u", run.processor);
    if (run.result == RunResult::failed)
        std::printf("%-3s FAILED  after %u s%s: %s\n", name, seconds, pstate, run.evidence);
    else if (run.result == RunResult::not_proven)
        std::printf("%-3s not proven  %u s%s: %s\n", name, seconds, pstate, run.evidence);
    else
        std::printf("%-3s passed  %u s%s\n", name, seconds, pstate);
    std::fflush(stdout);
}

void json_string(const char* text) {
    std::fputc('"', stdout);
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p == '"' || *p == '\\')
            std::printf("\\%c", *p);
        else if (*p < 0x20)
            std::printf("\\u%04x", *p);
        else
            std::fputc(*p, stdout);
    }
    std::fputc('"', stdout);
}

void print_json(bool passed) {
    std::printf("{\"passed\": %s, \"processors\": [", passed ? "true" : "false");
    for (uint32_t i = 0; i < stability.run_count; ++i) {
        const ProcessorRun& run = stability.runs[i];
        std::printf("%s{\"processor\": %u, \"result\": \"%s\", \"seconds\": %u.%u, \"pstate\": ",
                    i ? ", " : "", run.processor, result_word(run.result), run.tenths / 10, run.tenths % 10);
        if (run.pstate >= 0)
            std::printf("%d", run.pstate);
        else
            std::fputs("null", stdout);
        std::fputs(", \"evidence\": ", stdout);
        if (run.evidence[0] != 0)
            json_string(run.evidence);
        else
            std::fputs("null", stdout);
        std::fputs("}", stdout);
    }
    std::fputs("]}\n", stdout);
}

void print_summary(uint32_t passed, uint32_t failed, uint32_t unproven) {
    std::printf("%u processors: %u passed, %u failed", stability.run_count, passed, failed);
    for (uint32_t i = 0, n = 0; i < stability.run_count; ++i)
        if (stability.runs[i].result == RunResult::failed)
            std::printf("%sP%u", n++ ? ", " : " (", stability.runs[i].processor);
    std::printf("%s, %u not proven\n", failed ? ")" : "", unproven);
}

// ---------------------------------------------------------------------------
// The word

// Reads the words after "test" from the command line; the usage error's exit code, or -1 when
// they are fine. The processor list is kept in `processors` (empty when not given).
int read_test_words(char* processors) {
    char w[arg_buffer_size], value[arg_buffer_size];
    for (;;) {
        const int32_t length = next_token(w);
        if (length == no_more_words) return -1;
        if (length >= int32_t(arg_buffer_size)) return test_usage("word too long", w);
        const bool takes_value = std::strcmp(w, "--seconds") == 0 || std::strcmp(w, "--pstate") == 0 ||
                                 std::strcmp(w, "--processors") == 0;
        const int32_t value_length = takes_value ? next_token(value) : no_more_words;
        if (value_length >= int32_t(arg_buffer_size)) return test_usage("word too long", value);
        const char* v = value_length == no_more_words ? nullptr : value;
        uint32_t n = 0;
        if (std::strcmp(w, "--json") == 0) {
            stability.json = true;
        } else if (std::strcmp(w, "--seconds") == 0) {
            if (!parse_number(v, 1, 86400, &stability.seconds))
                return test_usage("--seconds takes 1..86400", v ? v : "(nothing)");
        } else if (std::strcmp(w, "--pstate") == 0) {
            if (!parse_number(v, 0, 7, &n)) return test_usage("--pstate takes 0..7", v ? v : "(nothing)");
            stability.pstate = int32_t(n);
        } else if (std::strcmp(w, "--processors") == 0) {
            if (v == nullptr) return test_usage("--processors takes a list like 0-3,8", "(nothing)");
            std::memcpy(processors, v, size_t(value_length) + 1);
        } else {
            return test_usage("unknown option", w);
        }
    }
}

// Checks the processor list and the P-state against the processor; the exit code when
// they do not fit, or -1.
int check_choices(const char* processors) {
    if (startup.processor_count > test_max_processors) {
        std::fprintf(stderr, "quilm: quilm test handles at most %u processors, this machine has %u\n",
                     test_max_processors, startup.processor_count);
        return exit_environment;
    }
    if (processors != nullptr) {
        if (!parse_processors(processors, startup.processor_count, stability.chosen))
            return test_usage("not a list of this machine's processors", processors);
    } else {
        // Every processor that quilm controls and the system can run a program on.
        const uint32_t machine = platform::os_processor_count();
        const uint32_t count = startup.processor_count < machine ? startup.processor_count : machine;
        for (uint32_t p = 0; p < count && p < test_max_processors; ++p)
            stability.chosen[p / 64] |= uint64_t{1} << (p % 64);
    }
    if (stability.pstate >= 0) {
        const uint32_t row = uint32_t(stability.pstate) + load_shared(pstate.pstate_offset);
        if (row >= load_shared(pstate.pstate_count) || (load_shared(pstate.table.rows[row].state) & 1) == 0) {
            char number[16];
            std::snprintf(number, sizeof number, "%d", stability.pstate);
            return test_usage("not an enabled P-state of this processor", number);
        }
        if (!all_processors_reachable()) {
            std::fprintf(stderr, "quilm: %s\n", unreachable_text);
            return exit_environment;
        }
    }
    return -1;
}

// Runs every chosen processor and prints the results; the exit code.
int run_all() {
    uint32_t passed = 0, failed = 0, unproven = 0;
    for (uint32_t p = 0; p < test_max_processors; ++p) {
        if (!chosen(p)) continue;
        ProcessorRun& run = stability.runs[stability.run_count];
        const Outcome outcome = run_processor(p, run);
        if (outcome == Outcome::interrupted) return exit_interrupted;
        if (outcome == Outcome::cannot_run) return exit_environment;
        ++stability.run_count;
        (run.result == RunResult::passed ? passed : run.result == RunResult::failed ? failed : unproven)++;
        if (!stability.json) print_line(run);
    }
    const bool all_passed = passed == stability.run_count;
    if (stability.json)
        print_json(all_passed);
    else
        print_summary(passed, failed, unproven);
    return all_passed ? exit_ok : exit_failed;
}

} // namespace

bool parse_processors(const char* text, uint32_t count, uint64_t* out) {
    uint64_t bits[test_max_processors / 64] = {};
    const char* p = text;
    if (*p == 0) return false;
    while (true) {
        uint32_t first = 0, last = 0;
        const char* start = p;
        while (*p >= '0' && *p <= '9' && first < test_max_processors)
            first = first * 10 + uint32_t(*p++ - '0');
        if (p == start) return false;
        last = first;
        if (*p == '-') {
            start = ++p;
            last = 0;
            while (*p >= '0' && *p <= '9' && last < test_max_processors)
                last = last * 10 + uint32_t(*p++ - '0');
            if (p == start || last < first) return false;
        }
        if (last >= count || last >= test_max_processors) return false;
        for (uint32_t i = first; i <= last; ++i) bits[i / 64] |= uint64_t{1} << (i % 64);
        if (*p == 0) break;
        if (*p++ != ',') return false;
    }
    std::memcpy(out, bits, sizeof bits);
    return true;
}

bool machine_check_line(const char* line) {
    const char* message = kernel_message(line);
    if (std::strstr(message, "[Hardware Error]")) return true;
    // "Machine check events logged", "Machine Check Exception", "MCE: ... machine check": any case.
    static constexpr char words[] = "machine check";
    for (const char* p = message; *p != 0; ++p) {
        size_t i = 0;
        while (words[i] != 0 && p[i] != 0 && (p[i] | 0x20) == words[i]) ++i;
        if (words[i] == 0) return true;
    }
    return false;
}

int64_t report_bogo_ops(const char* yaml) {
    int64_t sum = -1;
    for (const char* p = std::strstr(yaml, "bogo-ops:"); p != nullptr; p = std::strstr(p + 1, "bogo-ops:")) {
        const char* number = p + std::strlen("bogo-ops:");
        while (*number == ' ') ++number;
        if (*number < '0' || *number > '9') continue;
        sum = sum < 0 ? 0 : sum;
        sum += std::strtoll(number, nullptr, 10);
    }
    return sum;
}

Verdict judge_run(platform::ProcessEnd end, int code, const char* output, int64_t bogo_ops,
                  const char* method, char* evidence, size_t size) {
    char line[200];
    const char* said = output_line(output, "fail:", line, sizeof line);
    auto with_line = [&](const char* what) {
        if (said)
            std::snprintf(evidence, size, "%s: %s", what, said);
        else
            std::snprintf(evidence, size, "%s", what);
    };
    char what[160];
    if (end == platform::ProcessEnd::killed) {
        std::snprintf(what, sizeof what, "stress-ng running %s killed by signal %d", method, code);
        with_line(what);
        return Verdict::failed;
    }
    switch (code) {
    case 0:
        if (bogo_ops > 0) return Verdict::passed;
        std::snprintf(evidence, size, "stress-ng ran %s but reported no completed work", method);
        return Verdict::no_work;
    case 2: // a stressor failed: with --verify, a wrong result
        std::snprintf(what, sizeof what, "verification failed in %s", method);
        with_line(what);
        return Verdict::failed;
    case 5: // a stressor killed by an unexpected signal
        std::snprintf(what, sizeof what, "a worker running %s was killed by a signal", method);
        with_line(what);
        return Verdict::failed;
    case 6: // a stressor ended on its own without its metrics
    case 7: // its bogo-ops counter was corrupted
        std::snprintf(what, sizeof what, "a worker running %s went wrong (stress-ng exit status %d)", method,
                      code);
        with_line(what);
        return Verdict::failed;
    default: { // 1 options or the harness, 3 no resources, 4 not implemented here, or no stress-ng at all
        const char* reason = complaint(output, line, sizeof line);
        std::snprintf(evidence, size, "exit status %d%s%s", code, reason ? ": " : "", reason ? reason : "");
        return Verdict::cannot_run;
    }
    }
}

// The test mark of the processor in use: the system's for the real one; for a simulated one,
// beside the state file that the processes simulating it share, or this process's own.
static const char* test_mark_path() {
    static char path[4200];
    if (hw_simulated_processor_count() == 0) return nullptr;
    const char* state = std::getenv("QUILM_SIM_STATE");
    if (state == nullptr || state[0] == 0) return "";
    std::snprintf(path, sizeof path, "%s.test-lock", state);
    return path;
}

bool test_running() {
    return platform::test_mark_held(test_mark_path());
}

bool find_stress(char* path, size_t size) {
    const char* chosen_path = std::getenv("QUILM_STRESS");
    return platform::process_find(chosen_path && chosen_path[0] ? chosen_path : "stress-ng", path, size);
}

int test_word() {
    reset_stability();
    char listed[arg_buffer_size] = "";
    if (const int usage = read_test_words(listed); usage >= 0) return usage;
    const char* processors = listed[0] != 0 ? listed : nullptr;
    if (!platform::process_supported()) {
        std::fputs("quilm: quilm test is not available on this system: it needs Linux and stress-ng\n",
                   stderr);
        return exit_environment;
    }
    if (!find_stress(stability.stress, sizeof stability.stress)) {
        const char* chosen_path = std::getenv("QUILM_STRESS");
        if (chosen_path && chosen_path[0])
            std::fprintf(stderr, "quilm: QUILM_STRESS=%s is not an executable file\n", chosen_path);
        else
            std::fputs("quilm: stress-ng is not installed: install it with \"apt install stress-ng\"\n",
                       stderr);
        return exit_environment;
    }
    if (const char* failure = open_processor()) {
        std::fprintf(stderr, "quilm: %s\n", failure);
        if (failure == no_pstates_text) DeinitializeOls();
        return exit_environment;
    }
    int code = check_choices(processors);
    if (code < 0 && !platform::test_mark_take(test_mark_path())) {
        std::fputs("quilm: another stability test is running: wait until it ends\n", stderr);
        code = exit_environment;
    }
    if (code < 0 && !platform::scratch_make(stability.scratch, sizeof stability.scratch)) {
        std::fputs("quilm: cannot make a scratch directory for stress-ng's report\n", stderr);
        code = exit_environment;
    }
    if (code >= 0) {
        platform::test_mark_release();
        DeinitializeOls();
        return code;
    }
    platform::interrupt_catch();
    const char* log_path = std::getenv("QUILM_KMSG");
    if (log_path == nullptr || log_path[0] == 0) log_path = "/dev/kmsg";
    stability.kernel_log = platform::kernel_log_open(log_path);
    if (stability.kernel_log < 0)
        std::fprintf(stderr,
                     "quilm: the kernel log %s cannot be read: machine-check errors are not watched\n",
                     log_path);

    const bool held = stability.pstate >= 0;
    if (held && !hold_pstate(uint32_t(stability.pstate))) {
        code = exit_environment;
    } else {
        code = run_all();
        if (held) restore_control();
        if (code == exit_interrupted)
            std::fprintf(stderr, "quilm: test interrupted%s\n", held ? ": P-state put back as it was" : "");
    }
    platform::kernel_log_close(stability.kernel_log);
    platform::scratch_remove(stability.scratch);
    platform::test_mark_release();
    DeinitializeOls();
    return code;
}

} // namespace app
