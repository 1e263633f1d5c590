// Applying settings, stepping the current P-state, refresh and exit.
#include "app/actions.h"

#include <cstdio>
#include <cstring>

#include "app/governor.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

bool all_processors_reachable() {
    return startup.processor_count <= hw_processor_count() && startup.processor_count <= max_processors;
}

namespace {

constexpr uint32_t MSR_HWCR = 0xC0010015;
constexpr uint32_t lock_tsc_to_p0 = 1u << 21; // HWCR: the time-stamp counter keeps P0's rate

uint64_t table_word(int i) {
    return join(pstate.table.reg_low[i], pstate.table.reg_high[i]);
}

bool read_on(uint32_t processor, uint32_t reg, uint64_t& value) {
    uint32_t low = 0, high = 0;
    if (!hw_rdmsr_on(processor, reg, &low, &high)) return false;
    value = join(low, high);
    return true;
}

bool write_on(uint32_t processor, uint32_t reg, uint64_t value) {
    return hw_wrmsr_on(processor, reg, uint32_t(value), uint32_t(value >> 32)) != 0;
}

// Writes reg on every processor with the value next() makes of what it holds, all or none: a
// processor whose register cannot be read, or that refuses the value (or, with verify, does not
// read it back), stops the walk, and every processor changed so far gets its old value back.
// With keep_equal a processor that already holds its value is not written.
template <class Next> WriteResult write_every(uint32_t reg, Next next, bool keep_equal, bool verify) {
    WriteResult result;
    if (!all_processors_reachable()) return {false, 0, reg, true};
    uint64_t old[max_processors];
    uint32_t p = 0;
    for (; p < startup.processor_count; ++p) {
        if (!read_on(p, reg, old[p])) {
            result = {false, p, reg, true};
            break;
        }
        const uint64_t value = next(old[p]);
        if (keep_equal && value == old[p]) continue;
        if (!write_on(p, reg, value)) {
            result = {false, p, reg, true};
            break;
        }
        uint64_t now = 0;
        if (verify && (!read_on(p, reg, now) || now != value)) {
            result = {false, p, reg, true};
            ++p; // it took a write but does not read back the value: it is put back too
            break;
        }
    }
    if (result.ok) return result;
    for (uint32_t q = 0; q < p; ++q)
        if (next(old[q]) != old[q] && !write_on(q, reg, old[q])) result.restored = false;
    return result;
}

} // namespace

WriteResult write_all_cores(uint32_t reg, uint32_t low, uint32_t high) {
    return write_every(
        reg, [value = join(low, high)](uint64_t) { return value; }, false, false);
}

void refusal_text(const WriteResult& refusal, char* text, uint32_t size) {
    std::snprintf(text, size, "not all settings accepted: processor %u refused register %08X",
                  refusal.processor, refusal.reg);
}

const char* apply_text(ApplyResult result, const ApplyPlan& plan) {
    static char refused[96]; // the main thread's: apply runs nowhere else
    switch (result) {
    case ApplyResult::ok: return nullptr;
    case ApplyResult::unsupported: return "unsupported p-state layout";
    case ApplyResult::unreachable: return unreachable_text;
    case ApplyResult::out_of_range: return "value out of range: nothing written";
    case ApplyResult::tsc_unlocked: return "couldn't lock the time-stamp counter to P0: nothing written";
    case ApplyResult::tsc_stuck:
        return "couldn't lock the time-stamp counter to P0, nor put HWCR back on every processor: no p-state "
               "written";
    case ApplyResult::refused: refusal_text(plan.refusal, refused, sizeof refused); return refused;
    case ApplyResult::not_accepted: return "not all settings accepted";
    }
    return nullptr;
}

namespace {

// A row may be written when it changes nothing on the processor, or when every field of the
// new words is exactly what the window shows: never a value the user did not see.
bool writable_row(const Layout& layout, uint32_t i) {
    uint64_t now = 0;
    if (read_on(0, MSR_PSTATE_DEF0 + i, now) && now == table_word(int(i))) return true;
    return holds_exactly(layout, table_word(int(i)), pstate.table.rows[i]);
}

// Whether processor p needs row i written: when its register differs (or cannot be read). A row
// every processor already holds is never written again, so applying what is there writes nothing.
bool needs_write(uint32_t p, uint32_t i, uint64_t value) {
    uint64_t now = 0;
    return !read_on(p, MSR_PSTATE_DEF0 + i, now) || now != value;
}

// Sets LockTscToCurrP0 on every processor and reads it back, all or none.
ApplyResult lock_tsc() {
    const WriteResult r = write_every(
        MSR_HWCR, [](uint64_t hwcr) { return hwcr | lock_tsc_to_p0; }, true, true);
    return r.ok ? ApplyResult::ok : r.restored ? ApplyResult::tsc_unlocked : ApplyResult::tsc_stuck;
}

} // namespace

