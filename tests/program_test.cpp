// The drawing-program interpreter: faces and focus looks, every instruction, the
// slider and its synchronisation, and programs that break the rules. The exact
// geometry of frames, focus marks and the slider is held by the golden pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <tuple>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/assembler.h"
#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/input.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

// Values the test widgets are bound to.
uint8_t value[4], flag;
uint32_t word;
uint32_t lines[2] = {tk::make_ref(5), 0}; // the strings of rows 0 and 1: line0 and none
char line0[] = "ab c\nxyz", greeting[] = "hi";
int8_t samples[128];    // two frames of 64
uint8_t mask_bytes[16]; // two frames of 4 x 2
uint32_t image[6];      // 3 x 2 pixels

tk::Binding bindings[] = {{},      {value},    {&flag},   {&word},      {lines},
                          {line0}, {greeting}, {samples}, {mask_bytes}, {image}};
constexpr uint32_t VALUE = tk::make_ref(1), FLAG = tk::make_ref(2), WORD = tk::make_ref(3),
                   LINES = tk::make_ref(4);
constexpr uint32_t GREETING = tk::make_ref(6), SAMPLES = tk::make_ref(7), MASK = tk::make_ref(8);
constexpr uint32_t IMAGE = tk::make_ref(9), MISSING = tk::make_ref(200);

// clang-format off
constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("face"), end(), label("ok"), text("ok"), end(), label("frame"), frame(), end(),
        label("text"), text("CPU:"), text_newline(16, "ab"), end(),
        label("row_digit"), row_digit(), text("X"), end(),
        label("hex_at"), hex_at(WORD, 0x85), text("X"), end(),
        label("dec"), dec(1, 0x30), text("X"), end(), label("dec8"), dec8_at(WORD, 1, 0x50), text("X"), end(),
        label("hex0"), hex(0x00), text("X"), end(), label("dec16"), dec16_at(WORD, 1, 0x50), text("X"), end(),
        label("hex2"), hex(0x02), text("X"), end(), label("dec32"), dec32_at(WORD, 1, 0x50), text("X"), end(),
        label("missing"), hex_at(MISSING, 0x88), dec8_at(MISSING, 1, 0x10), hex(0x01), dec(1, 0x10), text("X"), end(),
        // Jumps are seen through the slider after them, which writes 7 only when reached.
        label("jump"), jump_if(-1, "j1"), slider(7, 7), label("j1"), end(),
        label("jump_at"), jump_if_at(0, "j2", FLAG), slider(7, 7), label("j2"), end(),
        label("jump_at_missing"), jump_if_at(0, "j3", MISSING), slider(7, 7), label("j3"), end(),
        label("slider"), ink(5), slider(8, 63), dec(5, 0x21), end(), label("flat"), slider(5, 5), end(),
        label("slider_late"), ink(0), ink(15), jump_if(1, "s"), label("s"), slider(8, 63), end(),
        label("check"), check_frame(), end(), label("button"), frame(), text("ok"), end(),
        label("string"), string(), end(), label("bar"), bar(9, 3), text("X"), end(),
        label("lines"), text_lines(), end(), label("trace"), trace(SAMPLES), end(),
        label("mask"), mask(MASK, 4, 2), end(), label("blit"), blit(IMAGE, 3, 2), end(),
    };
});

// Programs the assembler refuses to build, laid out by hand.
alignas(4) const uint8_t malformed[] = {
    0x00, 0x90, 0x90, 0x90,                         //  0: prologue
    0x07, 0x00, 0x90, 0x90, 0xFF, 0xFF, 0x00, 0x00, //  4: OP_JUMP_IF 0 -> 65535, outside the block
    0x19, 0x07, 0x07, 0x00,                         // 12: OP_SLIDER 7 7; OP_END
    0x07, 0x00, 0x90, 0x90, 0x10, 0x00, 0x00, 0x00, // 16: OP_JUMP_IF 0 -> 16, to itself
    0x19, 0x07, 0x07, 0x00,                         // 24: OP_SLIDER 7 7; OP_END
    0x05, 0x19, 0x07, 0x07, 0x00,                   // 28: unknown opcode 5; OP_SLIDER 7 7; OP_END
    0x19, 0x09, 0x08, 0x00,                         // 33: OP_SLIDER 9 8, its range upside down; OP_END
    0x0F, 'A',  0xFE, 0x0D, 'B', 0x00, 0x00,        // 37: OP_TEXT "A" newline 13 "B", no TEXT_END...
    0x19, 0x07, 0x90, 0x90,                         // 44: ...and OP_SLIDER 7 cut off by the block's end
    0x28, 0x90, 0x90, 0x90, 0x00, 0x00, 0x07, 0x00, // 48: OP_TRACE, its reference's last byte cut off
};
// clang-format on

