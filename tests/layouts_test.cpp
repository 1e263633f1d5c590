// The layout table: what each layout reads out of a register, which layout a
// processor gets, and the encoding of edited row bytes, round trip and bit-exact keep.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <tuple>
#include <utility>

#include "app/layouts.h"

namespace {

using app::Column;
using app::join;
using app::Layout;
using app::layouts;
using app::PstateRow;
using app::Quantity;
using Q = Quantity::State;

constexpr auto L = [](app::LayoutId id) -> const Layout& { return layouts[id]; };

// Catches: a wrong bit position, scale, offset or "off" threshold in any layout's formulas.
TEST(Layouts, WorkedExamplesDecodeExactly) {
    constexpr Quantity off{Q::off, 0}, unknown{Q::unknown, 0};
    auto v = [](int64_t amount) { return Quantity{Q::value, amount}; };
    using enum app::LayoutId;
    // The layout, the register, then what it shows in 1/100 MHz, 1/100000 V and 1/100 A.
    const std::tuple<app::LayoutId, uint64_t, Quantity, Quantity, Quantity> cases[] = {
        // clang-format off
        {LAYOUT_ZEN_SVI2,       0x8000000059080890, v(360000), v(135000), v(1000)},
        {LAYOUT_ZEN_SVI2,       0x800000004C960C60, v(160000), v(100000), v(500)},
        {LAYOUT_ZEN_SVI3,       0x800000005E2FC898, v(380000), v(120000), v(1200)},
        {LAYOUT_ZEN_SVI3,       0x800000015E014880, v(320000), v(155000), v(1200)},
        {LAYOUT_ZEN5,           0x8000000065AFC352, v(425000), v(120000), v(1500)},
        {LAYOUT_ZEN_SVI2,       0x0000000000000000, off,       v(155000), v(0)},
        {LAYOUT_ZEN_SVI2,       0x00000000003E0C85, v(221667), off,       v(0)},    // Vid F8h
        {LAYOUT_ZEN_SVI2,       0x0000000000000705, unknown,   v(155000), v(0)},    // DfsId 7
        {LAYOUT_ZEN_SVI2,       0x0000000000001B90, unknown,   v(155000), v(0)},    // DfsId 1Bh: odd
        {LAYOUT_ZEN_SVI3,       0x00000000C0000890, v(360000), off,       unknown}, // IddDiv 3
        {LAYOUT_ZEN5,           0x0000000000000000, off,       off,       v(0)},
        {LAYOUT_FAMILY10H,      0x800000583C00140E, v(300000), v(142500), v(8800)},
        {LAYOUT_FAMILY10H,      0x0000000000F8F800, v(160000), off,       v(0)},    // Vid 7Ch
        {LAYOUT_FAMILY10H,      0x0000000000000150, unknown,   v(155000), v(0)},    // Did 5
        {LAYOUT_FAMILY11H,      0x000000000000004E, v(110000), v(155000), v(0)},
        {LAYOUT_FAMILY12H,      0x00000000000000F1, v(206667), v(155000), v(0)},
        {LAYOUT_FAMILY15H_SVI2, 0x8000005200002A18, v(400000), v(141875), v(8200)},
        {LAYOUT_FAMILY15H_SVI1, 0x0000000000002A18, v(400000), v(128750), v(0)},
        {LAYOUT_FAMILY15H_SVI2, 0x000000000001F000, v(160000), off,       v(0)},
        {LAYOUT_UNKNOWN,        0x8000000059080890, unknown,   unknown,   unknown},
        {LAYOUT_FAMILY10H_PVI,  0x0000000000002000, v(160000), v(115000), v(0)},    // Vid 10h: 25 mV steps
        {LAYOUT_FAMILY10H_PVI,  0x0000000000003E00, v(160000), v(77500),  v(0)},
        {LAYOUT_FAMILY10H_PVI,  0x0000000000004000, v(160000), v(76250),  v(0)},    // Vid 20h: 12.5 mV steps
        {LAYOUT_FAMILY10H_PVI,  0x000000000000BA00, v(160000), off,       v(0)},    // Vid 5Dh: 0 V
        // clang-format on
    };
    for (const auto& [layout, reg, mhz, volts, amps] : cases) {
        SCOPED_TRACE(testing::Message() << L(layout).name << " " << std::hex << reg);
        for (auto [got, want] : {std::pair{app::frequency_of(L(layout), reg), mhz},
                                 std::pair{app::voltage_of(L(layout), reg), volts},
                                 std::pair{app::current_of(L(layout), reg), amps}})
            EXPECT_EQ(std::pair(got.state, want.state == Q::value ? got.amount : 0),
                      std::pair(want.state, want.amount));
    }
    EXPECT_EQ(std::tuple(app::nb_voltage_of(L(LAYOUT_FAMILY10H), 0x800000583C00140E).amount,
                         app::divisor_quarters(L(LAYOUT_FAMILY14H), 0x0000000000000032),
                         app::nb_voltage_of(L(LAYOUT_FAMILY10H_PVI), 0x0000000020000000).amount),
              std::tuple(117500, 4u * 3 + 2 + 4, 115000));
    // Family 14h: MHz only with the main PLL, 100 * (16 + 16) / 3.50.
    app::layout_state = {};
    EXPECT_EQ(app::frequency_of(L(app::LAYOUT_FAMILY14H), 0x0000000000000022).state, Q::unknown);
    app::layout_state.pll_known = true, app::layout_state.main_pll = 16;
    EXPECT_EQ(app::frequency_of(L(app::LAYOUT_FAMILY14H), 0x0000000000000022).amount, 91429);
    app::layout_state = {};
}

// Catches: a model range off by one, a guess marked certain, an unknown family written.
TEST(Layouts, ChoiceByFamilyAndModel) {
    // Family, model, the layout chosen, whether it may be written.
    const std::tuple<uint8_t, uint8_t, const char*, bool> cases[] = {
        // clang-format off
        {0x10, 0x04, "family-10h", true}, {0x11, 0x03, "family-11h", true}, {0x12, 0x01, "family-12h", false},
        {0x14, 0x02, "family-14h", false}, {0x15, 0x01, "family-15h-svi1", true}, {0x15, 0x0F, "family-15h-svi1", true},
        {0x15, 0x10, "family-15h-svi2", true}, {0x15, 0x7F, "family-15h-svi2", true}, {0x15, 0x80, "family-15h-svi2", false},
        {0x16, 0x30, "family-15h-svi2", true}, {0x17, 0x01, "zen-svi2", true}, {0x17, 0x3F, "zen-svi2", true},
        {0x17, 0x40, "zen-svi2", false}, {0x17, 0x90, "zen-svi2", false}, {0x17, 0xA0, "zen-svi3", true},
        {0x17, 0xB0, "zen-svi2", false}, {0x19, 0x21, "zen-svi2", true}, {0x19, 0x10, "zen-svi2", false},
        {0x19, 0x44, "zen-svi2", false}, {0x19, 0x5F, "zen-svi2", true}, {0x19, 0x74, "zen-svi3", true},
        {0x19, 0x80, "zen-svi2", false}, {0x1A, 0x44, "zen5", true}, {0x1A, 0x80, "zen5", false},
        {0x0F, 0x04, "unknown", false}, {0x1B, 0x00, "unknown", false},
        // clang-format on
    };
    for (const auto& [family, model, layout, writable] : cases) {
        app::choose_layout(family, model);
        EXPECT_EQ(std::pair(std::string(app::current_layout().name), app::layout_writable()),
                  std::pair(std::string(layout), writable))
            << std::hex << int(family) << "/" << int(model);
    }
}

// Catches: an uncertain Zen decoded with the wrong voltage encoding, or the guess made writable.
TEST(Layouts, UncertainZenTakesThePlausibleVoltageEncoding) {
    const std::pair<std::array<uint64_t, 3>, const char*> cases[] = {
        {{0x8000000059080890, 0x800000004C960C60, 0}, "zen-svi2"}, // SVI2 fits, SVI3 does not
        {{0x800000005E2FC898, 0x800000000018C860, 0}, "zen-svi3"}, // 1.2 V and 0.74 V; SVI2 gives 0.36 V
        {{0x8000000000000890, 0, 0}, "zen-svi2"},                  // neither: SVI2
        {{0, 0, 0}, "zen-svi2"},                                   // nothing enabled: both fit
    };
    for (const auto& [rows, layout] : cases) {
        uint32_t low[3], high[3];
        for (int i = 0; i < 3; ++i) low[i] = uint32_t(rows[i]), high[i] = uint32_t(rows[i] >> 32);
        app::choose_layout(0x19, 0x44);
        app::refine_layout(low, high, 3);
        EXPECT_EQ(std::pair(std::string(app::current_layout().name), app::layout_writable()),
                  std::pair(std::string(layout), false));
    }
}

// Catches, on every layout: an untouched column rewritten (the fields keep every bit, even
// reserved ones and values the sliders cannot show); on every writable layout: a slider byte that
// does not decode back to itself, an edit that moves another column, a refusal that changes the
// register, an off or other byte encoded, a byte of the slider's range refused (frequencies only
// where no fid/did pair gives them).
TEST(Layouts, EveryShownByteRoundTripsAndUntouchedFieldsKeepTheirBits) {
    const uint64_t seeds[] = {0x8000000059080890, 0x800000015E2FC898, 0x3FFFFFF0FFFFFFFF,
                              0x80000000AAAAAAAA, 0x8000005200002A18, 0x000000000000F0C3};
    // The last slider byte of each kind of column.
    // clang-format off
    const auto top = [](Column c) {
        return c == Column::legacy_multi ? 63 : c == Column::freq ? 241 : c == Column::svi2 ? 248
             : c == Column::svi3 ? 255 : c == Column::pvi ? 62 : 124;
    };
    // clang-format on
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        for (uint64_t seed : seeds) {
            uint64_t reg = seed;
            EXPECT_TRUE(app::encode_row(layout, app::decode_row(layout, reg), reg) && reg == seed)
                << std::hex << seed;
        }
        for (int column = 0; column < 2 && layout.writable; ++column) {
            const Column kind = column == 0 ? layout.multi : layout.vcore;
            // The edited byte of the row, and the other column's.
            uint8_t PstateRow::*edited = column == 0 ? &PstateRow::multi : &PstateRow::vcore;
            uint8_t PstateRow::*other = column == 0 ? &PstateRow::vcore : &PstateRow::multi;
            const int first = kind == Column::legacy_multi ? 8 : kind == Column::legacy_vid ? 69 : 0;
            for (int byte = first; byte <= top(kind); ++byte) {
                SCOPED_TRACE(testing::Message() << column << " " << byte);
                uint64_t reg = 0x8000000059080890;
                const PstateRow before = app::decode_row(layout, reg);
                PstateRow row = before;
                row.*edited = uint8_t(byte);
                if (!app::encode_row(layout, row, reg)) {
                    EXPECT_EQ(reg, 0x8000000059080890u);
                    EXPECT_TRUE(byte < 2 || (column == 0 && layout.freq == app::FreqKind::fid_did));
                    continue;
                }
                const PstateRow back = app::decode_row(layout, reg);
                EXPECT_TRUE(byte >= 2 || byte == before.*edited);
                EXPECT_EQ(std::tuple(int(back.*edited), back.*other, back.nb),
                          std::tuple(byte, before.*other, before.nb));
            }
        }
    }
}

