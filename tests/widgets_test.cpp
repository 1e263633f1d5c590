// The widget table: placement of templates, rows and groups, refusals, references.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <tuple>

#include "tests/test_support.h"
#include "toolkit/widgets.h"

namespace {

using tk::Template;

// A template with a program and a rectangle; every other field 0.
Template place(uint32_t program, int16_t x, int16_t y, int16_t width, uint16_t height) {
    return {program, 0, x, y, width, height, 0, 0, 0, 0, 0, 0, 0};
}

uint8_t values[16];
void action(int32_t) {}
const tk::Binding bindings[] = {{}, {values, nullptr}, {nullptr, nullptr}, {nullptr, action}};

// Template sets are filled by each test; set 3 stays missing, and the entry past the five sets
// the table is given must never be read.
Template storage[5][12];
const Template* sets[6] = {storage[0], storage[1], storage[2], nullptr, storage[4], storage[0]};

class Widgets : public ::testing::Test {
  protected:
    test::Canvas canvas{544, 400};
    void SetUp() override {
        for (auto& set : storage) std::fill(std::begin(set), std::end(set), Template{});
        tk::reset_widgets(), tk::set_resources({nullptr, 0, bindings, 4, sets, 5});
    }
    // Puts the templates at the start of set s; the set was empty, so the terminator follows them.
    void define(int s, std::initializer_list<Template> t) { std::copy(t.begin(), t.end(), storage[s]); }
};

// Catches: negative x, y and width not counted from the framebuffer's edges, the offsets applied
// before the edge rule or not at all, a width of -1 one short of the edge, and a y of -1 not
// stacking below the previous widget of the same call (or stacking across calls).
TEST_F(Widgets, PlacementRulesFollowTheFramebufferEdges) {
    // Template x, y, width; x and y offset; placed x, y, width.
    for (auto [what, x, y, width, x_offset, y_offset, want] :
         {std::tuple{"x 0 width -1 is the whole width", 0, 0, -1, 0, 0, std::tuple{0, 0, 544}},
          {"x 8 width -9 ends 8 before the edge", 8, 0, -9, 0, 0, {8, 0, 528}},
          {"width -1 counts from the offset x", 0, 0, -1, 100, 0, {100, 0, 444}},
          {"x -1 is one left of the right edge, then offset", -1, 0, 5, 3, 0, {546, 0, 5}},
          {"y -2 is two above the bottom edge, then offset", 0, -2, 5, 0, 10, {0, 408, 5}}}) {
        SCOPED_TRACE(what);
        SetUp();
        define(0, {place(4, int16_t(x), int16_t(y), int16_t(width), 7)});
        ASSERT_EQ(tk::add_template_set(0, y_offset, x_offset, 0), 4);
        EXPECT_EQ(std::tuple(tk::wx(0), tk::wy(0), tk::wwidth(0), tk::wheight(0)),
                  std::tuple_cat(want, std::tuple{7}));
    }
    SetUp();
    define(0, {place(4, 0, 4, 1, 20), place(4, 0, -1, 1, 10), place(4, 0, -1, 1, 5)});
    define(1, {place(4, 0, -1, 1, 9), place(4, 0, -1, 1, 3)});
    ASSERT_EQ(tk::add_template_set(0, 100, 0, 0), 12);
    ASSERT_EQ(tk::add_template_set(0, 50, 0, 1), 20);
    // A leading y of -1 has no previous widget in its call: it starts at the y offset.
    for (auto [id, y] : {std::pair{0, 104}, {4, 124}, {8, 134}, {12, 50}, {16, 59}})
        EXPECT_EQ(tk::wy(id), y) << id;
}

// Catches: the row offset missing from a template data of 0, carried into another binding, or the
// row kept wider than 8 bits; the group not taken from the set; template fields put into the wrong
// slot fields (colour and flags sit in different orders in template and slot).
TEST_F(Widgets, OneSetAddedForSeveralRowsShiftsRowAndDataAndIsOneGroup) {
    define(4, {{8, 0, 1, 2, 3, 4, 5, 1, tk::KIND_SLIDER, 6, tk::FLAG_ENTER, 'k', 0},
               {12, tk::make_ref(1, 0xFFFC), 0, 0, 1, 1, 0, 255, 0, 0, 0, 0, 0}});
    for (int row = 3; row <= 7; ++row) ASSERT_EQ(tk::add_template_set(row, 36 * row, 0, 4), 8 * (row - 2));
    for (int row = 3, id = 0; row <= 7; ++row, id += 8) {
        EXPECT_EQ(std::tuple(tk::wrow(id), tk::wdata(id), tk::wy(id), tk::wgroup(id), tk::wrow(id + 4),
                             tk::wdata(id + 4) >> 16, tk::wgroup(id + 4)),
                  std::tuple(1 + row, 4u * row, 2 + 36 * row, 4, row - 1, 1u, 4));
    }
    EXPECT_EQ(tk::wdata(4), tk::make_ref(1, 8)) << "0xFFFC + 12 wraps within binding 1";
    EXPECT_EQ(std::tuple(tk::wprogram(0), tk::wx(0), tk::wwidth(0), tk::wheight(0), tk::wpos(0), tk::wkind(0),
                         tk::wcolour(0), tk::wflags(0), tk::whotkey(0)),
              std::tuple(8u, 1, 3, 4, 5, tk::KIND_SLIDER, 6, tk::FLAG_ENTER, 'k'));
}

// Catches: sets that do not exist (or lie past the count given) read, a table filled past 128
// widgets or partly filled by a set too large for it, and a set starting with program 0 adding any.
TEST_F(Widgets, RefusedAdditionsWriteNothing) {
    std::fill_n(storage[0], 10, place(4, 0, 0, 1, 1));
    std::fill_n(storage[1], 8, place(8, 0, 0, 1, 1));
    for (int32_t set : {-1, 3, 5, 1000})
        EXPECT_EQ(tk::add_template_set(0, 0, 0, set), -1) << "no set " << set;
    for (int i = 0; i < 12; ++i) ASSERT_EQ(tk::add_template_set(i, 0, 0, 0), 40 * (i + 1));
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 0), -1) << "130 widgets";
    EXPECT_EQ(tk::wprogram(480), 0u);
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 1), 512) << "exactly 128 widgets";
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 2), 512) << "a set starting with program 0 adds nothing";
    define(2, {place(4, 0, 0, 1, 1)});
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 2), -1);
    EXPECT_EQ(tk::widgets.used_length, 512u);
}

// Catches: the null binding, a binding past the table or one without a value taken as an address,
// and the byte offset or action lost.
TEST_F(Widgets, ReferencesResolveOnlyThroughExistingBindings) {
    for (auto [ref, address, action_routine] :
         // clang-format off
         {std::tuple<uint32_t, uint8_t*, tk::Action>{tk::make_ref(0, 4), nullptr, nullptr},
          {tk::make_ref(1, 3), &values[3], nullptr}, {tk::make_ref(2, 0), nullptr, nullptr},
          {tk::make_ref(3, 8), nullptr, action},     {tk::make_ref(4, 0), nullptr, nullptr},
          {tk::make_ref(0xFFFF, 0), nullptr, nullptr}}) {
        // clang-format on
        EXPECT_EQ(std::pair(tk::bound_address(ref), tk::bound_action(ref)),
                  std::pair(address, action_routine))
            << std::hex << ref;
    }
}

} // namespace
