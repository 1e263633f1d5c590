// The drawing-program interpreter: every instruction, faces and focus looks, the
// slider and its synchronisation, and programs that break the rules. What widgets
// look like is held by golden pictures; the tables check bound values and knobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <tuple>
#include <vector>

#include "tests/test_support.h"
#include "toolkit/assembler.h"
#include "toolkit/draw.h"
#include "toolkit/input.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

// Values the test widgets are bound to.
uint8_t value[8], flag;
uint32_t word;
uint32_t lines[2] = {tk::make_ref(5), 0}; // the strings of rows 0 and 1: line0 and none
char line0[] = "ab c\nxyz", greeting[] = "hi";
int8_t samples[128];                                                       // two frames of 64
uint8_t mask_bytes[16] = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,  // frame 0, which must not be used
                          0x80, 0x7F, 0x81, 0xFF, 0x00, 0x80, 0x80, 0x01}; // frame 1, 4 x 2
uint32_t image[6] = {0x102030, 0x302030, 0x502030, 0x702030, 0x902030, 0xB02030}; // 3 x 2 pixels

tk::Binding bindings[] = {{},      {value},    {&flag},   {&word},      {lines},
                          {line0}, {greeting}, {samples}, {mask_bytes}, {image}};
constexpr uint32_t VALUE = tk::make_ref(1), FLAG = tk::make_ref(2), WORD = tk::make_ref(3);
constexpr uint32_t LINES = tk::make_ref(4), GREETING = tk::make_ref(6), SAMPLES = tk::make_ref(7);
constexpr uint32_t MASK = tk::make_ref(8), IMAGE = tk::make_ref(9), MISSING = tk::make_ref(200);

// clang-format off
constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("face"), end(), label("ok"), text("ok"), end(), label("frame"), frame(), end(),
        label("text"), text("CPU:"), text_newline(16, "ab"), end(), label("a_b"), text("A"), text_newline(13, "B"), end(),
        // Value displays one after another, each seen through where it leaves the pen.
        label("values"), dec(1, 0x30), text("X"), hex(0x00), text("X"), hex(0x02), text("X"), text_newline(16),
        dec8_at(WORD, 1, 0x50), text("X"), dec16_at(WORD, 1, 0x50), text("X"), text_newline(16),
        dec32_at(WORD, 1, 0x50), text("X"), hex_at(WORD, 0x85), text("X"), text_newline(16),
        row_digit(), text("X"), bar(9, 3), text("X"), number(0x31, 2, 3, 7), text("X"), end(),
        label("missing"), hex_at(MISSING, 0x88), dec8_at(MISSING, 1, 0x10), hex(0x01), dec(1, 0x10), text("X"), end(),
        // Jumps are seen through the slider after them, which writes 7 only when reached.
        label("jump"), jump_if(-1, "j1"), slider(7, 7), label("j1"), end(),
        label("jump_at"), jump_if_at(0, "j2", FLAG), slider(7, 7), label("j2"), end(),
        label("jump_at_missing"), jump_if_at(0, "j3", MISSING), slider(7, 7), label("j3"), end(),
        label("slider"), ink(5), slider(8, 63), dec(5, 0x21), end(), label("flat"), slider(5, 5), end(),
        label("slider_late"), ink(0), ink(15), jump_if(1, "s"), label("s"), slider(8, 63), end(),
        label("check"), check_frame(), end(), label("button"), frame(), text("ok"), end(),
        label("string"), string(), end(),
        label("lines"), text_lines(), end(), label("trace"), trace(SAMPLES), end(),
        label("mask"), mask(MASK, 4, 2), end(), label("blit"), blit(IMAGE, 3, 2), end(),
        label("meter"), meter(5, 2), text("X"), end(),
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

// A widget; its group is the template set it is added from.
struct Widget {
    uint32_t program, data = VALUE;
    int16_t x = 20, y = 20, width = 68;
    uint16_t height = 36;
    uint8_t kind = tk::KIND_STATIC, flags = 0, colour = 3;
    uint16_t pos = 0;
    uint8_t row = 0, group = 0;
};

