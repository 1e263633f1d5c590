// The button actions that change the processor: apply settings, up, down,
// refresh and exit, and the routine that writes one register on every processor.
#pragma once
#include <cstdint>

namespace app {

struct ActionState {
    uint32_t expected_low[8];  // reg_low as encoded by the last apply
    uint32_t expected_high[8]; // reg_high as encoded by the last apply
};
extern ActionState actions;

// Most processors one affinity mask can name.
inline constexpr uint32_t max_processors = sizeof(uintptr_t) * 8;

// Writes the 64-bit value high:low to the register on every processor.
void write_all_cores(uint32_t reg, uint32_t low, uint32_t high);

// Encodes the edited rows, writes the readable definition registers on every processor,
// reads them back and reports when the processor did not take them all.
void apply_settings(int32_t id);

// One P-state toward P0 (faster).
void step_up(int32_t id);

// One P-state away from P0 (slower).
void step_down(int32_t id);

// Re-reads and re-decodes the table and redraws; drops unapplied edits.
void refresh(int32_t id);

// Releases hardware access and ends the process.
void exit_program(int32_t id);

// Back to the start state.
void reset_actions();

} // namespace app
