// The table of register layouts and the arithmetic that reads and writes their
// fields. Quantities are integers in fixed units (1/100 MHz, 1/100000 V, 1/100 A),
// so that two different register values never print alike.
#include "app/layouts.h"

#include "app/main_window.h"
#include "platform/hw.h"

namespace app {

LayoutState layout_state;

// clang-format off
constexpr Bits fid6{0, 6}, did3{6, 3};                  // FID 5..0, DID 8..6
constexpr Bits vid7{9, 7}, vid8{9, 8};                  // core VID 15..9, or 16..9
constexpr Bits idd_old{32, 8}, idd_div_old{40, 2};      // IddValue 39..32, IddDiv 41..40
constexpr Bits zen_fid{0, 8}, zen_dfs{8, 6};            // Fid 7..0, DfsId 13..8
constexpr Bits zen_vid{14, 8}, zen_vid8{32, 1};         // Vid 21..14; SVI3: Vid bit 8 in bit 32
constexpr Bits zen_idd{22, 8}, zen_idd_div{30, 2};      // IddValue 29..22, IddDiv 31..30

const char* const heading_mhz  = "register dumps      MHz     Vcore";
const char* const heading_zen  = "register dumps      MHz     Vcore    amps";
const char* const heading_raw  = "register dumps";

// Each row names its fields; what a row leaves out is absent (Bits{}), off or none.
const Layout layouts[LAYOUT_COUNT] = {
    {.name = "family-10h", .note = "family 10h",
     .code = 1, .plain_code = 1,
     .writable = true, .cofvid = true,
     .freq = FreqKind::fid_did, .fid_base = 16, .did_max = 4, .fid = fid6, .did = did3,
     .volt = VoltKind::svi1, .vid = vid7, .nb_vid = {25, 7},
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER, .row_set = SET_PSTATE_ROW,
     .multi = Column::legacy_multi, .vcore = Column::legacy_vid, .nb = Column::legacy_nb,
     .pci_pvi = true, .boost_count = {2, 1}},
    {.name = "family-11h", .note = "family 11h",
     .code = 3,
     .writable = true, .cofvid = true,
     .freq = FreqKind::fid_did, .fid_base = 8, .did_max = 3, .fid = fid6, .did = did3,
     .volt = VoltKind::svi1, .vid = vid7,
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_SVI1,
     .multi = Column::freq, .vcore = Column::svi1,
     .heading = heading_mhz},
    {.name = "family-12h", .note = "read only",
     .code = 4,
     .cofvid = true,
     .freq = FreqKind::fam12h, .fid_base = 16, .did_max = 8, .fid = {4, 5}, .did = {0, 4},
     .volt = VoltKind::svi1, .vid = vid7,
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_SVI1,
     .multi = Column::freq, .vcore = Column::svi1,
     .heading = heading_mhz, .boost_count = {2, 3}},
    {.name = "family-14h", .note = "read only",
     .code = 5,
     .cofvid = true,
     .freq = FreqKind::fam14h, .fid = {4, 5}, .did = {0, 4},
     .volt = VoltKind::svi1, .vid = vid7,
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_SVI1,
     .multi = Column::freq, .vcore = Column::svi1,
     .heading = heading_mhz, .pci_pll = true, .boost_count = {2, 3}},
    {.name = "family-15h-svi1", .note = "family 15h",
     .code = 6,
     .writable = true, .cofvid = true,
     .freq = FreqKind::fid_did, .fid_base = 16, .did_max = 4, .fid = fid6, .did = did3,
     .volt = VoltKind::svi1, .vid = vid7, .nb_pstate = {22, 1},
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER, .row_set = SET_PSTATE_ROW_F15,
     .multi = Column::legacy_multi, .vcore = Column::legacy_vid, .nb = Column::nb_pstate,
     .boost_count = {2, 3}},
    // Code 2 once named this layout with the core voltage in 12.5 mV bytes; since the voltage is
    // shown in its own 6.25 mV steps, the meaning is code 12, and code 2 files are converted.
    {.name = "family-15h-svi2", .note = "family 15h",
     .code = 12, .plain_code = 2, .older_code = 2, .older_vcore = Column::legacy_vid_upper,
     .writable = true, .cofvid = true,
     .freq = FreqKind::fid_did, .fid_base = 16, .did_max = 4, .fid = fid6, .did = did3,
     .volt = VoltKind::svi2, .vid = vid8, .nb_pstate = {22, 1},
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER, .row_set = SET_ROW_F15_SVI2,
     .multi = Column::legacy_multi, .vcore = Column::svi2, .nb = Column::nb_pstate,
     .boost_count = {2, 3}},
    {.name = "zen-svi2", .note = "Zen SVI2",
     .code = 7,
     .writable = true, .zen = true,
     .freq = FreqKind::zen, .fid = zen_fid, .did = zen_dfs,
     .volt = VoltKind::svi2, .vid = zen_vid,
     .idd_value = zen_idd, .idd_div = zen_idd_div,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_ZEN_SVI2,
     .multi = Column::freq, .vcore = Column::svi2, .nb = Column::amps,
     .heading = heading_zen},
    {.name = "zen-svi3", .note = "Zen SVI3",
     .code = 8,
     .writable = true, .zen = true,
     .freq = FreqKind::zen, .fid = zen_fid, .did = zen_dfs,
     .volt = VoltKind::svi3, .vid = zen_vid, .vid_high = zen_vid8,
     .idd_value = zen_idd, .idd_div = zen_idd_div,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_ZEN_SVI3,
     .multi = Column::freq, .vcore = Column::svi3, .nb = Column::amps,
     .heading = heading_zen},
    {.name = "zen5", .note = "Zen 5",
     .code = 9,
     .writable = true, .zen = true,
     .freq = FreqKind::zen5, .fid = {0, 12},
     .volt = VoltKind::svi3, .vid = zen_vid, .vid_high = zen_vid8,
     .idd_value = zen_idd, .idd_div = zen_idd_div,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_ZEN_SVI3,
     .multi = Column::freq, .vcore = Column::svi3, .nb = Column::amps,
     .heading = heading_zen},
    {.name = "unknown", .note = "read only",
     .code = 10,
     .header_set = SET_HEADER_EXT, .row_set = SET_ROW_RAW,
     .heading = heading_raw},
    {.name = "family-10h-pvi", .note = "family 10h",
     .code = 11,
     .writable = true, .cofvid = true,
     .freq = FreqKind::fid_did, .fid_base = 16, .did_max = 4, .fid = fid6, .did = did3,
     .volt = VoltKind::pvi, .vid = vid7, .nb_vid = {25, 7},
     .idd_value = idd_old, .idd_div = idd_div_old,
     .header_set = SET_HEADER, .row_set = SET_PSTATE_ROW_PVI,
     .multi = Column::legacy_multi, .vcore = Column::pvi, .nb = Column::pvi_nb,
     .pci_pvi = true, .boost_count = {2, 1}},
};

// Worked examples from public firmware sources.
static_assert(zen_fid.get(0x8000000059080890) == 0x90 && zen_dfs.get(0x8000000059080890) == 0x08);
static_assert(zen_vid.get(0x8000000059080890) == 0x20 && zen_idd.get(0x8000000059080890) == 100);
static_assert(zen_vid.get(0x800000015E014880) == 0x05 && zen_vid8.get(0x800000015E014880) == 1);
static_assert(Bits{0, 12}.get(0x8000000065AFC352) == 850);
// clang-format on

namespace {

bool in(uint32_t value, uint32_t low, uint32_t high) {
    return value >= low && value <= high;
}

// Model ranges whose layout public firmware sources state for certain.
struct ModelRange {
    uint8_t family, first, last;
    LayoutId layout;
};
// clang-format off
constexpr ModelRange certain_models[] = {
    {0x15, 0x00, 0x0F, LAYOUT_FAMILY15H_SVI1},
    {0x15, 0x10, 0x7F, LAYOUT_FAMILY15H_SVI2},
    {0x17, 0x00, 0x3F, LAYOUT_ZEN_SVI2},
    {0x17, 0x60, 0x7F, LAYOUT_ZEN_SVI2},
    {0x17, 0xA0, 0xAF, LAYOUT_ZEN_SVI3},
    {0x19, 0x00, 0x0F, LAYOUT_ZEN_SVI2},
    {0x19, 0x20, 0x2F, LAYOUT_ZEN_SVI2},
    {0x19, 0x50, 0x5F, LAYOUT_ZEN_SVI2},
    {0x19, 0x60, 0x7F, LAYOUT_ZEN_SVI3},
    {0x1A, 0x00, 0x7F, LAYOUT_ZEN5},
};
// Families with one layout for every model, and the guess for a family's other models.
struct FamilyLayout {
    uint8_t family;
    LayoutId layout;
    bool certain; // every model of the family has it
};
constexpr FamilyLayout family_layouts[] = {
    {0x10, LAYOUT_FAMILY10H,      true},
    {0x11, LAYOUT_FAMILY11H,      true},
    {0x12, LAYOUT_FAMILY12H,      true},
    {0x14, LAYOUT_FAMILY14H,      true},
    {0x15, LAYOUT_FAMILY15H_SVI2, false},
    {0x16, LAYOUT_FAMILY15H_SVI2, true},
    {0x17, LAYOUT_ZEN_SVI2,       false},
    {0x19, LAYOUT_ZEN_SVI2,       false},
    {0x1A, LAYOUT_ZEN5,           false},
};
// clang-format on

// Divisors of family 12h's Did 0..8, in halves.
constexpr uint32_t fam12h_half_divisors[9] = {2, 3, 4, 6, 8, 12, 16, 24, 32};

bool valid_dfs(uint32_t dfs) {
    return in(dfs, 0x08, 0x1A) || (in(dfs, 0x1C, 0x3C) && dfs % 2 == 0);
}

// a / b rounded to the nearest integer (b > 0).
int64_t rounded(int64_t a, int64_t b) {
    return (a + b / 2) / b;
}

uint32_t vid_of(const Layout& layout, uint64_t reg) {
    return layout.vid.get(reg) | layout.vid_high.get(reg) << layout.vid.width;
}

uint64_t with_vid(const Layout& layout, uint64_t reg, uint32_t vid) {
    reg = layout.vid.put(reg, vid & ((1u << layout.vid.width) - 1));
    return layout.vid_high.put(reg, vid >> layout.vid.width);
}

// Volts in 1/100000 V of a VID under an encoding; off where the encoding says so.
Quantity volts(VoltKind kind, uint32_t vid) {
    switch (kind) {
    case VoltKind::svi1:
        return vid >= 0x7C ? Quantity{Quantity::off, 0}
                           : Quantity{Quantity::value, 155000 - 1250 * int64_t(vid)};
    case VoltKind::svi2:
        return vid >= 0xF8 ? Quantity{Quantity::off, 0}
                           : Quantity{Quantity::value, 155000 - 625 * int64_t(vid)};
    case VoltKind::svi3:
        return vid == 0 ? Quantity{Quantity::off, 0} : Quantity{Quantity::value, 24500 + 500 * int64_t(vid)};
    case VoltKind::pvi:
        if (vid < 0x20) return {Quantity::value, 155000 - 2500 * int64_t(vid)};
        return vid >= 93 ? Quantity{Quantity::off, 0}
                         : Quantity{Quantity::value, 116250 - 1250 * int64_t(vid)};
    case VoltKind::none: break;
    }
    return {Quantity::unknown, 0};
}

// ---------------------------------------------------------------------------
// Columns: the window's row bytes

struct Scale {
    bool slider;          // the column has a slider, and so a clamp
    uint8_t lo, hi;       // the slider's range
    uint8_t first;        // the lowest byte that names a value (fine columns: 0 and 1 say off and other)
    int64_t step, offset; // quantity = offset + step * byte, where a byte stands for a quantity
};

// clang-format off
Scale scale_of(Column column) {
    switch (column) {
    case Column::legacy_multi:     return {true, 8, 63, 8, 0, 0};
    case Column::legacy_vid:
    case Column::legacy_nb:        return {true, 69, 124, 69, 0, 0};
    case Column::legacy_vid_upper: return {true, 69, 124, 69, 1250, 0}; // 0.8625 .. 1.5500 V
    case Column::freq:             return {true, 0, 241, 2, 2500, 35000};  // 400 .. 6375 MHz
    case Column::svi1:             return {true, 0, 124, 2, 1250, 0};      // 0.0250 .. 1.5500 V
    case Column::svi2:             return {true, 0, 248, 2, 625, 0};       // 0.01250 .. 1.55000 V
    case Column::svi3:             return {true, 0, 255, 2, 500, 27500};   // 0.28500 .. 1.55000 V
    case Column::pvi:
    case Column::pvi_nb:           return {true, 0, 62, 2, 2500, 0};       // 0.050 .. 1.550 V
    case Column::nb_pstate:        return {false, 0, 1, 0, 0, 0};
    default:                       return {false, 0, 255, 0, 0, 0};
    }
}
// clang-format on

uint8_t clamped(Column column, uint8_t byte) {
    const Scale s = scale_of(column);
    return !s.slider ? byte : byte < s.lo ? s.lo : byte > s.hi ? s.hi : byte;
}

// A fine column's byte for a quantity: off, other, or the step it lies on.
uint8_t fine_byte(Column column, Quantity q) {
    if (q.state == Quantity::off) return byte_off;
    const Scale s = scale_of(column);
    if (q.state != Quantity::value || q.amount < s.offset || (q.amount - s.offset) % s.step != 0)
        return byte_other;
    const int64_t byte = (q.amount - s.offset) / s.step;
    return byte >= 2 && byte <= s.hi ? uint8_t(byte) : byte_other;
}

uint8_t column_byte(const Layout& layout, Column column, uint64_t reg) {
    switch (column) {
    case Column::legacy_multi: {
        const uint32_t multi = (layout.fid.get(reg) + 16) / (1u << layout.did.get(reg));
        return uint8_t(multi < 8 ? 8 : multi);
    }
    case Column::legacy_vid: return uint8_t(124 - layout.vid.get(reg));
    case Column::legacy_nb: return uint8_t(124 - layout.nb_vid.get(reg));
    case Column::legacy_vid_upper: return uint8_t(124 - (vid_of(layout, reg) >> 1));
    case Column::nb_pstate: return uint8_t(layout.nb_pstate.get(reg));
    case Column::freq: return fine_byte(column, frequency_of(layout, reg));
    case Column::svi1:
    case Column::svi2:
    case Column::svi3:
    case Column::pvi: return fine_byte(column, voltage_of(layout, reg));
    case Column::pvi_nb: return fine_byte(column, nb_voltage_of(layout, reg));
    case Column::amps:
    case Column::none: return 0;
    }
    return 0;
}

// The frequency fields for a target in 1/100 MHz, keeping the register's divisor where it
// gives the target exactly; false where no valid fields give it.
bool encode_frequency(const Layout& layout, int64_t centi_mhz, uint64_t& reg) {
    const int64_t mhz = centi_mhz / 100;
    switch (layout.freq) {
    case FreqKind::fid_did: {
        // The register's own divisor first, then the smallest that fits.
        const uint32_t own = layout.did.get(reg);
        for (uint32_t n = 0; n <= uint32_t(layout.did_max) + 1; ++n) {
            const uint32_t did = n == 0 ? own : n - 1;
            if (did > layout.did_max) continue;
            const int64_t scaled = centi_mhz << did; // (Fid + base) * 10000
            if (scaled % 10000 != 0) continue;
            const int64_t fid = scaled / 10000 - layout.fid_base;
            if (fid < 0 || fid >= (int64_t{1} << layout.fid.width)) continue;
            reg = layout.did.put(layout.fid.put(reg, uint32_t(fid)), did);
            return true;
        }
        return false;
    }
    case FreqKind::zen: {
        if (centi_mhz % 100 != 0) return false;
        const uint32_t dfs = layout.did.get(reg);
        if (valid_dfs(dfs) && mhz * dfs % 200 == 0 && in(uint32_t(mhz * dfs / 200), 0x10, 0xFF)) {
            reg = layout.fid.put(reg, uint32_t(mhz * dfs / 200));
            return true;
        }
        if (mhz % 25 != 0 || !in(uint32_t(mhz / 25), 0x10, 0xFF)) return false;
        reg = layout.did.put(layout.fid.put(reg, uint32_t(mhz / 25)), 0x08);
        return true;
    }
    case FreqKind::zen5:
        if (centi_mhz % 500 != 0 || !in(uint32_t(centi_mhz / 500), 1, 0xFFF)) return false;
        reg = layout.fid.put(reg, uint32_t(centi_mhz / 500));
        return true;
    default: return false;
    }
}

// Encodes one edited column; false where the byte names nothing the fields can hold.
bool encode_column(const Layout& layout, Column column, uint8_t byte, uint64_t& reg) {
    const Scale s = scale_of(column);
    switch (column) {
    case Column::legacy_multi: {
        uint32_t multi = byte, did = 0;
        if (multi < 16) {
            did = 1;
            multi *= 2;
        }
        reg = layout.did.put(layout.fid.put(reg, (multi - 16) & 0x3F), did);
        return true;
    }
    case Column::legacy_vid: reg = layout.vid.put(reg, (124u - byte) & 0x7F); return true;
    case Column::legacy_nb: reg = layout.nb_vid.put(reg, (124u - byte) & 0x7F); return true;
    case Column::nb_pstate:
        reg = layout.nb_pstate.put(reg, byte & 1u);
        return true; // only bit 0 reaches the register
    case Column::freq:
        return byte >= 2 && byte <= s.hi && encode_frequency(layout, s.offset + s.step * byte, reg);
    case Column::svi1:
    case Column::svi2:
    case Column::svi3:
    case Column::pvi:
    case Column::pvi_nb: {
        if (byte < 2 || byte > s.hi) return false;
        const int64_t target = s.offset + s.step * byte;
        const bool nb = column == Column::pvi_nb;
        const uint32_t width = nb ? layout.nb_vid.width : layout.vid.width + layout.vid_high.width;
        // The VID whose voltage is the target, found from the encoding's own formula.
        for (uint32_t vid = 0; vid < (1u << width); ++vid) {
            const Quantity q = volts(layout.volt, vid);
            if (q.state != Quantity::value || q.amount != target) continue;
            reg = nb ? layout.nb_vid.put(reg, vid) : with_vid(layout, reg, vid);
            return true;
        }
        return false;
    }
    default: return false; // shown only
    }
}

constexpr Column columns_of(const Layout& layout, int i) {
    return i == 0 ? layout.multi : i == 1 ? layout.vcore : layout.nb;
}

uint8_t& row_byte(PstateRow& row, int i) {
    return i == 0 ? row.multi : i == 1 ? row.vcore : row.nb;
}

bool editable(Column column) {
    return column != Column::none && column != Column::amps;
}

// The register bits a column edits or shows.
uint64_t column_mask(const Layout& layout, Column column) {
    switch (column) {
    case Column::legacy_multi:
    case Column::freq: return layout.fid.mask() | layout.did.mask();
    case Column::legacy_vid:
    case Column::legacy_vid_upper:
    case Column::svi1:
    case Column::svi2:
    case Column::svi3:
    case Column::pvi: return layout.vid.mask() | layout.vid_high.mask();
    case Column::legacy_nb:
    case Column::pvi_nb: return layout.nb_vid.mask();
    case Column::nb_pstate: return layout.nb_pstate.mask();
    case Column::amps:
    case Column::none: return 0;
    }
    return 0;
}

// The byte shows what the register holds, before or after the slider clamp.
bool shows(const Layout& layout, Column column, uint8_t byte, uint64_t reg) {
    const uint8_t raw = column_byte(layout, column, reg);
    return byte == raw || byte == clamped(column, raw);
}

} // namespace

// ---------------------------------------------------------------------------
// Choosing the layout

void choose_layout(uint8_t ex_family, uint8_t ex_model) {
    layout_state = LayoutState{};
    for (const ModelRange& range : certain_models) {
        if (range.family == ex_family && in(ex_model, range.first, range.last)) {
            layout_state = {&layouts[range.layout], true};
            return;
        }
    }
    for (const FamilyLayout& family : family_layouts)
        if (family.family == ex_family) layout_state = {&layouts[family.layout], family.certain};
}

void read_board() {
    constexpr uint32_t function3 = 0x18 << 3 | 3, function4 = 0x18 << 3 | 4; // bus 0, device 18h
    const Layout& layout = current_layout();
    uint32_t value = 0;
    if (layout.pci_pvi) {
        // Without PviMode the voltages may be read with the wrong formula: shown, never written.
        if (!ReadPciConfigDwordEx(function3, 0xA0, &value)) {
            layout_state.certain = false;
        } else {
            layout_state.pvi = int8_t(value >> 8 & 1);
            if (layout_state.pvi) layout_state.layout = &layouts[LAYOUT_FAMILY10H_PVI];
        }
    }
    if (layout.boost_count.width != 0 && ReadPciConfigDwordEx(function4, 0x15C, &value)) {
        layout_state.boost_known = true;
        layout_state.boost_count = uint8_t((value & 3) != 0 ? layout.boost_count.get(value) : 0);
    }
    if (layout.pci_pll && ReadPciConfigDwordEx(function3, 0xD4, &value)) {
        layout_state.pll_known = true;
        layout_state.main_pll = uint8_t(value & 0x3F);
    }
}

void refine_layout(const uint32_t* low, const uint32_t* high, uint32_t count) {
    const Layout& guess = current_layout();
    if (layout_state.certain || guess.freq != FreqKind::zen) return;
    // Does every enabled row lie between 0.6 and 1.55 V when read with this encoding?
    auto plausible = [&](const Layout& layout) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t reg = join(low[i], high[i]);
            if (!(reg >> 63)) continue;
            const Quantity q = voltage_of(layout, reg);
            if (q.state != Quantity::value || q.amount < 60000 || q.amount > 155000) return false;
        }
        return true;
    };
    const bool svi2 = plausible(layouts[LAYOUT_ZEN_SVI2]), svi3 = plausible(layouts[LAYOUT_ZEN_SVI3]);
    layout_state.layout = &layouts[svi3 && !svi2 ? LAYOUT_ZEN_SVI3 : LAYOUT_ZEN_SVI2];
}