struct Widget {
    uint32_t program, data = VALUE;
    int16_t x = 20, y = 20, width = 68;
    uint16_t height = 36;
    uint8_t kind = tk::KIND_STATIC, flags = 0, colour = 3;
    uint16_t pos = 0;
    uint8_t row = 0;
};

tk::Template one_template[2];
const tk::Template* sets[] = {one_template};
constexpr uint32_t fill = 0x00ABCDEF; // the canvas before drawing
const auto& colour = tk::palette;

// A program's offset by name, for tables of cases (programs.offset needs a constant name).
uint32_t at(std::string_view name) {
    for (const tk::ins::Label& l : programs.labels) {
        if (l.name == name) return l.offset;
    }
    ADD_FAILURE() << "no program " << name;
    return 0;
}

class Program : public ::testing::Test {
  protected:
    test::Canvas canvas{200, 120, fill};

    void SetUp() override {
        tk::reset_widgets();
        tk::reset_input();
        tk::reset_text_cursor();
        tk::window.dirty = 0;
        const tk::Framebuffer& fb = tk::window.fb; // each case of a table starts from a clean picture
        std::fill(fb.pixels, fb.pixels + fb.width * fb.height, fill);
        tk::set_resources({programs.data(), programs.size, bindings, std::size(bindings), sets, 1});
        std::memset(value, 0, sizeof value);
        flag = 0;
        word = 0x00011234;
    }

    int32_t add(const Widget& s) {
        one_template[0] = {s.program, s.data, s.x,      s.y,     s.width, s.height, s.pos,
                           s.row,     s.kind, s.colour, s.flags, 0,       0};
        const auto id = static_cast<int32_t>(tk::widgets.used_length);
        EXPECT_EQ(tk::add_template_set(0, 0, 0, 0), id + 4);
        return id;
    }

    // Adds the widget and draws it, with the focus on it or on none.
    void show(const Widget& s, bool focused = false) {
        const int32_t id = add(s);
        tk::input.focus = focused ? id : -1;
        tk::redraw_widget(id);
    }

    // Draws the widget alone on a clean canvas with its bound byte set to bound; returns the picture.
    std::vector<uint32_t> draw_alone(const Widget& s, bool focused = false, uint8_t bound = 0) {
        SetUp();
        value[0] = bound;
        show(s, focused);
        return canvas.pixels();
    }

    // True when every pixel of the rectangle holds the value.
    bool filled(int x, int y, int width, int height, uint32_t pixel) const {
        for (int i = 0; i < width * height; ++i) {
            if (canvas.at(x + i % width, y + i / width) != pixel) return false;
        }
        return true;
    }

    // True when the cells from (x, y) show the text: set bits in the ink, clear bits in another colour.
    // A space stands for a cell that is not checked.
    bool text_at(int x, int y, const char* text, int ink) const {
        for (int i = 0; text[i] != '\0'; ++i) {
            for (int p = 0; p < 8 * tk::glyph_rows && text[i] != ' '; ++p) {
                const bool set = tk::font[(text[i] - 1) * tk::glyph_rows + p / 8] & (0x80 >> p % 8);
                if ((canvas.at(x + 9 * i + p % 8, y + p / 8) == colour[ink]) != set) return false;
            }
        }
        return true;
    }
};