tk::Template one_template[2];
const tk::Template* sets[] = {one_template, one_template};
constexpr uint32_t fill = 0x00ABCDEF; // the canvas before drawing
const auto& colour = tk::palette;

// A program's offset by name; a name that is not defined does not compile.
consteval uint32_t at(std::string_view name) {
    return programs.offset(name);
}

class Program : public ::testing::Test {
  protected:
    test::Canvas canvas{200, 120, fill};

    void SetUp() override {
        tk::reset_widgets(), tk::reset_input(), tk::reset_text_cursor(), tk::window.dirty = 0;
        // Each case of a table starts from a clean picture.
        std::fill_n(tk::window.fb.pixels, tk::window.fb.width * tk::window.fb.height, fill);
        tk::set_resources({programs.data(), programs.size, bindings, std::size(bindings), sets, 2});
        std::memset(value, 0, sizeof value), flag = 0, word = 0x00011234;
    }

    int32_t add(const Widget& s) {
        one_template[0] = {s.program, s.data, s.x,      s.y,     s.width, s.height, s.pos,
                           s.row,     s.kind, s.colour, s.flags, 0,       0};
        const auto id = static_cast<int32_t>(tk::widgets.used_length);
        EXPECT_EQ(tk::add_template_set(0, 0, 0, s.group), id + 4);
        return id;
    }

    // Adds the widgets, places the slider knobs, then draws them all, with the focus on one or none. Ids
    // of no widget draw nothing and leave dirty clear; every widget sets it, painted in slot order.
    void draw(std::initializer_list<Widget> widgets, int32_t focus = -1) {
        for (const Widget& s : widgets) add(s);
        tk::sync_sliders();
        for (int32_t id : {-1, int32_t(tk::widgets.used_length), 0x7FFFFFFC}) tk::redraw_widget(id);
        EXPECT_EQ(tk::window.dirty, 0);
        tk::input.focus = focus, tk::redraw_all();
        EXPECT_EQ(tk::window.dirty, 1);
    }
};

// Each program ends in or jumps over a slider of range 7..7, so the bound byte tells whether the
// slider was reached; sync_sliders reads past jumps, not along them. Catches: a jump on the wrong
// comparison, a jump out of the block or backwards taken, an unknown opcode ending the program, an
// upside-down range giving a value, operands or a text read past the block's end.
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
        value[0] = bound, flag = flag_byte;
        tk::redraw_widget(add({program, VALUE, 20, 20, 68, 36, tk::KIND_SLIDER, 0, 3, 10}));
        EXPECT_EQ(value[0], drawn);
        EXPECT_EQ(canvas.at(21, 22), colour[3]) << "no trace box";
        tk::sync_sliders();
        EXPECT_EQ(value[0], synced);
    }
    // The cut-off text draws what "A", newline 13, "B" draws: no byte past the block's end.
    const std::vector<uint32_t> cut_off = canvas.pixels();
    SetUp();
    tk::redraw_widget(add({at("a_b"), VALUE, 20, 20, 68, 36, tk::KIND_SLIDER, 0, 3, 10}));
    EXPECT_TRUE(canvas.pixels() == cut_off);
}

// Catches: a meter filled to another share than its byte's of 255, a track not drawn, a meter drawn
// without a bound byte as anything but its track, the pen not moved past the whole bar.
TEST_F(Program, MeterFillsTheBoundShareOfItsBar) {
    // The bound byte, the reference, the filled cells of the 18 of the bar.
    const std::tuple<uint8_t, uint32_t, int> cases[] = {{0, VALUE, 0},  {255, VALUE, 18}, {128, VALUE, 9},
                                                        {14, VALUE, 0}, {15, VALUE, 1},   {255, MISSING, 0}};
    for (auto [bound, data, filled] : cases) {
        SCOPED_TRACE(testing::Message() << int(bound) << (data == MISSING ? " unbound" : ""));
        SetUp(), value[0] = bound;
        tk::redraw_widget(add({at("meter"), data, 20, 20, 60, 20}));
        for (int x = 24; x < 24 + 18; ++x) EXPECT_EQ(canvas.at(x, 28), colour[x < 24 + filled ? 5 : 1]) << x;
        EXPECT_EQ(canvas.at(24 + 18, 28), colour[3]);
        const auto row = canvas.pixels().begin() + (120 - 1 - 28) * 200; // y = 28, counted from the top
        EXPECT_NE(std::find(row + 24 + 18, row + 24 + 27, colour[0]), row + 24 + 27) << "no X after the bar";
    }
}

