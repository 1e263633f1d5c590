// Applying settings, stepping and refresh against the simulated processor.
#include <map>
#include <string>
#include <tuple>

#include "app/cli.h"
#include "app/layouts.h"
#include "tests/app_fixture.h"
#include "toolkit/program.h"

namespace {

using app::pstate;
using Said = std::vector<std::pair<std::string, std::string>>;

class Actions : public test::AppTest {
  protected:
    // Every register of every simulated processor (HWCR in the place of the unused C0010070).
    std::map<std::pair<uint32_t, uint32_t>, uint64_t> registers() {
        std::map<std::pair<uint32_t, uint32_t>, uint64_t> all;
        for (uint32_t p = 0; p < platform::sim_processor_count(); ++p)
            for (uint32_t r = 0xC0010062; r <= 0xC0010071; ++r)
                if (uint64_t v; platform::sim_register(p, r == 0xC0010070 ? 0xC0010015 : r, &v))
                    all[{p, r}] = v;
        return all;
    }
    // Every box shown so far, as (text, caption).
    Said said() const {
        Said all;
        for (const auto& box : boxes()) all.emplace_back(box.text, box.caption);
        return all;
    }
};

// Catches: a rejected register warned of more or less than once per apply, the table not re-read
// after it (the read-back value shown).
TEST_F(Actions, ARejectedRegisterGivesOneWarningPerApply) {
    start_quietly("fam15h,reject=3");
    for (size_t apply = 1; apply <= 2; ++apply) {
        pstate.table.rows[3].multi = 30;
        pstate.table.rows[4].multi = 25;
        app::apply_settings(-1); // the table shows what was read back: row 3 stays at 3.4 GHz
        EXPECT_EQ(std::tuple(said(), pstate.table.rows[3].multi, pstate.table.rows[4].multi),
                  std::tuple(Said(apply, {"not all settings accepted", "warning"}), 34, 25));
    }
}

// Catches: a voltage the slider shows clamped written back, or written beside a new value; a refresh
// that keeps unapplied edits; rows beyond the readable ones written or reported.
TEST_F(Actions, AVoltageTheSliderCannotShowIsNeitherRewrittenNorWrittenBeside) {
    start_quietly("fam10h"); // 5 readable definition registers
    // Row 1 holds core VID 127, which the slider shows clamped as 1.5500 V.
    const uint64_t def1 = reg(0, 0xC0010065) | uint64_t{0x7F} << 9;
    platform::sim_wrmsr(0xC0010065, uint32_t(def1), uint32_t(def1 >> 32), 0xF);
    pstate.table.rows[0].multi = 9; // an edit that the refresh drops
    app::refresh(-1);
    ASSERT_EQ(std::pair(pstate.table.rows[0].multi, pstate.table.rows[1].vcore),
              std::pair(uint8_t{30}, uint8_t{124}));
    const auto before = registers();
    ASSERT_TRUE(before.contains({0, 0xC001006A}));
    pstate.table.rows[6].multi = 40; // beyond the rows read: neither written nor reported
    pstate.table.rows[6].state = 1;
    app::apply_settings(-1); // otherwise untouched: nothing changes
    EXPECT_EQ(std::pair(registers(), said()), std::pair(before, Said{}));
    pstate.table.rows[1].multi = 20; // a new multiplier beside the voltage nobody saw
    app::apply_settings(-1);
    EXPECT_EQ(std::pair(registers(), said()),
              std::pair(before, Said{{"value out of range: nothing written", "warning"}}));

    pstate.table.rows[1].vcore = 100; // with a voltage chosen on the slider it goes through
    pstate.table.rows[1].multi = 20;
    app::apply_settings(-1);
    EXPECT_EQ(reg(0, 0xC0010065) >> 9 & 0x7F, 24u);
}

TEST_F(Actions, StepsStayBetweenSoftwareP0AndTheLastRowRead) {
    start_quietly("fam15h"); // boosted rows 0 and 1, row 2 current, as BoostOffsetAndTheReadCount checks
    app::step_up(-1);        // at software P0: no write at all, so no refusal to tell either
    EXPECT_EQ(std::tuple(pstate.current_index, reg(1, 0xC0010062), boxes().size()),
              std::tuple(uint8_t{2}, uint64_t{0}, size_t{0}));
    for (int step = 1; step <= 7; ++step) app::step_down(-1);
    // Also onto the disabled row: manual steps do not look.
    EXPECT_EQ(std::pair(pstate.current_index, pstate.table.rows[7].state & 2), std::pair(uint8_t{7}, 2));
    for (uint32_t p = 0; p < 4; ++p) EXPECT_EQ(reg(p, 0xC0010062), 5u);
    app::step_up(-1);
    EXPECT_EQ(std::pair(pstate.current_index, reg(3, 0xC0010063) & 7), std::pair(uint8_t{6}, uint64_t{4}));
    pstate.auto_mode = 1; // automatic mode: up and down do nothing
    app::step_up(-1);
    app::step_down(-1);
    pstate.auto_mode = 0;
    EXPECT_EQ(std::pair(pstate.current_index, reg(0, 0xC0010062)), std::pair(uint8_t{6}, uint64_t{4}));
}

TEST_F(Actions, BoostOffsetAndTheReadCount) {
    struct {
        const char* sim;
        uint8_t count, offset, current;
    } cases[] = {
        {"fam15h", 8, 2, 2},           {"fam15h,boost=1,current=3", 8, 1, 3},
        {"fam10h", 5, 0, 0},           {"fam10h,pstates=3,current=2", 3, 0, 2},
        {"fam15h,current=0", 8, 2, 2}, // started in a boosted state: the northbridge counts them
        {"fam15h,current=1", 8, 2, 2}, {"fam15h,boostsrc=0", 8, 0, 0}}; // boost switched off: no boosted rows
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim);
        start_quietly(c.sim);
        EXPECT_EQ(std::tie(pstate.pstate_count, pstate.pstate_offset, pstate.current_index),
                  std::tie(c.count, c.offset, c.current));
        pstate.table.reg_low[7] = 0x12345678; // a failed read stops there: later rows keep their words
        app::read_pstates();
        EXPECT_EQ(pstate.table.reg_low[7] == 0x12345678u, c.count < 8);
    }
}