// ---------------------------------------------------------------------------
// Quantities

Quantity frequency_of(const Layout& layout, uint64_t reg) {
    const uint32_t fid = layout.fid.get(reg), did = layout.did.get(reg);
    switch (layout.freq) {
    case FreqKind::fid_did:
        if (did > layout.did_max) return {Quantity::unknown, 0};
        return {Quantity::value, rounded(10000 * int64_t(fid + layout.fid_base), int64_t{1} << did)};
    case FreqKind::fam12h:
        if (did > layout.did_max) return {Quantity::unknown, 0};
        return {Quantity::value, rounded(20000 * int64_t(fid + 16), fam12h_half_divisors[did])};
    case FreqKind::zen:
        if (did == 0) return {Quantity::off, 0};
        if (!valid_dfs(did) || fid < 0x10) return {Quantity::unknown, 0};
        return {Quantity::value, rounded(20000 * int64_t(fid), did)};
    case FreqKind::zen5:
        if (fid == 0) return {Quantity::off, 0};
        return {Quantity::value, 500 * int64_t(fid)};
    case FreqKind::fam14h:
        if (!layout_state.pll_known) return {Quantity::unknown, 0};
        return {Quantity::value,
                rounded(40000 * int64_t(layout_state.main_pll + 16), divisor_quarters(layout, reg))};
    case FreqKind::none: break;
    }
    return {Quantity::unknown, 0};
}