ApplyResult plan_apply(ApplyPlan& plan) {
    if (!layout_writable()) return ApplyResult::unsupported;
    if (!all_processors_reachable()) return ApplyResult::unreachable;
    const Layout& layout = current_layout();
    plan = ApplyPlan{};
    plan.count = load_shared(pstate.pstate_count);

    const PstateTable before = pstate.table;
    auto restore = [&] {
        std::memcpy(pstate.table.reg_low, before.reg_low, sizeof before.reg_low);
        std::memcpy(pstate.table.reg_high, before.reg_high, sizeof before.reg_high);
    };
    // Every row is encoded, also those beyond the readable ones (they are not written).
    for (int i = 0; i < pstate_rows; ++i) {
        uint64_t reg = table_word(i);
        const bool encoded = encode_row(layout, pstate.table.rows[i], reg);
        if (!encoded && uint32_t(i) < plan.count) {
            restore();
            return ApplyResult::out_of_range;
        }
        pstate.table.reg_low[i] = uint32_t(reg);
        pstate.table.reg_high[i] = uint32_t(reg >> 32);
    }
    for (uint32_t i = 0; i < plan.count; ++i) {
        if (!writable_row(layout, i)) {
            restore();
            return ApplyResult::out_of_range;
        }
        plan.after[i] = table_word(int(i));
        plan.before[i] = plan.after[i];
        read_on(0, MSR_PSTATE_DEF0 + i, plan.before[i]);
        for (uint32_t p = 0; p < startup.processor_count && !plan.write[i]; ++p)
            plan.write[i] = needs_write(p, i, plan.after[i]);
    }
    return ApplyResult::ok;
}

ApplyResult carry_out(ApplyPlan& plan) {
    const Layout& layout = current_layout();
    // P0's frequency sets the time-stamp counter's rate where the layout says so: lock the counter
    // to the rate it has now before P0 changes, or write nothing.
    if (layout.zen && plan.count > 0 && plan.write[0]) {
        bool frequency_changes = false;
        for (uint32_t p = 0; p < startup.processor_count; ++p) {
            uint64_t now = 0;
            frequency_changes = frequency_changes || !read_on(p, MSR_PSTATE_DEF0, now) ||
                                ((now ^ plan.after[0]) & frequency_mask(layout)) != 0;
        }
        if (frequency_changes) {
            const ApplyResult locked = lock_tsc();
            if (locked != ApplyResult::ok) return locked;
        }
    }
    for (uint32_t i = 0; i < plan.count; ++i) {
        if (!plan.write[i]) continue;
        for (uint32_t p = 0; p < startup.processor_count; ++p) {
            if (!needs_write(p, i, plan.after[i]) || write_on(p, MSR_PSTATE_DEF0 + i, plan.after[i]))
                continue;
            plan.refusal = {false, p, MSR_PSTATE_DEF0 + i, false};
            return ApplyResult::refused;
        }
    }
    platform::os_sleep_ms(1);
    // Every processor must now hold every row.
    for (uint32_t p = 0; p < startup.processor_count; ++p) {
        for (uint32_t i = 0; i < plan.count; ++i) {
            uint64_t now = 0;
            if (!read_on(p, MSR_PSTATE_DEF0 + i, now) || now != plan.after[i])
                return ApplyResult::not_accepted;
        }
    }
    return ApplyResult::ok;
}

void apply_settings(int32_t) {
    ApplyPlan plan{};
    ApplyResult result = plan_apply(plan);
    if (result == ApplyResult::ok) result = carry_out(plan);
    if (result != ApplyResult::ok) tk::show_message(apply_text(result, plan), "warning");
    // What was written, if anything, shows as the processor holds it.
    if (result == ApplyResult::ok || result == ApplyResult::refused || result == ApplyResult::not_accepted) {
        read_pstates();
        decode_pstates();
        tk::sync_sliders();
        tk::redraw_all();
    }
}

// Makes hardware row `index` current on every processor, then shows what the processor reports.
// A refused control value leaves the table and current_index as they were.
static void switch_to(uint8_t index) {
    const WriteResult written = write_all_cores(
        MSR_PSTATE_CONTROL, static_cast<uint32_t>(index - load_shared(pstate.pstate_offset)), 0);
    if (!written.ok) {
        char text[96];
        refusal_text(written, text, sizeof text);
        tk::show_message(text, "warning");
        return;
    }
    store_shared(pstate.current_index, index);
    platform::os_sleep_ms(1);
    refresh(-1);
}

void step_up(int32_t) {
    if (load_shared(pstate.auto_mode) != 0) return;
    const uint8_t current = load_shared(pstate.current_index);
    if (current <= load_shared(pstate.pstate_offset)) return;
    if (!all_processors_reachable()) {
        tk::show_message(unreachable_text, "warning");
        return;
    }
    switch_to(static_cast<uint8_t>(current - 1));
}

void step_down(int32_t) {
    if (load_shared(pstate.auto_mode) != 0) return;
    const uint8_t current = load_shared(pstate.current_index);
    if (current + 1 >= load_shared(pstate.pstate_count)) return;
    if (!all_processors_reachable()) {
        tk::show_message(unreachable_text, "warning");
        return;
    }
    switch_to(static_cast<uint8_t>(current + 1));
}

void refresh(int32_t) {
    read_pstates();
    decode_pstates();
    tk::sync_sliders();
    tk::redraw_all();
}

void exit_program(int32_t) {
    stop_governor();
    DeinitializeOls();
    end_process();
}

} // namespace app
