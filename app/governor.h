// Automatic mode: the load governor thread samples the system times every
// 150 ms and steps the P-state toward P0 under load and away from it when idle.
#pragma once
#include <cstdint>

namespace app {

// Where the governor reads the system times; null for the system's own (tests hand in theirs).
using SystemTimes = bool (*)(uint64_t* idle, uint64_t* kernel, uint64_t* user);

struct GovernorState {
    uint8_t governor_running; // 1 while the governor thread exists (shared with it)
    uint64_t prev_total;      // kernel + user time at the previous sample, 100-ns units
    uint64_t prev_idle;       // idle time at the previous sample
    uint32_t sample_load;     // busy share of the last period in 1/128 units (128 = all processors busy)
    uint32_t avg_load;        // smoothed load
    SystemTimes system_times; // set before auto mode is switched on
    char refusal[96];         // the governor's refused write, for the main thread's "warning" box
};
extern GovernorState governor_state;

// One sample of the system times: total = kernel + user (kernel includes idle).
struct TimeSample {
    uint64_t total;
    uint64_t idle;
};

// What the governor sees of the table when it decides.
struct GovernorView {
    uint8_t current_index;
    uint8_t pstate_offset;
    uint8_t pstate_count;
    uint8_t enabled; // bit i: row i's P-state is enabled (bit 0 of its state)
    uint32_t processor_count;
};

struct GovernorDecision {
    uint32_t sample_load;
    uint32_t avg_load;
    int32_t target; // hardware row to switch to, -1 for none
};

// One governor period as a pure function: the load of the period between two samples, the new
// smoothed load and the row to switch to. A period shorter than 128 units carries no load
// information: no step, and the smoothed load stays.
GovernorDecision governor_step(TimeSample previous, TimeSample now, uint32_t avg_load,
                               const GovernorView& view);

// Switches auto mode on (starting the governor) or off (waiting for it to end); then refreshes.
void toggle_auto(int32_t id);

// Ends automatic mode if it is on: clears auto_mode, waits until the governor thread has ended
// and restores the manual title. After it returns the governor writes no register.
void stop_governor();

// Back to the start state (no thread may be running).
void reset_governor();

} // namespace app