Quantity voltage_of(const Layout& layout, uint64_t reg) {
    return volts(layout.volt, vid_of(layout, reg));
}

Quantity nb_voltage_of(const Layout& layout, uint64_t reg) {
    if (layout.nb_vid.width == 0) return {Quantity::unknown, 0};
    return volts(layout.volt, layout.nb_vid.get(reg));
}

Quantity current_of(const Layout& layout, uint64_t reg) {
    const uint32_t div = layout.idd_div.get(reg);
    if (layout.idd_value.width == 0 || div > 2) return {Quantity::unknown, 0};
    return {Quantity::value, 100 * int64_t(layout.idd_value.get(reg)) / (div == 0 ? 1 : div == 1 ? 10 : 100)};
}

uint32_t divisor_quarters(const Layout& layout, uint64_t reg) {
    if (layout.freq != FreqKind::fam14h) return 0;
    return 4 * layout.fid.get(reg) + layout.did.get(reg) + 4;
}

uint64_t frequency_mask(const Layout& layout) {
    return layout.fid.mask() | layout.did.mask();
}

// ---------------------------------------------------------------------------
// Row bytes

PstateRow decode_row(const Layout& layout, uint64_t reg) {
    PstateRow row{};
    row.state = uint8_t(reg >> 63);
    for (int i = 0; i < 3; ++i) row_byte(row, i) = column_byte(layout, columns_of(layout, i), reg);
    return row;
}