// Catches: P0's frequency changed on Zen without the time-stamp counter locked to P0 on every
// processor first, and the counter locked for changes that leave P0's frequency alone.
TEST_F(Actions, AZenP0FrequencyChangeLocksTheTimeStampCounterFirst) {
    start_quietly("fam19h");
    const uint64_t lock = uint64_t{1} << 21;
    pstate.table.rows[1].vcore -= 1; // P1 only
    app::apply_settings(-1);
    for (uint32_t p = 0; p < 16; ++p) EXPECT_EQ(reg(p, 0xC0010015) & lock, 0u) << p;
    pstate.table.rows[0].multi -= 4; // P0: 100 MHz slower
    app::apply_settings(-1);
    EXPECT_TRUE(boxes().empty());
    const auto locked = std::pair(lock, uint64_t{0x8C}); // HWCR's lock, then P0's new Fid
    for (uint32_t p = 0; p < 16; ++p)
        EXPECT_EQ(std::pair(reg(p, 0xC0010015) & lock, reg(p, 0xC0010064) & 0xFF), locked) << p;
}

// Catches: a guessed or shown-only layout written, a value no register can hold written, some
// processors written where not all can be named; a processor that refuses a write left unsaid or
// unnamed, the walk going on past it, the processors already changed left so (HWCR, the control
// register), current_index moved although the control value was refused, the time-stamp counter
// lock reported as "nothing written" while HWCR stays set on some processors. Each refusal is said
// once, and nothing is written beyond what the processors before the refusal took.
TEST_F(Actions, NothingIsWrittenWhereAnyDoubtRemainsAndARefusedWriteStopsTheWalk) {
    const std::string tsc = "couldn't lock the time-stamp counter to P0: nothing written",
                      refused = "not all settings accepted: processor ";
    struct {
        const char* sim;
        // The row's multiplier byte: above 0 set to `multi`, below 0 lowered by -`multi`; both applied.
        // 0: the "down" button pressed instead.
        int row, multi;
        bool unreachable; // one processor more than can be named (and "down" pressed after the apply)
        std::string text; // of the one warning
        uint64_t changed; // bit p: processor p holds a new P0 afterwards
    } cases[] = {
        // clang-format off
        {"fam17h-m90", 1, 40, false, "unsupported p-state layout", 0},
        {"fam12h", 1, 40, false, "unsupported p-state layout", 0},
        {"fam14h", 1, 40, false, "unsupported p-state layout", 0},
        {"fam10h", 1, 200, false, "value out of range: nothing written", 0}, // loaded, not yet clamped
        {"fam10h", 1, 20, true, "cannot reach every processor: nothing written", 0},
        {"fam19h,refusehwcr=5", 0, -4, false, tsc, 0},
        {"fam19h,refusehwcr=0", 0, -4, false, tsc, 0},
        {"fam10h,refusedef=2", 0, -4, false, refused + "2 refused register C0010064", 0x3},
        {"fam15h,refusecontrol=3", 0, 0, false, refused + "3 refused register C0010062", 0},
        {"fam15h,refusecontrol=0", 0, 0, false, refused + "0 refused register C0010062", 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sim);
        start_quietly(c.sim);
        const auto before = registers();
        const uint8_t current = pstate.current_index;
        if (c.unreachable) app::startup.processor_count = hw_processor_count() + 1;
        uint8_t& multi = pstate.table.rows[c.row].multi;
        multi = uint8_t(c.multi > 0 ? c.multi : multi + c.multi);
        (c.multi != 0 ? app::apply_settings : app::step_down)(-1);
        if (c.unreachable) app::step_down(-1); // refused as well, and said again
        EXPECT_EQ(std::pair(said(), pstate.current_index),
                  std::pair(Said(c.unreachable ? 2 : 1, {c.text, "warning"}), current));
        auto now = registers();
        for (uint32_t p = 0; p < platform::sim_processor_count(); ++p) {
            const std::pair<uint32_t, uint32_t> p0{p, 0xC0010064};
            EXPECT_EQ(now[p0] != before.at(p0), (c.changed >> p & 1) != 0) << p;
            now[p0] = before.at(p0);
        }
        // The re-read shows the processors apart.
        EXPECT_EQ(std::tuple(now, pstate.differing_rows), std::tuple(before, c.changed ? 1 : 0));
    }
}

