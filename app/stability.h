// `quilm test`: each processor on its own under a verifying load from stress-ng,
// optionally in one P-state held on every processor, with the kernel log watched
// for machine-check errors while each run lasts.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/process.h"

namespace app {

inline constexpr int exit_interrupted = 130; // Ctrl-C ended the test
inline constexpr uint32_t test_max_processors = 1024;

enum class RunResult : uint8_t { passed, failed, not_proven };

// How one processor's run ended.
struct ProcessorRun {
    uint32_t processor;
    RunResult result;
    uint32_t tenths;    // seconds it ran, or for a failure the seconds into the run, in tenths
    int32_t pstate;     // software P-state held on every processor during the run, -1 for none
    int32_t seen;       // software P-state the status register read last, -1 when unread
    char evidence[256]; // what failed, or why the run proves nothing; empty for a pass
};

struct StabilityState {
    uint32_t seconds;                          // of load per processor
    int32_t pstate;                            // software P-state to hold, -1 for none
    bool json;                                 // one JSON object instead of lines
    uint64_t chosen[test_max_processors / 64]; // bit p: processor p is tested
    char stress[4096];                         // the load program
    char scratch[4096];                        // private directory for its output and report
    int kernel_log;                            // -1 when the kernel log cannot be read
    char log_tail[512];                        // a kernel message cut off at the end of the last read
    uint64_t control[test_max_processors];     // each processor's P-state control register before the test
    ProcessorRun runs[test_max_processors];    // finished runs, in the order they ran
    uint32_t run_count;
};
extern StabilityState stability;

// Back to the start state.
void reset_stability();

// Reads a processor list like "0-3,8" into chosen; false when it is malformed or names a
// processor at or beyond count.
bool parse_processors(const char* text, uint32_t count, uint64_t* chosen);

// Whether a kernel log line (a /dev/kmsg record or plain text) reports a machine-check error.
bool machine_check_line(const char* line);

// Completed bogo operations in a stress-ng YAML report, summed; -1 without any metrics.
int64_t report_bogo_ops(const char* yaml);

enum class Verdict : uint8_t {
    passed,
    failed,     // the load computed wrongly, crashed or went wrong
    no_work,    // it ended well but reported nothing done: proves nothing
    cannot_run, // stress-ng refused to run (options, resources): the test itself cannot go on
};

// Judges one stress-ng run of `method` by how it ended, its output and its report's bogo
// operations; writes the evidence for anything but a pass.
Verdict judge_run(platform::ProcessEnd end, int code, const char* output, int64_t bogo_ops,
                  const char* method, char* evidence, size_t size);

// The word `quilm test` with the words after it; returns the exit code.
int test_word();

// Whether a stability test holds the processor (in this process or another).
bool test_running();

// Whether stress-ng can be found (QUILM_STRESS or the PATH); its path into path.
bool find_stress(char* path, size_t size);

} // namespace app