TEST_F(Program, RedrawSkipsIdsOfNoWidgetAndPaintsInSlotOrder) {
    add({at("face"), 0, 20, 20, 30, 30, tk::KIND_STATIC, 0, 9});
    add({at("face"), 0, 40, 40, 30, 30, tk::KIND_STATIC, 0, 10});
    for (int32_t id : {-1, 8, 12, 0x7FFFFFFC}) tk::redraw_widget(id);
    EXPECT_EQ(tk::window.dirty, 0);
    EXPECT_EQ(canvas.changed(fill), 0u);
    tk::redraw_all();
    EXPECT_EQ(tk::window.dirty, 1);
    EXPECT_EQ(canvas.at(45, 45), colour[10]) << "the later widget paints over the earlier one";
    EXPECT_EQ(canvas.at(21, 21), colour[9]);
}

TEST_F(Program, FaceAndFocusLooks) {
    auto look = [&](uint8_t kind, uint8_t flags, bool focused) {
        return draw_alone({at("text"), 0, 20, 20, 68, 36, kind, flags, 9}, focused);
    };
    const auto plain = look(tk::KIND_BUTTON, 0, false);
    EXPECT_TRUE(look(tk::KIND_CANVAS, 0, true) == plain) << "a focused canvas gets no mark";
    EXPECT_TRUE(look(tk::KIND_BUTTON, tk::FLAG_ENTER, false) == plain) << "the inverted look needs the focus";
    look(tk::KIND_BUTTON, 0, true);
    EXPECT_TRUE(canvas.at(23, 52) == colour[0] && canvas.at(84, 23) == colour[0]) << "dotted mark inset by 3";
    look(tk::KIND_BUTTON, tk::FLAG_ENTER, true);
    EXPECT_TRUE(canvas.at(87, 55) == colour[9] && canvas.at(86, 54) == colour[0] &&
                text_at(24, 23, "CPU:", 9))
        << "black inside a frame of the face colour, text in the face colour";
}

TEST_F(Program, TextAndValueDisplaysMoveThePen) {
    // The cells from the pen on; a space is a cell left blank or not checked.
    for (auto [program, data, row, cells] :
         {std::tuple{"dec", tk::make_ref(1, 1), uint8_t{0}, "  0X"}, // format 0x30 on the byte 0
          {"hex0", VALUE, 0, "X"},                                   // no digits, no move
          {"hex2", VALUE, 0, "0AX"},                                 // the bound byte 0x0A
          {"missing", 0, 0, "X"},                                    // nothing bound and no binding
          {"dec8", VALUE, 0, "   52X"},                              // the low byte of 0x00011234
          {"dec16", VALUE, 0, " 4660X"},                             // its low 16 bits
          {"dec32", VALUE, 0, "70196X"},                             // all 32 bits
          {"hex_at", VALUE, 0, "11234X"},                            // format 0x85: five digits
          {"row_digit", 0, 3, "3X"},
          {"text", 0, 0, "CPU:"}}) {
        SCOPED_TRACE(program);
        draw_alone({at(program), data, 20, 20, 120, 36, tk::KIND_STATIC, 0, 3, 0, row}, false, 0x0A);
        EXPECT_TRUE(text_at(24, 23, cells, 0));
    }
    EXPECT_TRUE(text_at(24, 23 + 16, "ab", 0)) << "TEXT_NEWLINE 16 goes back to the left margin";
}

