// The drawing-program interpreter: faces and focus looks, every instruction, the
// slider and its synchronisation, and programs that break the rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <utility>

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
uint8_t value[4];
uint8_t flag;
uint32_t word;
uint32_t lines[2]; // references to the strings of rows 0 and 1
char line0[] = "ab c\nxyz";
char greeting[] = "hi";
int8_t samples[128];    // two frames of 64
uint8_t mask_bytes[16]; // two frames of 4 x 2
uint32_t image[6];      // 3 x 2 pixels

tk::Binding bindings[] = {
    {}, {value}, {&flag}, {&word}, {lines}, {line0}, {greeting}, {samples}, {mask_bytes}, {image},
};
constexpr uint32_t VALUE = tk::make_ref(1), FLAG = tk::make_ref(2), WORD = tk::make_ref(3);
constexpr uint32_t LINES = tk::make_ref(4), LINE0 = tk::make_ref(5), GREETING = tk::make_ref(6);
constexpr uint32_t SAMPLES = tk::make_ref(7), MASK = tk::make_ref(8), IMAGE = tk::make_ref(9);
constexpr uint32_t MISSING = tk::make_ref(200);

// clang-format off
constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("face"), end(),
        label("ok"), text("ok"), end(),
        label("text"), text("CPU:"), text_newline(16, "ab"), end(),
        label("dec"), dec(1, 0x30), text("X"), end(),
        label("hex0"), hex(0x00), text("X"), end(),
        label("hex2"), hex(0x02), text("X"), end(),
        label("missing"), hex_at(MISSING, 0x88), dec8_at(MISSING, 1, 0x10), hex(0x01), dec(1, 0x10), text("X"), end(),
        label("dec8"), dec8_at(WORD, 1, 0x50), text("X"), end(),
        label("dec16"), dec16_at(WORD, 1, 0x50), text("X"), end(),
        label("dec32"), dec32_at(WORD, 1, 0x50), text("X"), end(),
        label("hex_at"), hex_at(WORD, 0x85), text("X"), end(),
        label("row_digit"), row_digit(), text("X"), end(),
        // Jumps are seen through the slider after them, which writes 7 only when reached.
        label("jump"), jump_if(-1, "j1"), slider(7, 7),
        label("j1"), end(),
        label("jump_at"), jump_if_at(0, "j2", FLAG), slider(7, 7),
        label("j2"), end(),
        label("jump_at_missing"), jump_if_at(0, "j3", MISSING), slider(7, 7),
        label("j3"), end(),
        label("slider"), ink(5), slider(8, 63), dec(5, 0x21), end(),
        label("slider_late"), ink(0), ink(15), jump_if(1, "s"),
        label("s"), slider(8, 63), end(),
        label("no_slider"), text("x"), end(),
        label("wide_slider"), slider(0, 255), end(),
        label("flat_slider"), slider(5, 5), end(),
        label("check"), check_frame(), end(),
        label("button"), frame(), text("ok"), end(),
        label("string"), string(), end(),
        label("bar"), bar(9, 3), text("X"), end(),
        label("lines"), text_lines(), end(),
        label("trace"), trace(SAMPLES), end(),
        label("mask"), mask(MASK, 4, 2), end(),
        label("blit"), blit(IMAGE, 3, 2), end(),
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
    0x19, 0x07,                                     // 44: ...and OP_SLIDER 7 cut off by the block's end
};
// clang-format on

struct Widget {
    uint32_t program;
    uint32_t data = VALUE;
    int16_t x = 20, y = 20, width = 68;
    uint16_t height = 36;
    uint8_t kind = tk::KIND_STATIC, flags = 0, colour = 3;
    uint16_t pos = 0;
    uint8_t row = 0;
};

tk::Template one_template[2];
const tk::Template* sets[] = {one_template};
constexpr uint32_t fill = 0x00ABCDEF; // the canvas before drawing

uint32_t colour(int index) {
    return tk::palette[index];
}