// Catches: a bound byte left outside the range, the knob rounded to a position that shows a smaller
// value, a slider found behind other instructions missed, and non-sliders or sliders without value
// or room touched.
TEST_F(Program, SyncSlidersClampsAndPlacesTheKnob) {
    for (auto [what, program, data, kind, width, bound, want_bound, want_pos] :
         {std::tuple{"clamped to 63", at("slider"), VALUE, tk::KIND_SLIDER, int16_t{68}, uint8_t{200},
                     uint8_t{63}, 56},
          {"3 is clamped to 8", at("slider"), VALUE, tk::KIND_SLIDER, 68, 3, 8, 0},
          {"the first position showing it", at("slider"), VALUE, tk::KIND_SLIDER, 68, 36, 36, 29},
          {"a range of one value", at("flat"), VALUE, tk::KIND_SLIDER, 68, 200, 5, 0},
          {"behind ink 0, ink 15, a jump", at("slider_late"), VALUE, tk::KIND_SLIDER, 68, 200, 63, 56},
          {"no slider in the program", at("face"), VALUE, tk::KIND_SLIDER, 68, 200, 200, 17},
          {"not a slider widget", at("slider"), VALUE, tk::KIND_STATIC, 68, 200, 200, 17},
          {"no bound value", at("slider"), 0, tk::KIND_SLIDER, 68, 200, 200, 17},
          {"no room for the knob", at("slider"), VALUE, tk::KIND_SLIDER, 12, 200, 200, 17}}) {
        SCOPED_TRACE(what);
        SetUp(), value[0] = bound;
        add({program, data, 20, 20, width, 36, kind, 0, 3, 17});
        tk::sync_sliders();
        EXPECT_EQ(std::pair(int(value[0]), int(tk::wpos(0))), std::pair(int(want_bound), want_pos));
    }
}