// Each program ends in or jumps over a slider of range 7..7, so the bound byte tells whether the
// slider was reached; sync_sliders reads past jumps, not along them.
TEST_F(Program, JumpsAndBrokenProgramsEndWithinTheBlock) {
    const uint32_t all = sizeof malformed;
    for (auto [what, program, size, bound, flag_byte, drawn, synced] :
         {std::tuple{"-1 matches 0xFF", at("jump"), 0u, uint8_t{0xFF}, uint8_t{0}, uint8_t{0xFF}, uint8_t{7}},
          {"-1 does not match 0x7F", at("jump"), 0, 0x7F, 0, 7, 7},
          {"byte at the address equal", at("jump_at"), 0, 0x55, 0, 0x55, 7},
          {"byte at the address differs", at("jump_at"), 0, 0x55, 1, 7, 7},
          {"an address without binding never matches", at("jump_at_missing"), 0, 0x55, 0, 7, 7},
          {"a jump out of the block ends the program", 4, all, 0, 0, 0, 7},
          {"a jump that does not lead forward ends the program", 16, all, 0, 0, 0, 7},
          {"an unknown opcode is skipped", 28, all, 0, 0, 7, 7},
          {"an upside-down range gives no value", 33, all, 0x55, 0, 0x55, 0x55},
          {"operands cut off by the block's end are not executed", 44, 46, 0x55, 0, 0x55, 0x55},
          {"a reference cut off by the block's end", 48, 55, 0x55, 0, 0x55, 0x55},
          {"a text cut off by the block's end", 37, 44, 0x55, 0, 0x55, 0x55}}) {
        SCOPED_TRACE(what);
        SetUp();
        if (size != 0) tk::set_resources({malformed, size, bindings, std::size(bindings), sets, 1});
        value[0] = bound;
        flag = flag_byte;
        show({program, VALUE, 20, 20, 68, 36, tk::KIND_SLIDER, 0, 3, 10});
        EXPECT_EQ(value[0], drawn);
        EXPECT_EQ(canvas.at(21, 22), colour[3]) << "no trace box";
        tk::sync_sliders();
        EXPECT_EQ(value[0], synced);
    }
    // The picture of the last case, the cut-off text.
    EXPECT_TRUE(text_at(24, 23, "A", 0) && text_at(24, 36, "B", 0));
    EXPECT_TRUE(filled(42, 36, 40, 10, colour[3])) << "no byte past the block's end is drawn";
}

TEST_F(Program, SliderValueFollowsTheKnob) {
    for (auto [what, width, pos, flags, want] :
         {std::tuple{"dragged to 28 of 56", int16_t{68}, uint16_t{28}, uint8_t{0}, uint8_t{35}},
          {"pressed, the knob is darker", 68, 28, tk::FLAG_PRESSED, 35},
          {"a knob past the track still means the maximum", 68, 60, 0, 63},
          {"no room for the knob: no value", 12, 0, 0, 0x55}}) {
        SCOPED_TRACE(what);
        draw_alone({at("slider"), VALUE, 20, 20, width, 36, tk::KIND_SLIDER, flags, 9, pos}, false, 0x55);
        EXPECT_EQ(value[0], want);
        EXPECT_EQ(canvas.at(20 + pos + 5, 46), colour[flags ? 2 : 3]) << "knob face";
    }
}

TEST_F(Program, SyncSlidersClampsAndPlacesTheKnob) {
    for (auto [what, program, data, kind, width, bound, want_bound, want_pos] :
         {std::tuple{"200 is clamped to 63", "slider", VALUE, tk::KIND_SLIDER, int16_t{68}, uint8_t{200},
                     uint8_t{63}, 56},
          {"3 is clamped to 8", "slider", VALUE, tk::KIND_SLIDER, 68, 3, 8, 0},
          {"the first knob position that shows the value", "slider", VALUE, tk::KIND_SLIDER, 68, 36, 36, 29},
          {"a range of one value", "flat", VALUE, tk::KIND_SLIDER, 68, 200, 5, 0},
          {"found behind ink 0, ink 15 and a jump", "slider_late", VALUE, tk::KIND_SLIDER, 68, 200, 63, 56},
          {"no slider in the program", "face", VALUE, tk::KIND_SLIDER, 68, 200, 200, 17},
          {"not a slider widget", "slider", VALUE, tk::KIND_STATIC, 68, 200, 200, 17},
          {"no bound value", "slider", 0, tk::KIND_SLIDER, 68, 200, 200, 17},
          {"no room for the knob", "slider", VALUE, tk::KIND_SLIDER, 12, 200, 200, 17}}) {
        SCOPED_TRACE(what);
        SetUp();
        value[0] = bound;
        add({at(program), data, 20, 20, width, 36, kind, 0, 3, 17});
        tk::sync_sliders();
        EXPECT_EQ(value[0], want_bound);
        EXPECT_EQ(tk::wpos(0), want_pos);
    }
}