// Catches: processors holding other definitions than processor 0 left unsaid, or said on every
// refresh; the wrong processors or rows marked in the list; an apply that leaves them apart.
TEST_F(Actions, ProcessorsHoldingOtherDefinitionsAreMarkedUntilApplied) {
    for (const auto& [sim, json, text] : {std::tuple{"fam10h,differ=2", "[2]", "processors 2\n"},
                                          {"fam19h,differ=0", "[1, 2, 3, 4, 5, ", "processors 1 2 3 "}}) {
        SCOPED_TRACE(sim);
        start_quietly(sim);
        EXPECT_EQ(std::pair(said(), app::join(pstate.table.reg_low[1], pstate.table.reg_high[1])),
                  std::pair(Said{{app::differs_text, "warning"}}, reg(0, 0xC0010065)));
        testing::internal::CaptureStdout();
        app::print_table(true);
        app::print_table(false);
        const std::string listed = testing::internal::GetCapturedStdout();
        EXPECT_NE(listed.find(std::string("\"differs\": ") + json), std::string::npos) << listed;
        EXPECT_NE(listed.find(std::string("differs on ") + text), std::string::npos) << listed;
        app::refresh(-1);
        app::apply_settings(-1);
        EXPECT_EQ(std::tuple(boxes().size(), pstate.differing_rows), std::tuple(1u, 0));
        for (uint32_t p = 0; p < platform::sim_processor_count(); ++p)
            EXPECT_EQ(reg(p, 0xC0010065), reg(0, 0xC0010065));
    }
}

// Catches: a family-10h layout trusted although PviMode could not be read.
TEST_F(Actions, UnreadablePviModeMakesTheLayoutUncertain) {
    platform::sim_reset(); // no hardware access: every PCI read fails
    app::choose_layout(0x10, 0x04);
    ASSERT_TRUE(app::layout_writable());
    app::read_board();
    EXPECT_FALSE(app::layout_writable());
    EXPECT_STREQ(app::current_layout().name, "family-10h");
}

} // namespace