// A program's offset by name, for tables of cases (programs.offset needs a constant name).
uint32_t at(const char* name) {
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
        use(programs.data(), programs.size);
        std::memset(value, 0, sizeof value);
        flag = 0;
        word = 0x00011234;
    }

    void use(const uint8_t* block, uint32_t size) {
        tk::set_resources({block, size, bindings, std::size(bindings), sets, 1});
    }

    int32_t add(const Widget& s) {
        one_template[0] = {s.program, s.data, s.x,      s.y,     s.width, s.height, s.pos,
                           s.row,     s.kind, s.colour, s.flags, 0,       0};
        const auto id = static_cast<int32_t>(tk::widgets.used_length);
        EXPECT_EQ(tk::add_template_set(0, 0, 0, 0), id + 4);
        return id;
    }

    // True when the cells from (x, y) show the text: set bits in the ink, clear bits in another colour.
    // A space stands for a cell that is not checked.
    bool text_at(int x, int y, const char* text, int ink) const {
        for (; *text != '\0'; ++text, x += 9) {
            if (*text == ' ') continue;
            bool any = false;
            for (int row = 0; row < tk::glyph_rows; ++row) {
                const uint8_t bits = tk::font[(*text - 1) * tk::glyph_rows + row];
                for (int col = 0; col < 8; ++col) {
                    const bool set = bits & (0x80 >> col);
                    any |= set;
                    if ((canvas.at(x + col, y + row) == colour(ink)) != set) return false;
                }
            }
            if (!any) return false;
        }
        return true;
    }
};

TEST_F(Program, RedrawOfNoWidgetDrawsNothingAndLeavesDirtyClear) {
    tk::redraw_all();
    add({at("text")});
    for (int32_t id : {-1, 4, 8, 0x7FFFFFFC}) tk::redraw_widget(id);
    EXPECT_EQ(tk::window.dirty, 0);
    EXPECT_EQ(canvas.changed(fill), 0u);
    tk::redraw_widget(0);
    EXPECT_EQ(tk::window.dirty, 1);
    EXPECT_EQ(canvas.at(20, 20), colour(3));
}

TEST_F(Program, FaceAndFocusLooks) {
    struct Case {
        const char* what;
        uint8_t kind, flags;
        bool focused, dotted, inverted;
    };
    const Case cases[] = {
        {"unfocused button: plain face", tk::KIND_BUTTON, 0, false, false, false},
        {"focused button: dotted mark inset by 3", tk::KIND_BUTTON, 0, true, true, false},
        {"focused canvas: no mark", tk::KIND_CANVAS, 0, true, false, false},
        {"focused Enter widget: black inside a frame of the face colour", tk::KIND_BUTTON, tk::FLAG_ENTER,
         true, false, true},
        {"unfocused Enter widget: plain face", tk::KIND_BUTTON, tk::FLAG_ENTER, false, false, false},
    };
    const int x = 20, y = 20, w = 68, h = 36, face = 9;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        const int32_t id = add({at("text"), 0, x, y, w, h, c.kind, c.flags, face});
        tk::input.focus = c.focused ? id : -1;
        tk::redraw_widget(id);
        const uint32_t inside = c.inverted ? colour(0) : colour(face), dot = c.dotted ? colour(0) : inside;
        EXPECT_EQ(canvas.at(x, y), colour(face));
        EXPECT_EQ(canvas.at(x + w - 1, y + h - 1), colour(face));
        EXPECT_EQ(canvas.at(x + 1, y + 1), inside);
        EXPECT_EQ(canvas.at(x + w - 2, y + h - 2), inside);
        EXPECT_EQ(canvas.at(x + w, y + h - 1), fill);
        for (auto [dx, dy] : {std::pair{3, 3}, {5, 3}, {3, 5}, {3, h - 4}, {w - 4, 3}}) {
            EXPECT_EQ(canvas.at(x + dx, y + dy), dot) << dx << "," << dy;
        }
        EXPECT_EQ(canvas.at(x + 4, y + 3), inside) << "dots every other pixel";
        EXPECT_EQ(canvas.at(x + 2, y + 2), inside);
        // The dotted mark crosses the text's top row; the text's colour is checked where it does not.
        if (!c.dotted) {
            EXPECT_TRUE(text_at(x + 4, y + 3, "CPU:", c.inverted ? face : 0));
        }
    }
}

