// The register layouts of the P-state definitions, one constexpr description per
// layout in one table: which bits hold which field, how a field becomes MHz, volts
// and amps, how the window's row bytes map onto the fields, and whether quilm may
// write the layout at all. Everything that reads or writes a definition register
// goes through this description; adding a family is adding a row.
#pragma once
#include <cstdint>

#include "app/pstate.h"

namespace app {

// A field of the 64-bit register: `width` bits from bit `shift`; width 0 means absent.
struct Bits {
    uint8_t shift;
    uint8_t width;
    constexpr uint64_t mask() const { return width == 0 ? 0 : ((uint64_t{1} << width) - 1) << shift; }
    constexpr uint32_t get(uint64_t reg) const { return uint32_t((reg & mask()) >> shift); }
    constexpr uint64_t put(uint64_t reg, uint32_t value) const {
        return (reg & ~mask()) | ((uint64_t{value} << shift) & mask());
    }
};

// How the frequency fields give MHz.
enum class FreqKind : uint8_t {
    fid_did, // 100 MHz * (Fid + fid_base) / 2^Did (families 10h, 11h, 15h, 16h)
    fam12h,  // 100 MHz * (Fid + 16) / divisor, Did 0..8 = 1, 1.5, 2, 3, 4, 6, 8, 12, 16
    fam14h,  // 100 MHz * (MainPllOpFreqId + 16) / (DidMSD + DidLSD / 4 + 1); unknown without the PLL
    zen,     // 200 MHz * Fid / DfsId; DfsId 0 is off
    zen5,    // 5 MHz * Fid; Fid 0 is off
    none,    // not decoded
};

// How the voltage field gives volts.
enum class VoltKind : uint8_t {
    svi1, // 1.55 V - 12.5 mV * Vid; Vid 7Ch and up is off
    svi2, // 1.55 V - 6.25 mV * Vid; Vid F8h and up is off
    svi3, // 0.245 V + 5 mV * Vid, Vid bit 8 in vid_high; Vid 0 is off
    pvi,  // parallel VID: 1.55 V - 25 mV * Vid below 20h, else 1.1625 V - 12.5 mV * Vid; off at 0 V
    none,
};

// What a window column edits or shows, and how its row byte maps onto the fields.
enum class Column : uint8_t {
    none,
    legacy_multi,     // (Fid + 16) / 2^Did in 100 MHz, truncated, at least 8; slider 8..63
    legacy_vid,       // 124 - Vid (7 bits), 12.5 mV steps; slider 69..124
    legacy_nb,        // 124 - NbVid, as legacy_vid
    legacy_vid_upper, // 124 - the upper seven bits of an 8-bit Vid (16..10), 12.5 mV steps; slider 69..124
    nb_pstate,        // the northbridge P-state bit, shown only
    freq,             // 400 MHz + 25 MHz * (byte - 2), slider 0..241
    svi1,             // Vid 0..122 as 124 - Vid, slider 0..124
    svi2,             // Vid 0..246 as 248 - Vid, slider 0..248
    svi3,             // Vid 8..261 as Vid - 6, slider 0..255
    pvi,              // Vid as its voltage in 25 mV steps, slider 0..62 (the core VID)
    pvi_nb,           // the same over the northbridge VID
    amps,             // the current limit, shown only (its own per-row array)
};

// Row bytes of the fine columns below 2 are no value of the slider's scale.
inline constexpr uint8_t byte_off = 0;   // the field says "off"
inline constexpr uint8_t byte_other = 1; // a value between the column's steps or outside its range

struct Layout {
    const char* name; // stable name, as `quilm list --json` prints it
    const char* note; // the window's short name for the layout
    // Settings files: `code` names this layout's meaning of the row bytes, and no other meaning ever takes
    // it. A file without trailer reads as `plain_code` (0: refused here); a file of `older_code`, a
    // meaning these registers had in an earlier release, converts exactly, its core voltage byte
    // holding `older_vcore`.
    uint8_t code;
    uint8_t plain_code = 0;
    uint8_t older_code = 0;
    Column older_vcore = Column::none;
    bool writable = false; // definition registers may be written (when the layout is also certain)
    bool cofvid = false;   // C001_0071 tells the hardware P-state, so boosted rows can be counted
    bool zen = false;      // P0's frequency sets the time-stamp counter: lock it before P0 changes
    FreqKind freq = FreqKind::none;
    uint8_t fid_base = 0; // fid_did: the constant added to Fid
    uint8_t did_max = 0;  // fid_did, fam12h: the largest divisor ID with a meaning
    Bits fid{}, did{};    // fam14h: fid = DidMSD, did = DidLSD; zen: did = DfsId
    VoltKind volt = VoltKind::none;
    Bits vid{}, vid_high{};
    Bits nb_vid{}, nb_pstate{};
    Bits idd_value{}, idd_div{};
    int32_t header_set, row_set;                                          // the window's template sets
    Column multi = Column::none, vcore = Column::none, nb = Column::none; // what the row bytes hold
    const char* heading = nullptr; // the column heading for the window's generic header
    bool pci_pvi = false;          // D18F3xA0 bit 8 (PviMode) chooses the voltage encoding
    bool pci_pll = false;          // D18F3xD4 bits 5..0 (MainPllOpFreqId) give the frequencies
    Bits boost_count{};            // D18F4x15C: NumBoostStates, where BoostSrc (bits 1..0) enables boost
};

// clang-format off
enum LayoutId : uint8_t {
    LAYOUT_FAMILY10H, LAYOUT_FAMILY11H, LAYOUT_FAMILY12H, LAYOUT_FAMILY14H, LAYOUT_FAMILY15H_SVI1,
    LAYOUT_FAMILY15H_SVI2, LAYOUT_ZEN_SVI2, LAYOUT_ZEN_SVI3, LAYOUT_ZEN5, LAYOUT_UNKNOWN, LAYOUT_FAMILY10H_PVI,
    LAYOUT_COUNT,
};
// clang-format on

extern const Layout layouts[LAYOUT_COUNT];

// The layout in use and whether it is known for certain for this processor.
struct LayoutState {
    const Layout* layout = &layouts[LAYOUT_UNKNOWN];
    bool certain = false;
    int8_t pvi = -1;          // PviMode as read from the northbridge, -1 unread
    bool boost_known = false; // boost_count was read from the northbridge
    uint8_t boost_count = 0;  // boosted P-states
    bool pll_known = false;   // main_pll was read from the northbridge
    uint8_t main_pll = 0;     // MainPllOpFreqId
};
extern LayoutState layout_state;

inline const Layout& current_layout() {
    return *layout_state.layout;
}

// True when "apply settings" may write definition registers.
inline bool layout_writable() {
    return layout_state.certain && layout_state.layout->writable;
}

// Chooses the layout by combined family and model. Models whose layout is not known for certain
// get the family's likeliest layout, uncertain; refine_layout then settles the voltage encoding.
void choose_layout(uint8_t ex_family, uint8_t ex_model);

// Reads what the northbridge says about the board and the processor: PviMode (a layout that
// depends on it counts as uncertain where it cannot be read), the boosted P-state count and the
// main PLL.
void read_board();

// For an uncertain Zen processor: the voltage encoding that puts every enabled row of the
// registers between 0.6 and 1.55 V (SVI2 where both or neither do).
void refine_layout(const uint32_t* low, const uint32_t* high, uint32_t count);

// --- What a register holds, exactly -------------------------------------------

// A decoded quantity: off, not derivable, or a value in fixed units.
struct Quantity {
    enum State : uint8_t { value, off, unknown } state;
    int64_t amount; // frequency in 1/100 MHz, voltage in 1/100000 V, current in 1/100 A
};

Quantity frequency_of(const Layout& layout, uint64_t reg); // 1/100 MHz, rounded to the nearest
Quantity voltage_of(const Layout& layout, uint64_t reg);   // 1/100000 V, exact
Quantity nb_voltage_of(const Layout& layout, uint64_t reg);
Quantity current_of(const Layout& layout, uint64_t reg); // 1/100 A

// The family 14h core divisor in quarters (4 = divide by 1), or 0 when the layout has none.
uint32_t divisor_quarters(const Layout& layout, uint64_t reg);

// --- The window's row bytes ---------------------------------------------------

// The row bytes the window shows for a register (enable bit in state, no current mark),
// before any slider clamp.
PstateRow decode_row(const Layout& layout, uint64_t reg);

// The row bytes after the clamp of each column's slider.
PstateRow shown_row(const Layout& layout, uint64_t reg);

// Clamps each byte that has a slider into the slider's range, as the window's sliders do.
void clamp_to_sliders(const Layout& layout, PstateRow& row);

// Encodes the row bytes into the register. A column whose byte still shows what the register
// holds keeps its bits exactly; an edited column is encoded anew. False, with reg unchanged,
// when an edited byte names no value the fields can hold.
bool encode_row(const Layout& layout, const PstateRow& row, uint64_t& reg);

// The bits of a definition register that the layout's editable columns and the enable bit hold:
// all that a settings file may set. The rest (current limit, reserved bits) is the processor's.
uint64_t column_bits(const Layout& layout);

// True when every field in which the register differs from `now` (what the processor holds) is a
// value of its column's scale: a file may keep what the processor has, or set what a slider shows,
// never a value between the steps, beyond the range or off.
bool fields_shown(const Layout& layout, uint64_t reg, uint64_t now);

// True when the state byte holds only its two bits and every editable byte either shows what the
// register holds (before or after its slider's clamp) or names a value of its column's scale.
bool row_in_range(const Layout& layout, uint64_t reg, const PstateRow& row);

// Turns a row saved with the layout's older meaning (`older_code`) into this layout's row bytes:
// an unedited core voltage shows the register's own bits, an edited one the same voltage in this
// layout's steps. False when the byte has no exact place in this layout's meaning.
bool convert_older_row(const Layout& layout, uint64_t reg, PstateRow& row);

// True when the register holds exactly what the row bytes say, column by column.
bool holds_exactly(const Layout& layout, uint64_t reg, const PstateRow& row);

// The bits that hold a P-state's frequency (what the time-stamp counter follows on Zen).
uint64_t frequency_mask(const Layout& layout);

inline uint64_t join(uint32_t low, uint32_t high) {
    return uint64_t{high} << 32 | low;
}

} // namespace app