// Catches, in pictures: any change to faces, frames (raised, pressed, checked by bit 0 only), focus
// marks (none on a canvas, inverted only with the focus), knobs, the text and value displays and
// where they leave the pen, string cursors, a text-line list's selection, width limit and cursors,
// trace, mask and blit reading the wrong frame or running past the framebuffer's edge.
TEST_F(Program, GoldenPictures) {
    {
        test::Canvas small{84, 48, fill};
        const auto expect = [&](const char* name, std::initializer_list<Widget> widgets, int32_t focus = -1) {
            SetUp();
            value[0] = 2, value[1] = 3, value[2] = 35;
            draw(widgets, focus);
            test::expect_golden(name, small.pixels().data(), 84, 48);
        };
        const Widget button{at("button"), 0, 8, 8, 44, 24, tk::KIND_BUTTON};
        expect("widget_button_raised", {button});
        expect("widget_button_pressed", {{at("button"), 0, 8, 8, 44, 24, tk::KIND_BUTTON, tk::FLAG_PRESSED}});
        expect("widget_button_focused", {button}, 0);
        expect("widget_inverted_focus", {{at("ok"), 0, 8, 8, 44, 24, tk::KIND_BUTTON, tk::FLAG_ENTER, 9}}, 0);
        expect("widget_slider", {{at("slider"), tk::make_ref(1, 2), 8, 6, 68, 36, tk::KIND_SLIDER}});
        expect("widget_check_frame", {{at("check"), VALUE, 4, 12, 36, 24, tk::KIND_TOGGLE},
                                      {at("check"), tk::make_ref(1, 1), 44, 12, 36, 24, tk::KIND_TOGGLE}});
    }
    SetUp(), value[0] = 0x0A, value[1] = 1, value[5] = 1, value[7] = 35;
    // The bound byte 0x0A in 1 and 2 hex digits and in three decimal digits; the word 0x00011234's low
    // byte, low 16 bits and all 32 bits, and five hex digits of it; row 3; a bar of 3 cells; the 16-bit
    // 0x010A times 3 plus 7 as 80.5. A fine slider's knob for 35, which shows 17.5.
    draw({{at("values"), VALUE, 0, 0, 130, 70, tk::KIND_STATIC, 0, 3, 0, 3},
          {at("missing"), 0, 0, 72, 64, 20}, // nothing bound and no binding: no digits, no move
          {at("text"), 0, 66, 72, 64, 40},   // TEXT_NEWLINE 16 goes back to the left margin
          {at("slider"), tk::make_ref(1, 7), 0, 94, 64, 26, tk::KIND_SLIDER, tk::FLAG_FINE},
          {at("string"), GREETING, 132, 0, 68, 24, tk::KIND_TEXT, 0, 3, 1},
          {at("string"), GREETING, 132, 26, 68, 24, tk::KIND_TEXT, 0, 3, 1}, // with the focus
          {at("ok"), 0, 166, 52, 34, 20, tk::KIND_BUTTON, tk::FLAG_ENTER, 9},
          {at("check"), tk::make_ref(1, 4), 132, 76, 32, 20, tk::KIND_TOGGLE, tk::FLAG_PRESSED},
          {at("frame"), tk::make_ref(1, 5), 166, 76, 34, 20, tk::KIND_BUTTON}},
         20);
    test::expect_golden("program_texts_and_looks", canvas.pixels().data(), 200, 120);

    SetUp();
    // Frame 0, which must not be drawn, all 100; frame 1 starts with the middle row, the lowest, the
    // highest and -1, which rounds down, then holds 8.
    const int8_t first[] = {0, -128, 127, -1};
    for (int i = 0; i < 128; ++i) samples[i] = int8_t(i < 64 ? 100 : i < 68 ? first[i - 64] : 8);
    value[3] = 0x55, value[6] = 1; // value 6: the frame drawn
    tk::text_cursor = {
        {5, 1}, {0, 2}, reinterpret_cast<uint8_t*>(line0 + 1), reinterpret_cast<uint8_t*>(line0 + 3), 1};
    draw({{at("lines"), LINES, 0, 0, 100, 16}, // a selection, up to the line feed; the cursor elsewhere
          {at("lines"), LINES, 0, 20, 30, 16}, // the width counts from the framebuffer's left edge
          {at("lines"), LINES, 0, 40, 100, 16, tk::KIND_STATIC, 0, 3, 0, 1, 1}, // entry 0: the cursor only
          {at("lines"), LINES, 0, 60, 100, 16, tk::KIND_STATIC, 0, 3, 0, 1, 1}, // the box cursor, below
          {at("lines"), LINES, 0, 80, 100, 16, tk::KIND_STATIC, 0, 3, 0, 1, 0}, // no cursor on another row
          {at("trace"), tk::make_ref(1, 6), 110, 0, 70, 36},                    // 32 rows from y + 1
          // Over the trace, so painted after it; only bytes of exactly 0x80 blacken.
          {at("mask"), tk::make_ref(1, 6), 170, 30, 10, 10, tk::KIND_STATIC, 0, 9},
          {at("blit"), 0, 130, 40, 10, 10},
          {at("blit"), 0, 198, 100, 2, 2}, // two columns; the third does not wrap into the next row
          // Static, so never synchronised: pressed, the knob darker; a knob past the track still means the
          // maximum; no room for the knob, no value given.
          {at("slider"), tk::make_ref(1, 1), 102, 54, 48, 26, tk::KIND_STATIC, tk::FLAG_PRESSED, 9, 28},
          {at("slider"), tk::make_ref(1, 2), 150, 54, 48, 26, tk::KIND_STATIC, 0, 9, 60},
          {at("slider"), tk::make_ref(1, 3), 102, 84, 12, 26, tk::KIND_STATIC, 0, 9},
          {at("ok"), 0, 150, 84, 34, 20, tk::KIND_CANVAS, 0, 9}}, // with the focus
         48);
    tk::text_cursor.shape = 0;
    tk::redraw_widget(12);
    test::expect_golden("program_lines_and_images", canvas.pixels().data(), 200, 120);
}

} // namespace