TEST_F(Program, FramesLookPressed) {
    auto look = [&](const char* program, uint8_t bound, uint8_t flags) {
        return draw_alone({at(program), VALUE, 20, 20, 44, 24, tk::KIND_BUTTON, flags, 9}, false, bound);
    };
    const auto raised = look("frame", 0, 0), sunken = look("frame", 0, tk::FLAG_PRESSED);
    EXPECT_TRUE(canvas.at(20, 19) == colour[1] && canvas.at(63, 43) == colour[4])
        << "from one row above the widget";
    EXPECT_TRUE(raised != sunken);
    EXPECT_TRUE(look("check", 2, 0) == raised) << "bit 0 of the bound byte clear";
    EXPECT_TRUE(look("check", 3, 0) == sunken) << "bit 0 set";
    EXPECT_TRUE(look("check", 0, tk::FLAG_PRESSED) == sunken);
    EXPECT_TRUE(look("frame", 1, 0) == raised) << "a plain frame ignores the bound byte";
}

TEST_F(Program, StringShowsItsCursorOnlyWithFocus) {
    for (bool focused : {false, true}) {
        draw_alone({at("string"), GREETING, 20, 20, 68, 24, tk::KIND_TEXT, 0, 3, 1}, focused);
        EXPECT_TRUE(focused || text_at(24, 23, "hi", 0)); // with focus the dotted mark crosses the text
        EXPECT_TRUE(filled(24 + 9, 23 + 14, 9, 2, colour[focused ? 14 : 3])) << "under character 1";
        EXPECT_TRUE(filled(24 + 8, 23 + 14, 1, 2, colour[3]) && filled(24 + 18, 23 + 14, 1, 2, colour[3]));
    }
}

TEST_F(Program, BarFillsCellsAndLeavesThePen) {
    draw_alone({at("bar")});
    EXPECT_TRUE(text_at(24, 23, "X", 0)) << "the text after the bar starts where the bar did";
    EXPECT_TRUE(filled(33, 23, 18, 16, colour[9])) << "3 cells of 9 pixels, 16 rows";
    EXPECT_TRUE(canvas.at(24 + 27, 23) == colour[3] && canvas.at(33, 23 + 16) == colour[3]);
}

TEST_F(Program, TextLines) {
    // Cells from the left edge: '#' selected (black on red), else the character in red; blank after them
    // up to the widget's width. Cursor in cell 2: 0 none, 1 underline, 2 box.
    for (auto [what, row, width, cursor_row, shape, selection, cells, cursor] :
         {std::tuple{"a selection, up to the line feed", uint8_t{0}, int16_t{100}, uint8_t{5}, uint8_t{1},
                     std::pair{1, 3}, "a##c", 0},
          {"the width limit counts from the framebuffer's left edge", 0, 30, 5, 1, {0, 0}, "ab", 0},
          {"entry 0 draws only the cursor", 1, 100, 1, 1, {0, 0}, "", 1},
          {"the box cursor", 1, 100, 1, 0, {0, 0}, "", 2},
          {"no cursor on another row", 1, 100, 0, 1, {0, 0}, "", 0}}) {
        SCOPED_TRACE(what);
        SetUp();
        const auto* s = reinterpret_cast<uint8_t*>(line0);
        tk::text_cursor = {{cursor_row}, {2}, s + selection.first, s + selection.second, shape};
        show({at("lines"), LINES, 0, 20, width, 16, tk::KIND_STATIC, 0, 3, 0, row});
        const int end = 9 * static_cast<int>(std::strlen(cells)), blank_to = row == 1 ? 18 : width;
        for (int i = 0; cells[i] != '\0'; ++i) {
            const char shown[] = {cells[i] == '#' ? line0[i] : cells[i], '\0'};
            EXPECT_TRUE(text_at(9 * i, 20, shown, cells[i] == '#' ? 0 : 7)) << i;
            EXPECT_TRUE(cells[i] != '#' || canvas.at(9 * i + 8, 35) == colour[7]) << "selected cells are red";
        }
        EXPECT_TRUE(filled(end, 20, blank_to - end, 16, colour[3]) && filled(width, 20, 8, 16, fill));
        if (row != 1) continue;
        const uint32_t line = colour[cursor ? 14 : 3], box = colour[cursor == 2 ? 14 : 3];
        EXPECT_TRUE(filled(18, 35, 9, 1, line) && filled(19, 34, 7, 1, cursor == 1 ? line : colour[3]));
        EXPECT_TRUE(filled(18, 20, 9, 1, box) && filled(18, 21, 1, 13, box) && filled(26, 21, 1, 13, box));
    }
}