TEST_F(Program, TextAndValueDisplaysMoveThePen) {
    struct Case {
        const char* program;
        uint32_t data;
        uint8_t row;
        const char* cells; // from the pen on; a space is a cell left blank or not checked
    };
    const Case cases[] = {
        {"dec", tk::make_ref(1, 1), 0, "  0X"}, // format 0x30 on the byte 0: two blank cells, then the digit
        {"hex0", VALUE, 0, "X"},                // no digits, no move
        {"hex2", VALUE, 0, "0AX"},              // the bound byte 0x0A
        {"missing", 0, 0, "X"},                 // nothing bound and no binding: nothing drawn
        {"dec8", VALUE, 0, "   52X"},           // the low byte of 0x00011234
        {"dec16", VALUE, 0, " 4660X"},          // its low 16 bits
        {"dec32", VALUE, 0, "70196X"},          // all 32 bits
        {"hex_at", VALUE, 0, "11234X"},         // format 0x85: five digits of a 32-bit value
        {"row_digit", 0, 3, "3X"},
        {"text", 0, 0, "CPU:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program);
        SetUp();
        value[0] = 0x0A;
        add({at(c.program), c.data, 20, 20, 120, 36, tk::KIND_STATIC, 0, 3, 0, c.row});
        tk::redraw_widget(0);
        EXPECT_TRUE(text_at(24, 23, c.cells, 0));
    }
    EXPECT_TRUE(text_at(24, 23 + 16, "ab", 0)) << "TEXT_NEWLINE 16 goes back to the left margin";
}

TEST_F(Program, JumpsCompareTheByteAsUnsigned) {
    struct Case {
        const char* what;
        const char* program;
        uint8_t bound, flag;
        bool taken;
    };
    const Case cases[] = {
        {"-1 matches 0xFF", "jump", 0xFF, 0, true},
        {"-1 does not match 0x7F", "jump", 0x7F, 0, false},
        {"byte at the address equal", "jump_at", 0x55, 0, true},
        {"byte at the address differs", "jump_at", 0x55, 1, false},
        {"an address without binding never matches", "jump_at_missing", 0x55, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        value[0] = c.bound;
        flag = c.flag;
        add({at(c.program), VALUE, 20, 20, 68, 36, tk::KIND_SLIDER});
        tk::redraw_widget(0);
        EXPECT_EQ(value[0], c.taken ? c.bound : 7);
    }
}

TEST_F(Program, MalformedProgramsEndSafely) {
    struct Case {
        const char* what;
        uint32_t program, size;
        uint8_t before, after;
        uint8_t after_sync; // the synchronisation reads past jumps, not along them
    };
    const Case cases[] = {
        {"a jump out of the block ends the program", 4, sizeof malformed, 0, 0, 7},
        {"a jump that does not lead forward ends the program", 16, sizeof malformed, 0, 0, 7},
        {"an unknown opcode is skipped", 28, sizeof malformed, 0, 7, 7},
        {"an upside-down range gives no value", 33, sizeof malformed, 0x55, 0x55, 0x55},
        {"operands cut off by the block's end are not executed", 44, sizeof malformed, 0x55, 0x55, 0x55},
        {"a text cut off by the block's end", 37, 44, 0x55, 0x55, 0x55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        use(malformed, c.size);
        value[0] = c.before;
        add({c.program, VALUE, 20, 20, 68, 36, tk::KIND_SLIDER, 0, 3, 10});
        tk::redraw_widget(0);
        EXPECT_EQ(value[0], c.after);
        tk::sync_sliders();
        EXPECT_EQ(value[0], c.after_sync);
    }
    EXPECT_TRUE(text_at(24, 23, "A", 0));
    EXPECT_TRUE(text_at(24, 36, "B", 0));
}

TEST_F(Program, SliderValueFollowsTheKnob) {
    struct Case {
        const char* what;
        int16_t width;
        uint16_t pos;
        uint8_t want;
    };
    const Case cases[] = {
        {"dragged to 28 of 56", 68, 28, 35}, {"left end", 68, 0, 8},
        {"right end", 68, 56, 63},           {"a knob past the track still means the maximum", 68, 60, 63},
        {"one pixel of travel", 13, 1, 63},  {"no room for the knob: no value", 12, 0, 0x55},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        value[0] = 0x55;
        add({at("slider"), VALUE, 20, 20, c.width, 36, tk::KIND_SLIDER, 0, 3, c.pos});
        tk::redraw_widget(0);
        EXPECT_EQ(value[0], c.want);
    }
}

TEST_F(Program, SliderTrackAndKnob) {
    const int x = 20, y = 20, w = 68, t = y + 36 - 10, k = x + 28;
    for (uint8_t flags : {uint8_t{0}, tk::FLAG_PRESSED}) {
        SCOPED_TRACE(flags);
        SetUp();
        add({at("slider"), VALUE, x, y, w, 36, tk::KIND_SLIDER, flags, 9, 28});
        tk::redraw_widget(0);
        EXPECT_EQ(canvas.at(k + 5, t), colour(flags ? 2 : 3)) << "knob face";
        EXPECT_EQ(canvas.at(k, t - 6), colour(4)) << "raised knob frame";
        EXPECT_EQ(canvas.at(k + 11, t + 9), colour(1));
        EXPECT_EQ(canvas.at(x + w - 1, t), colour(2));
        EXPECT_EQ(canvas.at(x + w - 2, t + 1), colour(1));
        EXPECT_EQ(canvas.at(x + w - 1, t + 1), colour(9)) << "the second track line is one shorter each side";
        EXPECT_EQ(canvas.at(x + w - 1, t + 2), colour(9));
        EXPECT_EQ(canvas.at(x, t + 3), colour(4));
        EXPECT_TRUE(text_at(x + 4, y + 3, "17.5", 5)) << "the knob's value, 35 x 5, in the slider's ink";
    }
}

TEST_F(Program, SyncSlidersClampsAndPlacesTheKnob) {
    struct Case {
        const char* what;
        const char* program;
        uint32_t data;
        uint8_t kind;
        int16_t width;
        uint8_t bound, want_bound;
        uint16_t want_pos;
    };
    const Case cases[] = {
        {"200 is clamped to 63", "slider", VALUE, tk::KIND_SLIDER, 68, 200, 63, 56},
        {"3 is clamped to 8", "slider", VALUE, tk::KIND_SLIDER, 68, 3, 8, 0},
        {"the minimum", "slider", VALUE, tk::KIND_SLIDER, 68, 8, 8, 0},
        {"a knob position that shows exactly the value", "slider", VALUE, tk::KIND_SLIDER, 68, 36, 36, 29},
        {"found behind ink 0, ink 15 and a jump", "slider_late", VALUE, tk::KIND_SLIDER, 68, 200, 63, 56},
        {"no slider in the program", "no_slider", VALUE, tk::KIND_SLIDER, 68, 200, 200, 17},
        {"not a slider widget", "slider", VALUE, tk::KIND_STATIC, 68, 200, 200, 17},
        {"no bound value", "slider", 0, tk::KIND_SLIDER, 68, 200, 200, 17},
        {"no room for the knob", "slider", VALUE, tk::KIND_SLIDER, 12, 200, 200, 17},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        value[0] = c.bound;
        add({at(c.program), c.data, 20, 20, c.width, 36, c.kind, 0, 3, 17});
        tk::sync_sliders();
        EXPECT_EQ(value[0], c.want_bound);
        EXPECT_EQ(tk::wpos(0), c.want_pos);
    }
}

TEST_F(Program, SyncedKnobShowsTheFirstValueItCanReach) {
    const std::tuple<const char*, int, int> ranges[] = {
        {"slider", 8, 63}, {"wide_slider", 0, 255}, {"flat_slider", 5, 5}};
    for (auto [program, lo, hi] : ranges) {
        for (int16_t width : {13, 30, 68, 300}) {
            const int travel = width - 12;
            for (int v = lo; v <= hi; ++v) {
                SCOPED_TRACE(testing::Message() << program << " width " << width << " value " << v);
                int p = 0; // counting knob positions up from 0 until one shows v or more
                while (p * (hi - lo) / travel + lo < v) ++p;
                SetUp();
                value[0] = static_cast<uint8_t>(v);
                add({at(program), VALUE, 0, 20, width, 36, tk::KIND_SLIDER});
                tk::sync_sliders();
                ASSERT_EQ(tk::wpos(0), p);
                tk::redraw_widget(0);
                ASSERT_EQ(value[0], p * (hi - lo) / travel + lo);
                if (hi - lo <= travel) {
                    ASSERT_EQ(value[0], v) << "every value has its own knob position";
                }
            }
        }
    }
}

TEST_F(Program, FramesLookPressed) {
    struct Case {
        const char* what;
        const char* program;
        uint8_t bound, flags;
        bool sunken;
    };
    const Case cases[] = {
        {"check frame, bit 0 clear", "check", 2, 0, false},
        {"check frame, bit 0 set", "check", 3, 0, true},
        {"check frame, pressed", "check", 0, tk::FLAG_PRESSED, true},
        {"frame ignores the bound byte", "button", 1, 0, false},
        {"frame, pressed", "button", 0, tk::FLAG_PRESSED, true},
    };
    const int x = 20, y = 20, w = 44, h = 24, top = y - 1, r = x + w - 1, b = y + h - 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        value[0] = c.bound;
        add({at(c.program), VALUE, x, y, w, h, tk::KIND_BUTTON, c.flags, 9});
        tk::redraw_widget(0);
        EXPECT_EQ(canvas.at(x, top), colour(c.sunken ? 1 : 4)) << "the frame starts one row above the widget";
        EXPECT_EQ(canvas.at(x + 1, top + 1), colour(c.sunken ? 2 : 9));
        EXPECT_EQ(canvas.at(r, b), colour(c.sunken ? 4 : 1));
        EXPECT_EQ(canvas.at(r - 1, b - 1), colour(c.sunken ? 9 : 2));
        EXPECT_EQ(canvas.at(x, top - 1), fill);
    }
}

TEST_F(Program, StringShowsItsCursorOnlyWithFocus) {
    for (bool focused : {false, true}) {
        SCOPED_TRACE(focused);
        SetUp();
        const int32_t id = add({at("string"), GREETING, 20, 20, 68, 24, tk::KIND_TEXT, 0, 3, 1});
        tk::input.focus = focused ? id : -1;
        tk::redraw_widget(id);
        if (!focused) { // with focus the dotted mark crosses the text
            EXPECT_TRUE(text_at(24, 23, "hi", 0));
        }
        for (int row : {23 + 14, 23 + 15}) {
            EXPECT_EQ(canvas.at(24 + 9, row), focused ? colour(14) : colour(3)) << "under character pos 1";
            EXPECT_EQ(canvas.at(24 + 17, row), focused ? colour(14) : colour(3));
            EXPECT_EQ(canvas.at(24 + 8, row), colour(3));
            EXPECT_EQ(canvas.at(24 + 18, row), colour(3));
        }
    }
}

TEST_F(Program, BarFillsCellsAndLeavesThePen) {
    add({at("bar")});
    tk::redraw_widget(0);
    EXPECT_EQ(canvas.at(24 + 26, 23 + 15), colour(9));
    EXPECT_EQ(canvas.at(24 + 27, 23), colour(3)) << "3 cells are 27 pixels";
    EXPECT_EQ(canvas.at(24, 23 + 16), colour(3)) << "16 rows";
    EXPECT_TRUE(text_at(24, 23, "X", 0)) << "the text after the bar starts where the bar did";
}

TEST_F(Program, TextLines) {
    struct Case {
        const char* what;
        uint8_t row;
        int16_t width;
        uint8_t cursor_row, shape;
        int select_from, select_to; // indices into line 0, -1 for no selection
        const char* cells;          // '.' blank, '#' selected: black on red
        int cursor;                 // 0 none, 1 underline, 2 box, in cell 2
    };
    const Case cases[] = {
        {"line 0 up to its line feed", 0, 100, 5, 1, -1, -1, "ab.c.....", 0},
        {"a selection shows black on red", 0, 100, 5, 1, 1, 3, "a##c.....", 0},
        {"the width limit counts from the framebuffer's left edge", 0, 30, 5, 1, -1, -1, "ab.......", 0},
        {"entry 0 draws only the cursor", 1, 100, 1, 1, -1, -1, "..", 1},
        {"the box cursor", 1, 100, 1, 0, -1, -1, "..", 2},
        {"no cursor on another row", 1, 100, 0, 1, -1, -1, ".........", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        lines[0] = LINE0;
        lines[1] = 0;
        tk::text_cursor.row[0] = c.cursor_row;
        tk::text_cursor.column[0] = 2;
        tk::text_cursor.shape = c.shape;
        if (c.select_from >= 0) {
            tk::text_cursor.select_start = reinterpret_cast<uint8_t*>(line0) + c.select_from;
            tk::text_cursor.select_end = reinterpret_cast<uint8_t*>(line0) + c.select_to;
        }
        add({at("lines"), LINES, 0, 20, c.width, 16, tk::KIND_STATIC, 0, 3, 0, c.row});
        tk::redraw_widget(0);
        for (int i = 0; c.cells[i] != '\0'; ++i) {
            SCOPED_TRACE(i);
            const int cx = 9 * i;
            if (c.cells[i] == '.') {
                for (int dx = 0; dx < 8; ++dx) {
                    const uint32_t blank = cx + dx < c.width ? colour(3) : fill;
                    for (int dy = 0; dy < 16; ++dy) ASSERT_EQ(canvas.at(cx + dx, 20 + dy), blank);
                }
            } else if (c.cells[i] == '#') {
                const char selected[] = {line0[i], '\0'};
                EXPECT_TRUE(text_at(cx, 20, selected, 0));
                EXPECT_EQ(canvas.at(cx + 8, 20 + 15), colour(7)) << "selected cells are filled in red";
            } else {
                const char shown[] = {c.cells[i], '\0'};
                EXPECT_TRUE(text_at(cx, 20, shown, 7));
            }
        }
        if (c.row != 1) continue; // the cursor in cell 2 of row 1
        const uint32_t cursor = c.cursor ? colour(14) : colour(3),
                       box = c.cursor == 2 ? colour(14) : colour(3);
        EXPECT_EQ(canvas.at(18, 35), cursor);
        EXPECT_EQ(canvas.at(26, 34), cursor);
        EXPECT_EQ(canvas.at(18, 20), box);
        EXPECT_EQ(canvas.at(26, 25), box);
        EXPECT_EQ(canvas.at(27, 35), colour(3));
        EXPECT_EQ(canvas.at(22, 25), colour(3));
    }
}

TEST_F(Program, TraceLightsOneRedPointPerSample) {
    std::fill(samples, samples + 64, int8_t{100}); // frame 0, which must not be drawn
    std::fill(samples + 64, samples + 128, int8_t{8});
    samples[64 + 0] = 0;
    samples[64 + 1] = -128;
    samples[64 + 2] = 127;
    samples[64 + 3] = -1;
    value[0] = 1;
    const int x = 20, y = 20;
    add({at("trace"), VALUE, x, y, 70, 36});
    tk::redraw_widget(0);
    EXPECT_EQ(canvas.at(x + 1, y + 16), 0xFF0000u) << "0 on the middle row";
    EXPECT_EQ(canvas.at(x + 2, y + 32), 0xFF0000u) << "-128 on the lowest";
    EXPECT_EQ(canvas.at(x + 3, y + 1), 0xFF0000u) << "127 on the highest";
    EXPECT_EQ(canvas.at(x + 4, y + 17), 0xFF0000u) << "-1 rounds down";
    EXPECT_EQ(canvas.at(x + 64, y + 15), 0xFF0000u) << "the 64th sample";
    EXPECT_EQ(canvas.at(x + 1, y + 4), 0u) << "frame 0 is not drawn";
    EXPECT_EQ(canvas.at(x + 69, y + 32), 0u) << "black box over the whole width";
    EXPECT_EQ(canvas.at(x, y), colour(3));
    EXPECT_EQ(canvas.at(x, y + 33), colour(3));
}

TEST_F(Program, MaskBlackensOnlyExactly0x80) {
    const uint8_t frame1[8] = {0x80, 0x7F, 0x81, 0xFF, 0x00, 0x80, 0x80, 0x01};
    std::memset(mask_bytes, 0x80, 8); // frame 0, which must not be used
    std::memcpy(mask_bytes + 8, frame1, 8);
    value[0] = 1;
    add({at("mask"), VALUE, 20, 20, 10, 10, tk::KIND_STATIC, 0, 9});
    tk::redraw_widget(0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(canvas.at(20 + i % 4, 20 + i / 4), frame1[i] == 0x80 ? 0u : colour(9)) << i;
    EXPECT_EQ(canvas.at(24, 20), colour(9));
}

TEST_F(Program, BlitCopiesTheImageAndStopsAtTheEdge) {
    for (uint32_t i = 0; i < 6; ++i) image[i] = 0x00102030 + i;
    add({at("blit"), 0, 20, 20, 10, 10});
    add({at("blit"), 0, 198, 40, 2, 2});
    tk::redraw_all();
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(canvas.at(20 + i % 3, 20 + i / 3), image[i]);
    EXPECT_EQ(canvas.at(23, 20), colour(3));
    EXPECT_EQ(canvas.at(199, 41), image[4]);
    EXPECT_EQ(canvas.at(0, 39), fill) << "the third column does not wrap into the next row";
}

TEST_F(Program, RedrawAllPaintsInSlotOrder) {
    add({at("face"), 0, 20, 20, 30, 30, tk::KIND_STATIC, 0, 9});
    add({at("face"), 0, 40, 40, 30, 30, tk::KIND_STATIC, 0, 10});
    tk::redraw_all();
    EXPECT_EQ(canvas.at(45, 45), colour(10));
    EXPECT_EQ(canvas.at(21, 21), colour(9));
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
    const Widget inverted{at("ok"), 0, 8, 8, 44, 24, tk::KIND_BUTTON, tk::FLAG_ENTER, 9};
    expect("widget_button_raised", {button});
    expect("widget_button_pressed", {pressed});
    expect("widget_button_focused", {button}, 0);
    expect("widget_inverted_focus", {inverted}, 0);
    expect("widget_slider", {{at("slider"), tk::make_ref(1, 2), 8, 6, 68, 36, tk::KIND_SLIDER}});
    expect("widget_check_frame", {{at("check"), VALUE, 4, 12, 36, 24, tk::KIND_TOGGLE},
                                  {at("check"), tk::make_ref(1, 1), 44, 12, 36, 24, tk::KIND_TOGGLE}});
}

} // namespace
