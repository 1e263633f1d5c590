// Applying settings, stepping the current P-state, refresh and exit.
#include "app/actions.h"

#include "app/governor.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

ActionState actions;

void reset_actions() {
    actions = ActionState{};
}

// One affinity mask names at most max_processors; writing only some of them would leave the
// processors with different tables, so then nothing is written at all.
static bool all_processors_addressable() {
    if (startup.processor_count <= max_processors) return true;
    tk::show_message("more than 64 processors: nothing written", "warning");
    return false;
}

void write_all_cores(uint32_t reg, uint32_t low, uint32_t high) {
    if (startup.processor_count > max_processors) return;
    for (uint32_t p = 0; p < startup.processor_count; ++p) WrmsrTx(reg, low, high, uintptr_t{1} << p);
}

// The row bytes as the window shows them for these register words: decoded, then clamped
// into the ranges of the row's sliders.
static PstateRow shown_row(uint32_t low, uint32_t high, bool nb_is_voltage) {
    auto clamp = [](uint8_t v, uint8_t lo, uint8_t hi) { return v < lo ? lo : v > hi ? hi : v; };
    PstateRow row = decode_row(low, high, startup.ex_family);
    row.multi = clamp(row.multi, 8, 63);
    row.vcore = clamp(row.vcore, 69, 124);
    if (nb_is_voltage) row.nb = clamp(row.nb, 69, 124);
    return row;
}

// Encodes one row into its register words. Fields whose byte still shows what the words hold
// keep their bits exactly; only the fields the user changed are encoded anew.
static void encode_edited_row(int i) {
    uint32_t& low = pstate.table.reg_low[i];
    uint32_t& high = pstate.table.reg_high[i];
    const PstateRow row = pstate.table.rows[i];
    const bool f15 = uses_family15h_fields(startup.ex_family);
    const PstateRow raw = decode_row(low, high, startup.ex_family);
    const PstateRow shown = shown_row(low, high, !f15);
    auto same = [](uint8_t byte, uint8_t a, uint8_t b) { return byte == a || byte == b; };

    const uint32_t old_low = low;
    encode_row(row, low, high, startup.ex_family); // of the high word only bit 63 changes
    // clang-format off
    const uint32_t frequency_bits = 0x1FF;                        // FID 5..0, DID 8..6
    const uint32_t vcore_bits     = f15 ? 0x1FE00u : 0xFE00u;     // core VID, all 8 bits in the family-15h layout
    const uint32_t nb_bits        = f15 ? 1u << 22 : 0xFE000000u; // NB P-state bit or NB VID
    // clang-format on
    uint32_t keep = 0;
    if (same(row.multi, raw.multi, shown.multi)) keep |= frequency_bits;
    if (same(row.vcore, raw.vcore, shown.vcore)) keep |= vcore_bits;
    if (same(row.nb, raw.nb, shown.nb)) keep |= nb_bits;
    low = (low & ~keep) | (old_low & keep);
}

// True when the words hold exactly what the row shows, field by field, with nothing clamped.
static bool holds_exactly(uint32_t low, uint32_t high, const PstateRow& row) {
    const PstateRow raw = decode_row(low, high, startup.ex_family);
    return raw.state == (row.state & 1) && raw.multi == row.multi && raw.vcore == row.vcore &&
           raw.nb == row.nb;
}

// A row may be written when it changes nothing on the processor, or when every field of the
// new words is exactly what the window shows: never a value the user did not see.
static bool writable_row(uint32_t i) {
    uint32_t low = 0, high = 0;
    if (Rdmsr(MSR_PSTATE_DEF0 + i, &low, &high) && low == pstate.table.reg_low[i] &&
        high == pstate.table.reg_high[i])
        return true;
    return holds_exactly(pstate.table.reg_low[i], pstate.table.reg_high[i], pstate.table.rows[i]);
}

void apply_settings(int32_t) {
    if (register_layout(startup.ex_family, startup.ex_model) == Layout::unknown) {
        tk::show_message("unsupported p-state layout", "warning");
        return;
    }
    if (!all_processors_addressable()) return;

    const uint32_t count = load_shared(pstate.pstate_count);
    const PstateTable before = pstate.table;
    for (int i = 0; i < pstate_rows; ++i) encode_edited_row(i);
    bool writable = true;
    for (uint32_t i = 0; i < count; ++i) writable = writable && writable_row(i);
    if (!writable) {
        // Put the words back: nothing was written, so the table keeps what the processor holds.
        for (int i = 0; i < pstate_rows; ++i) {
            pstate.table.reg_low[i] = before.reg_low[i];
            pstate.table.reg_high[i] = before.reg_high[i];
        }
        tk::show_message("value out of range: nothing written", "warning");
        return;
    }

    for (int i = 0; i < pstate_rows; ++i) {
        actions.expected_low[i] = pstate.table.reg_low[i];
        actions.expected_high[i] = pstate.table.reg_high[i];
    }
    for (uint32_t i = 0; i < count; ++i)
        write_all_cores(MSR_PSTATE_DEF0 + i, pstate.table.reg_low[i], pstate.table.reg_high[i]);
    platform::os_sleep_ms(1);

    read_pstates();
    for (int i = 0; i < pstate_rows; ++i) {
        if (pstate.table.reg_low[i] != actions.expected_low[i] ||
            pstate.table.reg_high[i] != actions.expected_high[i]) {
            tk::show_message("not all settings accepted", "warning");
            break;
        }
    }
    decode_pstates(startup.ex_family);
    tk::sync_sliders();
    tk::redraw_all();
}

// Makes hardware row `index` current on every processor, then shows what the processor reports.
static void switch_to(uint8_t index) {
    store_shared(pstate.current_index, index);
    write_all_cores(MSR_PSTATE_CONTROL, static_cast<uint32_t>(index - load_shared(pstate.pstate_offset)), 0);
    platform::os_sleep_ms(1);
    refresh(-1);
}

void step_up(int32_t) {
    if (load_shared(pstate.auto_mode) != 0) return;
    const uint8_t current = load_shared(pstate.current_index);
    if (current <= load_shared(pstate.pstate_offset)) return;
    if (!all_processors_addressable()) return;
    switch_to(static_cast<uint8_t>(current - 1));
}

void step_down(int32_t) {
    if (load_shared(pstate.auto_mode) != 0) return;
    const uint8_t current = load_shared(pstate.current_index);
    if (current + 1 >= load_shared(pstate.pstate_count)) return;
    if (!all_processors_addressable()) return;
    switch_to(static_cast<uint8_t>(current + 1));
}

void refresh(int32_t) {
    read_pstates();
    decode_pstates(startup.ex_family);
    tk::sync_sliders();
    tk::redraw_all();
}

void exit_program(int32_t) {
    stop_governor();
    DeinitializeOls();
    end_process();
}

} // namespace app
