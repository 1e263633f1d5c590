// Reading and decoding the P-state registers, and encoding edited rows back.
#include "app/pstate.h"

#include "app/layouts.h"
#include "app/startup.h"
#include "platform/hw.h"

namespace app {

PstateState pstate;

void reset_pstate() {
    pstate = PstateState{};
}

// Marks each processor's definition registers that are not processor 0's.
static void compare_processors(uint8_t count) {
    uint8_t any = 0;
    uint32_t processors = startup.processor_count < max_processors ? startup.processor_count : max_processors;
    const uint32_t reachable = hw_processor_count();
    if (processors > reachable) processors = reachable;
    for (uint32_t p = 1; p < processors; ++p) {
        uint8_t rows = 0;
        for (uint8_t i = 0; i < count; ++i) {
            uint32_t low = 0, high = 0;
            if (!hw_rdmsr_on(p, MSR_PSTATE_DEF0 + i, &low, &high) || low != pstate.table.reg_low[i] ||
                high != pstate.table.reg_high[i])
                rows = uint8_t(rows | 1u << i);
        }
        pstate.differs[p] = rows;
        any = uint8_t(any | rows);
    }
    pstate.differing_rows = any;
}

void read_pstates() {
    // Processor 0 by number, whichever processor this thread runs on: its table is shown, and
    // apply writes it to every processor.
    uint32_t high = 0;
    hw_rdmsr_on(0, MSR_PSTATE_STATUS, &pstate.status_low, &high);
    // Only processors with a COFVID status register number their P-states two ways (boosted
    // rows); elsewhere the status register alone tells the current P-state.
    uint32_t cofvid_high = 0;
    if (current_layout().cofvid) hw_rdmsr_on(0, MSR_COFVID_STATUS, &pstate.cofvid_low, &cofvid_high);

    // A failed read stops the loop; that row and the ones after it keep what they held.
    uint8_t count = 0;
    for (; count < pstate_rows; ++count) {
        uint32_t low = 0;
        high = 0;
        if (!hw_rdmsr_on(0, MSR_PSTATE_DEF0 + count, &low, &high)) break;
        pstate.table.reg_low[count] = low;
        pstate.table.reg_high[count] = high;
    }
    store_shared(pstate.pstate_count, count);
    compare_processors(count);

    // The northbridge's count of boosted P-states where it could be read; otherwise the difference
    // of the two current-P-state numbers, which is right only while a P-state that is not
    // boosted is current.
    uint32_t hardware = current_layout().cofvid ? (pstate.cofvid_low >> 16) & 7 : 0;
    uint32_t software = pstate.status_low & 7;
    uint32_t offset = hardware > software ? hardware - software : 0;
    if (layout_state.boost_known) offset = layout_state.boost_count;
    store_shared(pstate.pstate_offset, static_cast<uint8_t>(offset));
}

void decode_pstates() {
    const Layout& layout = current_layout();
    uint32_t current = (pstate.status_low & 7) + load_shared(pstate.pstate_offset);
    store_shared(pstate.current_index, static_cast<uint8_t>(current));
    for (int i = 0; i < pstate_rows; ++i) {
        const uint64_t reg = join(pstate.table.reg_low[i], pstate.table.reg_high[i]);
        const PstateRow row = decode_row(layout, reg);
        const Quantity amps = current_of(layout, reg);
        pstate.amps[i] = amps.state == Quantity::value ? uint32_t(amps.amount) : 0;
        PstateRow& out = pstate.table.rows[i];
        store_shared(out.state,
                     static_cast<uint8_t>(row.state | (static_cast<uint32_t>(i) == current ? 2 : 0)));
        out.multi = row.multi;
        out.vcore = row.vcore;
        out.nb = row.nb;
    }
}

} // namespace app
