// The widget table: placement of templates, rows and groups, refusals, references.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "tests/test_support.h"
#include "toolkit/widgets.h"

namespace {

using tk::Template;

// A template with a program and a rectangle; every other field 0.
Template place(uint32_t program, int16_t x, int16_t y, int16_t width, uint16_t height, uint32_t data = 0) {
    return {program, data, x, y, width, height, 0, 0, 0, 0, 0, 0, 0};
}

uint8_t values[16];
void action(int32_t) {}
const tk::Binding bindings[] = {{}, {values, nullptr}, {nullptr, nullptr}, {nullptr, action}};

// Template sets are filled by each test; set 3 stays missing.
Template storage[5][12];
const Template* sets[5] = {storage[0], storage[1], storage[2], nullptr, storage[4]};

class Widgets : public ::testing::Test {
  protected:
    test::Canvas canvas{544, 400};
    void SetUp() override {
        tk::reset_widgets();
        for (auto& set : storage) std::fill(std::begin(set), std::end(set), Template{});
        tk::set_resources({nullptr, 0, bindings, 4, sets, 5});
    }
    // Puts the templates into set s; the terminator follows them.
    template <size_t N> void define(int s, const std::array<Template, N>& templates) {
        std::copy(templates.begin(), templates.end(), storage[s]);
        storage[s][N] = {};
    }
};

TEST_F(Widgets, PlacementRulesFollowTheFramebufferEdges) {
    struct Case {
        const char* what;
        int16_t x, y, width;
        int32_t x_offset, y_offset;
        uint16_t want_x, want_y, want_width;
    };
    const Case cases[] = {
        {"plain position plus offsets", 8, 4, 30, 2, 68, 10, 72, 30},
        {"x 0 width -1 is the whole width", 0, 0, -1, 0, 0, 0, 0, 544},
        {"x 8 width -9 ends 8 before the edge", 8, 0, -9, 0, 0, 8, 0, 528},
        {"width -1 counts from the offset x", 0, 0, -1, 100, 0, 100, 0, 444},
        {"x -1 is one left of the right edge, then offset", -1, 0, 5, 3, 0, 546, 0, 5},
        {"negative x and negative width", -100, 0, -1, 0, 0, 444, 0, 100},
        {"y -2 is two above the bottom edge, then offset", 0, -2, 5, 0, 10, 0, 408, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        define(0, std::array{place(4, c.x, c.y, c.width, 7)});
        ASSERT_EQ(tk::add_template_set(0, c.y_offset, c.x_offset, 0), 4);
        EXPECT_EQ(tk::wx(0), c.want_x);
        EXPECT_EQ(tk::wy(0), c.want_y);
        EXPECT_EQ(tk::wwidth(0), c.want_width);
        EXPECT_EQ(tk::wheight(0), 7);
    }
}

TEST_F(Widgets, YMinusOneStacksWithinOneCall) {
    define(0, std::array{place(4, 0, 4, 1, 20), place(4, 0, -1, 1, 10), place(4, 0, -1, 1, 5)});
    define(1, std::array{place(4, 0, -1, 1, 9), place(4, 0, -1, 1, 3)});
    ASSERT_EQ(tk::add_template_set(0, 100, 0, 0), 12);
    EXPECT_EQ(tk::wy(0), 104);
    EXPECT_EQ(tk::wy(4), 124);
    EXPECT_EQ(tk::wy(8), 134);
    // A leading y of -1 has no previous widget in its call: it starts at the y offset.
    ASSERT_EQ(tk::add_template_set(0, 50, 0, 1), 20);
    EXPECT_EQ(tk::wy(12), 50);
    EXPECT_EQ(tk::wy(16), 59);
}

TEST_F(Widgets, RowShiftsDataAndRowAndCopiesEveryField) {
    Template first = {8, 0, 1, 2, 3, 4, 5, 1, tk::KIND_SLIDER, 6, tk::FLAG_ENTER, 'k', 0};
    Template second = place(12, 0, 0, 1, 1, tk::make_ref(1, 2));
    Template wrapping = place(16, 0, 0, 1, 1, tk::make_ref(1, 0xFFFC));
    second.row = 255;
    define(2, std::array{first, second, wrapping});
    ASSERT_EQ(tk::add_template_set(3, 0, 0, 2), 12);
    EXPECT_EQ(tk::wprogram(0), 8u);
    EXPECT_EQ(tk::wdata(0), 12u) << "a template data of 0 still gets the row offset";
    EXPECT_EQ(tk::wrow(0), 4);
    EXPECT_EQ(tk::wpos(0), 5);
    EXPECT_EQ(tk::wkind(0), tk::KIND_SLIDER);
    EXPECT_EQ(tk::wcolour(0), 6) << "colour and flags sit in different orders in template and slot";
    EXPECT_EQ(tk::wflags(0), tk::FLAG_ENTER);
    EXPECT_EQ(tk::whotkey(0), 'k');
    EXPECT_EQ(tk::wgroup(0), 2);
    EXPECT_EQ(tk::bound_address(tk::wdata(4)), &values[14]);
    EXPECT_EQ(tk::wrow(4), 2) << "row is kept to 8 bits";
    EXPECT_EQ(tk::wdata(8) >> 16, 1u) << "the row offset never carries into another binding";
}

TEST_F(Widgets, OneSetAddedForSeveralRowsIsOneGroup) {
    define(4, std::array{place(4, 8, 8, 88, 24)});
    for (int row = 3; row <= 7; ++row) tk::add_template_set(row, 68 + 36 * row, 0, 4);
    ASSERT_EQ(tk::widgets.used_length, 20u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tk::wrow(4 * i), 3 + i);
        EXPECT_EQ(tk::wgroup(4 * i), 4);
        EXPECT_EQ(tk::wy(4 * i), 8 + 68 + 36 * (3 + i));
    }
}

TEST_F(Widgets, RefusedAdditionsWriteNothing) {
    std::array<Template, 10> ten;
    ten.fill(place(4, 0, 0, 1, 1));
    define(0, ten);
    std::array<Template, 8> eight;
    eight.fill(place(8, 0, 0, 1, 1));
    define(1, eight);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(tk::add_template_set(i, 0, 0, 0), 40 * (i + 1));
    for (int32_t set : {-1, 3, 5, 1000})
        EXPECT_EQ(tk::add_template_set(0, 0, 0, set), -1) << "no set " << set;
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 0), -1) << "130 widgets";
    EXPECT_EQ(tk::widgets.used_length, 480u);
    EXPECT_EQ(tk::wprogram(480), 0u);
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 1), 512) << "exactly 128 widgets";
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 2), 512) << "a set starting with program 0 adds nothing";
    define(2, std::array{place(4, 0, 0, 1, 1)});
    EXPECT_EQ(tk::add_template_set(0, 0, 0, 2), -1);
    EXPECT_EQ(tk::widgets.used_length, 512u);
}

TEST_F(Widgets, ReferencesResolveOnlyThroughExistingBindings) {
    struct Case {
        uint32_t ref;
        uint8_t* address;
        tk::Action action;
    };
    const Case cases[] = {
        {tk::make_ref(0, 4), nullptr, nullptr}, {tk::make_ref(1, 3), &values[3], nullptr},
        {tk::make_ref(2, 0), nullptr, nullptr}, {tk::make_ref(3, 8), nullptr, action},
        {tk::make_ref(4, 0), nullptr, nullptr}, {tk::make_ref(0xFFFF, 0), nullptr, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tk::bound_address(c.ref), c.address) << std::hex << c.ref;
        EXPECT_EQ(tk::bound_action(c.ref), c.action) << std::hex << c.ref;
    }
}

} // namespace
