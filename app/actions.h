// The button actions that change the processor: apply settings, up, down,
// refresh and exit, and the routine that writes one register on every processor.
#pragma once
#include <cstdint>

namespace app {

// True when the hardware layer can name every processor one by one. Writing only some of
// them would leave the processors with different tables, so otherwise nothing is written.
bool all_processors_reachable();

// The message for a machine whose processors cannot all be reached.
inline constexpr const char* unreachable_text = "cannot reach every processor: nothing written";

// What writing one register on every processor came to.
struct WriteResult {
    bool ok = true;         // every processor took the value
    uint32_t processor = 0; // else the first processor that refused it
    uint32_t reg = 0;       // and the register
    bool restored = true;   // the processors written before it hold their old values again
};

// Writes the 64-bit value high:low to the register on every processor, all or none: a processor
// that refuses it (or whose old value cannot be read) stops the walk, and the processors already
// written get their old values back. Nothing at all when not every processor can be reached.
WriteResult write_all_cores(uint32_t reg, uint32_t low, uint32_t high);

// The warning for a refused write, naming the processor and the register, into text.
void refusal_text(const WriteResult& refusal, char* text, uint32_t size);

// What applying the table comes to.
enum class ApplyResult : uint8_t {
    ok,
    unsupported,  // the layout is not known for certain, or not writable
    unreachable,  // not every processor can be named
    out_of_range, // an edited value the register cannot hold exactly
    tsc_unlocked, // the time-stamp counter could not be locked before P0's frequency changed
    tsc_stuck,    // as tsc_unlocked, and HWCR could not be put back on every processor
    refused,      // a processor refused a definition write: the walk stopped there
    not_accepted, // a processor holds something else after the write
};

// The rows an apply writes, with the values before (as read on the first processor) and after.
struct ApplyPlan {
    uint32_t count; // readable rows
    bool write[8];  // row i is written on at least one processor
    uint64_t before[8], after[8];
    WriteResult refusal; // the write that stopped carry_out
};

// The warning text of a result (nullptr for ok); a refused write names its processor and register.
const char* apply_text(ApplyResult result, const ApplyPlan& plan);

// Encodes the edited rows and works out what to write, without writing anything. On
// failure the table's register words are left as they were.
ApplyResult plan_apply(ApplyPlan& plan);

// Writes the plan on every processor, stopping at the first refused write, then reads every
// processor back.
ApplyResult carry_out(ApplyPlan& plan);

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

} // namespace app