TEST_F(Program, TraceLightsOneRedPointPerSampleOfTheBoundFrame) {
    std::fill(samples, samples + 64, int8_t{100}); // frame 0, which must not be drawn
    std::fill(samples + 64, samples + 128, int8_t{8});
    const int8_t first[] = {0, -128, 127, -1};
    std::copy(first, first + 4, samples + 64);
    draw_alone({at("trace"), VALUE, 20, 20, 70, 36}, false, 1); // frame 1
    // 0 on the middle row, -128 on the lowest, 127 on the highest, -1 rounds down; the 64th sample.
    for (auto [dx, dy] : {std::pair{1, 16}, {2, 32}, {3, 1}, {4, 17}, {64, 15}})
        EXPECT_EQ(canvas.at(20 + dx, 20 + dy), 0xFF0000u) << dx;
    EXPECT_EQ(canvas.at(21, 24), 0u) << "frame 0 is not drawn";
    EXPECT_EQ(canvas.at(89, 52), 0u) << "black box over the whole width";
    EXPECT_TRUE(filled(20, 20, 70, 1, colour[3]) && filled(20, 53, 70, 1, colour[3])) << "32 rows from y + 1";
}

TEST_F(Program, MaskBlackensOnlyExactly0x80) {
    const uint8_t frame1[8] = {0x80, 0x7F, 0x81, 0xFF, 0x00, 0x80, 0x80, 0x01};
    std::memset(mask_bytes, 0x80, 8); // frame 0, which must not be used
    std::memcpy(mask_bytes + 8, frame1, 8);
    draw_alone({at("mask"), VALUE, 20, 20, 10, 10, tk::KIND_STATIC, 0, 9}, false, 1); // frame 1
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(canvas.at(20 + i % 4, 20 + i / 4), frame1[i] == 0x80 ? 0u : colour[9]) << i;
    EXPECT_EQ(canvas.at(24, 20), colour[9]);
}

TEST_F(Program, BlitCopiesTheImageAndStopsAtTheEdge) {
    for (uint32_t i = 0; i < 6; ++i) image[i] = 0x00102030 + i;
    add({at("blit"), 0, 20, 20, 10, 10});
    add({at("blit"), 0, 198, 40, 2, 2});
    tk::redraw_all();
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(canvas.at(20 + i % 3, 20 + i / 3), image[i]);
    EXPECT_TRUE(canvas.at(23, 20) == colour[3] && canvas.at(199, 41) == image[4]);
    EXPECT_EQ(canvas.at(0, 39), fill) << "the third column does not wrap into the next row";
}

TEST_F(Program, GoldenWidgets) {
    test::Canvas small{84, 48, fill};
    auto expect = [&](const char* name, std::initializer_list<Widget> widgets, int32_t focus = -1) {
        SetUp();
        value[0] = 2;
        value[1] = 3;
        value[2] = 35;
        for (const Widget& s : widgets) add(s);
        tk::input.focus = focus;
        tk::sync_sliders();
        tk::redraw_all();
        test::expect_golden(name, small.pixels().data(), 84, 48);
    };
    const Widget button{at("button"), 0, 8, 8, 44, 24, tk::KIND_BUTTON};
    const Widget pressed{at("button"), 0, 8, 8, 44, 24, tk::KIND_BUTTON, tk::FLAG_PRESSED};
    expect("widget_button_raised", {button});
    expect("widget_button_pressed", {pressed});
    expect("widget_button_focused", {button}, 0);
    expect("widget_inverted_focus", {{at("ok"), 0, 8, 8, 44, 24, tk::KIND_BUTTON, tk::FLAG_ENTER, 9}}, 0);
    expect("widget_slider", {{at("slider"), tk::make_ref(1, 2), 8, 6, 68, 36, tk::KIND_SLIDER}});
    expect("widget_check_frame", {{at("check"), VALUE, 4, 12, 36, 24, tk::KIND_TOGGLE},
                                  {at("check"), tk::make_ref(1, 1), 44, 12, 36, 24, tk::KIND_TOGGLE}});
}

} // namespace