void clamp_to_sliders(const Layout& layout, PstateRow& row) {
    for (int i = 0; i < 3; ++i) row_byte(row, i) = clamped(columns_of(layout, i), row_byte(row, i));
}

PstateRow shown_row(const Layout& layout, uint64_t reg) {
    PstateRow row = decode_row(layout, reg);
    clamp_to_sliders(layout, row);
    return row;
}

bool encode_row(const Layout& layout, const PstateRow& row, uint64_t& reg) {
    const PstateRow raw = decode_row(layout, reg), shown = shown_row(layout, reg);
    uint64_t out = reg;
    for (int i = 0; i < 3; ++i) {
        const Column column = columns_of(layout, i);
        PstateRow r = row, a = raw, b = shown;
        const uint8_t byte = row_byte(r, i);
        // A byte that still shows what the register holds keeps the field's bits exactly.
        if (!editable(column) || byte == row_byte(a, i) || byte == row_byte(b, i)) continue;
        if (!encode_column(layout, column, byte, out)) return false;
    }
    reg = (out & ~(uint64_t{1} << 63)) | uint64_t{row.state & 1u} << 63;
    return true;
}

uint64_t column_bits(const Layout& layout) {
    uint64_t bits = uint64_t{1} << 63;
    for (int i = 0; i < 3; ++i) bits |= column_mask(layout, columns_of(layout, i));
    return bits;
}

