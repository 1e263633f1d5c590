// The P-state table: the program's copy of the eight P-state definition
// registers and the four editable bytes per P-state that the row widgets are
// bound to, with reading and decoding (the register layouts are in layouts.h).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace app {

// clang-format off
inline constexpr uint32_t MSR_PSTATE_CONTROL = 0xC0010062; // low word: software P-state to switch to
inline constexpr uint32_t MSR_PSTATE_STATUS  = 0xC0010063; // bits 2..0: current P-state, software numbering
inline constexpr uint32_t MSR_PSTATE_DEF0    = 0xC0010064; // + i: definition of hardware P-state i
inline constexpr uint32_t MSR_COFVID_STATUS  = 0xC0010071; // bits 18..16: current P-state, hardware numbering
// clang-format on

inline constexpr int pstate_rows = 8;

// Processors quilm reads and writes at most; a machine with more is shown, never written.
inline constexpr uint32_t max_processors = 1024;

// The four editable bytes of one P-state row.
struct PstateRow {
    uint8_t state; // bit 0: enabled (register bit 63); bit 1: current P-state (display only)
    uint8_t multi; // core frequency in 100 MHz steps: (FID + 16) / 2^DID, 8..63
    uint8_t vcore; // core voltage in 12.5 mV steps, 124 - VID (124 = 1.5500 V)
    uint8_t nb;    // older layout: northbridge voltage like vcore; family-15h layout: NB P-state bit
};

// The 96-byte table; with auto_mode right after it, also the image of the settings file.
struct PstateTable {
    uint32_t reg_low[pstate_rows];  // bits 31..0 of definition register i
    uint32_t reg_high[pstate_rows]; // bits 63..32 of definition register i
    PstateRow rows[pstate_rows];
};

struct PstateState {
    PstateTable table;
    uint8_t auto_mode;     // 1 while the load governor runs; saved with the table
    uint8_t pstate_count;  // definition registers read successfully, 0..8
    uint8_t pstate_offset; // hardware minus software P-state number (boosted P-states), 0 if not positive
    uint8_t current_index; // current P-state in hardware numbering
    uint32_t status_low;   // low word of the P-state status register
    uint32_t cofvid_low;   // low word of the COFVID status register
    uint32_t amps[pstate_rows]; // each row's current limit in 1/100 A, for the window (0 when unknown)
    uint8_t
        differs[max_processors]; // bit i: the processor's definition i is not processor 0's (or unreadable)
    uint8_t differing_rows;      // bit i: some processor's definition i differs
};
extern PstateState pstate;

// The settings file is the byte image of the table followed by auto_mode.
inline constexpr size_t settings_image_size = 97;
static_assert(offsetof(PstateTable, reg_low) == 0);
static_assert(offsetof(PstateTable, reg_high) == 32);
static_assert(offsetof(PstateTable, rows) == 64);
static_assert(sizeof(PstateRow) == 4);
static_assert(sizeof(PstateTable) == 96);
static_assert(offsetof(PstateState, table) == 0);
static_assert(offsetof(PstateState, auto_mode) == 96);
static_assert(offsetof(PstateState, auto_mode) + 1 == settings_image_size);

// Bytes shared with the load governor's thread are read and written whole, atomically.
inline uint8_t load_shared(const uint8_t& byte) {
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(byte)).load(std::memory_order_acquire);
}
inline void store_shared(uint8_t& byte, uint8_t value) {
    std::atomic_ref<uint8_t>(byte).store(value, std::memory_order_release);
}

// Reads the status, COFVID and definition registers of processor 0; sets the count and the boost
// offset, and compares every other processor's definition registers with processor 0's.
void read_pstates();

// The text shown when processors hold different definitions.
inline constexpr const char* differs_text =
    "processors hold different P-state definitions: showing processor 0's; apply makes them all equal";

// Sets current_index and the four row bytes of all eight rows from the registers, with the
// layout in use; also the current limit of each row.
void decode_pstates();

// Back to the start state (all zero).
void reset_pstate();

} // namespace app