// Catches: the enable bit or the current mark written wrongly, the NB P-state byte leaking past
// bit 0, a Zen frequency that drops the register's divisor although it is exact, and voltages
// above 1.55 V reachable from a slider byte.
TEST(Layouts, EncodingDetails) {
    // The layout, the register before, the row encoded into it, the register after.
    const std::tuple<app::LayoutId, uint64_t, PstateRow, uint64_t> cases[] = {
        {app::LAYOUT_FAMILY10H, 0x0000123400000000, {1, 16, 124, 124}, 0x8000123400000000},
        {app::LAYOUT_FAMILY10H, 0x8000000000000000, {2, 16, 124, 124}, 0x0000000000000000},
        {app::LAYOUT_FAMILY10H, 0, {0, 15, 69, 95}, 14 | 1 << 6 | 55 << 9 | 29u << 25},
        {app::LAYOUT_FAMILY15H_SVI2, 0, {0, 16, 248, 0xFE}, 0},
        {app::LAYOUT_FAMILY15H_SVI2, 0, {0, 16, 248, 1}, 1 << 22},
        {app::LAYOUT_FAMILY15H_SVI2, 0, {0, 16, 247, 0}, 1 << 9}, // one 6.25 mV step: VID bit 9
        // 1600 MHz with DfsId 0Ch; 1625 MHz is not exact with it: DfsId 08h.
        {app::LAYOUT_ZEN_SVI2, 0x800000004C960C60, {1, 1600 / 25 - 14, 160, 0}, 0x800000004C960C60},
        {app::LAYOUT_ZEN_SVI2, 0x800000004C960C60, {1, 1800 / 25 - 14, 160, 0}, 0x800000004C960C6C},
        {app::LAYOUT_ZEN_SVI2, 0x800000004C960C60, {1, 1625 / 25 - 14, 160, 0}, 0x800000004C960841},
        {app::LAYOUT_ZEN5, 0x8000000065AFC352, {1, 3000 / 25 - 14, 185, 0}, 0x8000000065AFC258},
        {app::LAYOUT_ZEN_SVI3, 0x800000005E2FC898, {1, 138, 255, 0}, 0x800000015E014898}, // 1.55 V: Vid 105h
    };
    for (const auto& [layout, before, row, after] : cases) {
        SCOPED_TRACE(testing::Message() << L(layout).name << " " << std::hex << before);
        uint64_t reg = before;
        ASSERT_TRUE(app::encode_row(L(layout), row, reg));
        EXPECT_EQ(reg, after) << std::hex << reg;
    }
    // No byte of any layout's voltage column encodes more than 1.55 V.
    for (const Layout& layout : layouts)
        for (int byte = 0; byte < 256; ++byte) {
            uint64_t reg = 0x8000000000000000;
            const PstateRow row = app::decode_row(layout, reg);
            if (row.vcore == byte || !app::encode_row(layout, {1, row.multi, uint8_t(byte), row.nb}, reg))
                continue;
            const Quantity v = app::voltage_of(layout, reg);
            EXPECT_TRUE(v.state != Q::value || v.amount <= 155000) << layout.name << " byte " << byte;
        }
}

} // namespace