bool fields_shown(const Layout& layout, uint64_t reg, uint64_t now) {
    for (int i = 0; i < 3; ++i) {
        const Column column = columns_of(layout, i);
        if (!editable(column) || ((reg ^ now) & column_mask(layout, column)) == 0) continue;
        const uint8_t byte = column_byte(layout, column, reg);
        const Scale s = scale_of(column);
        if (byte < s.first || byte > s.hi) return false;
    }
    return true;
}

bool row_in_range(const Layout& layout, uint64_t reg, const PstateRow& row) {
    if (row.state > 3) return false;
    for (int i = 0; i < 3; ++i) {
        const Column column = columns_of(layout, i);
        PstateRow r = row;
        const uint8_t byte = row_byte(r, i);
        const Scale s = scale_of(column);
        if (editable(column) && !shows(layout, column, byte, reg) && (byte < s.first || byte > s.hi))
            return false;
    }
    return true;
}

bool convert_older_row(const Layout& layout, uint64_t reg, PstateRow& row) {
    const Column older = layout.older_vcore;
    if (shows(layout, older, row.vcore, reg)) {
        // Unedited: the register's own bits, whatever steps they fall on.
        row.vcore = column_byte(layout, layout.vcore, reg);
        return true;
    }
    // A byte that is unedited only when read in this layout's steps belongs to a file of the new
    // meaning under the old code: which one was meant cannot be told.
    const Scale s = scale_of(older);
    if (shows(layout, layout.vcore, row.vcore, reg) || row.vcore < s.first || row.vcore > s.hi) return false;
    const uint8_t byte = fine_byte(layout.vcore, {Quantity::value, s.offset + s.step * row.vcore});
    if (byte < 2) return false;
    row.vcore = byte;
    return true;
}

bool holds_exactly(const Layout& layout, uint64_t reg, const PstateRow& row) {
    PstateRow raw = decode_row(layout, reg), r = row;
    if (raw.state != (row.state & 1)) return false;
    for (int i = 0; i < 3; ++i)
        if (editable(columns_of(layout, i)) && row_byte(raw, i) != row_byte(r, i)) return false;
    return true;
}

} // namespace app
