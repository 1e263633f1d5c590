// Reading and decoding the P-state registers, and encoding edited rows back.
#include "app/pstate.h"

#include "platform/hw.h"

namespace app {

PstateState pstate;

void reset_pstate() {
    pstate = PstateState{};
}

void read_pstates() {
    uint32_t high = 0;
    Rdmsr(MSR_PSTATE_STATUS, &pstate.status_low, &high);
    uint32_t cofvid_high = 0;
    Rdmsr(MSR_COFVID_STATUS, &pstate.cofvid_low, &cofvid_high);

    // A failed read stops the loop; that row and the ones after it keep what they held.
    uint8_t count = 0;
    for (; count < pstate_rows; ++count) {
        uint32_t low = 0;
        high = 0;
        if (!Rdmsr(MSR_PSTATE_DEF0 + count, &low, &high)) break;
        pstate.table.reg_low[count] = low;
        pstate.table.reg_high[count] = high;
    }
    store_shared(pstate.pstate_count, count);

    uint32_t hardware = (pstate.cofvid_low >> 16) & 7;
    uint32_t software = pstate.status_low & 7;
    store_shared(pstate.pstate_offset, static_cast<uint8_t>(hardware > software ? hardware - software : 0));
}

PstateRow decode_row(uint32_t low, uint32_t high, uint8_t ex_family) {
    PstateRow row{};
    row.state = static_cast<uint8_t>(high >> 31);
    uint32_t multi = ((low & 0x3F) + 16) / (1u << ((low >> 6) & 7));
    row.multi = static_cast<uint8_t>(multi < 8 ? 8 : multi);
    if (uses_family15h_fields(ex_family)) {
        row.vcore = static_cast<uint8_t>(124 - ((low >> 10) & 0x7F));
        row.nb = static_cast<uint8_t>((low >> 22) & 1);
    } else {
        row.vcore = static_cast<uint8_t>(124 - ((low >> 9) & 0x7F));
        row.nb = static_cast<uint8_t>(124 - (low >> 25));
    }
    return row;
}

void decode_pstates(uint8_t ex_family) {
    uint32_t current = (pstate.status_low & 7) + load_shared(pstate.pstate_offset);
    store_shared(pstate.current_index, static_cast<uint8_t>(current));
    for (int i = 0; i < pstate_rows; ++i) {
        PstateRow row = decode_row(pstate.table.reg_low[i], pstate.table.reg_high[i], ex_family);
        PstateRow& out = pstate.table.rows[i];
        store_shared(out.state,
                     static_cast<uint8_t>(row.state | (static_cast<uint32_t>(i) == current ? 2 : 0)));
        out.multi = row.multi;
        out.vcore = row.vcore;
        out.nb = row.nb;
    }
}

void encode_row(const PstateRow& row, uint32_t& low, uint32_t& high, uint8_t ex_family) {
    uint32_t multi = row.multi;
    uint32_t did = 0;
    if (multi < 16) {
        did = 1;
        multi *= 2;
    }
    uint32_t fid = (multi - 16) & 0x3F;
    uint32_t vid = (124u - row.vcore) & 0x7F;
    if (uses_family15h_fields(ex_family)) {
        // Only bit 0 of nb is the NB P-state bit; the rest of the byte never reaches the register.
        low = (low & 0xFFBE0000) | fid | did << 6 | vid << 10 | (row.nb & 1u) << 22;
    } else {
        low = (low & 0x01FF0000) | fid | did << 6 | vid << 9 | ((124u - row.nb) & 0x7F) << 25;
    }
    high = (high & 0x7FFFFFFF) | (row.state & 1u) << 31;
}

} // namespace app
