// The main window as data: the drawing programs, the bindings they and the
// templates refer to, and the five template sets.
#include "app/main_window.h"

#include "app/actions.h"
#include <cstdio>

#include "app/governor.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/watch_page.h"
#include "toolkit/assembler.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace app {

MainWindowState main_window;

namespace {

// The "load" button ignores whether loading worked.
void load_action(int32_t id) {
    load_settings(id);
}

// Binding table: what the references in programs and templates name.
enum BindingIndex : uint32_t {
    B_NONE,
    B_REG_HIGH, // reg_high[0]; + 4 per row
    B_REG_LOW,  // reg_low[0]
    B_ROWS,     // row bytes of row 0: state, multi, vcore, nb
    B_AUTO_MODE,
    B_FAMILY,
    B_MODEL,
    B_STEPPING,
    B_EX_FAMILY,
    B_EX_MODEL,
    B_CORES, // the processor count as decimal text
    B_LOAD,
    B_SAVE,
    B_STEP_UP,
    B_TOGGLE_AUTO,
    B_STEP_DOWN,
    B_REFRESH,
    B_EXIT,
    B_APPLY,
    B_AMPS,      // amps[0]: each row's current limit in 1/100 A; + 4 per row
    B_HEADING,   // the heading text of the layout's header
    B_NOTE,      // the layout's note
    B_UNCERTAIN, // 1 when the layout is uncertain
    B_COUNT,
};

// clang-format off
const tk::Binding bindings[B_COUNT] = {
    {},
    {&pstate.table.reg_high[0], nullptr},
    {&pstate.table.reg_low[0], nullptr},
    {&pstate.table.rows[0], nullptr},
    {&pstate.auto_mode, nullptr},
    {&startup.family, nullptr},
    {&startup.model, nullptr},
    {&startup.stepping, nullptr},
    {&startup.ex_family, nullptr},
    {&startup.ex_model, nullptr},
    {main_window.cores, nullptr},
    {nullptr, load_action},
    {nullptr, save_settings},
    {nullptr, step_up},
    {nullptr, toggle_auto},
    {nullptr, step_down},
    {nullptr, refresh},
    {nullptr, exit_program},
    {nullptr, apply_settings},
    {&pstate.amps[0], nullptr},
    {main_window.heading, nullptr},
    {main_window.note, nullptr},
    {&main_window.uncertain, nullptr},
};
// clang-format on

constexpr uint32_t ref(BindingIndex b, uint32_t offset = 0) {
    return tk::make_ref(b, offset);
}

constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        // The window's background: the face only.
        label("background"),
        end(),

        // The CPU panel: identification in two lines.
        label("cpu_panel"),
        text("CPU:"),
        text(" family "),
        hex_at(ref(B_FAMILY), 0x01),
        text("  model "),
        hex_at(ref(B_MODEL), 0x01),
        text("  stepping "),
        hex_at(ref(B_STEPPING), 0x01),
        text_newline(16, "  ex.family "),
        hex_at(ref(B_EX_FAMILY), 0x02),
        text("  ex.model "),
        hex_at(ref(B_EX_MODEL), 0x02),
        text("  cores "),
        ink(6),
        string(), // the widget's text: the processor count
        end(),

        label("load"),
        frame(),
        text("load"),
        end(),
        label("save"),
        frame(),
        text("save"),
        end(),
        label("heading"),
        text("register dumps     multi    Vcore    NB"),
        end(),

        // A P-state's enable toggle; the current P-state's label is green.
        label("pstate_button"),
        check_frame(),
        jump_if(2, "pstate_current"),
        jump_if(3, "pstate_current"),
        text("P-State "),
        row_digit(),
        end(),
        label("pstate_current"),
        ink(5),
        text("P-State "),
        row_digit(),
        end(),

        label("register_dump"),
        ink(6),
        hex(0x88),
        end(),
        label("multi_slider"),
        ink(5),
        slider(8, 63),
        dec(5, 0x21),
        end(),
        label("voltage_slider"),
        ink(5),
        slider(69, 124),
        dec(125, 0x14),
        end(),

        // Fine sliders: one knob step is one value of the field. Bytes 0 and 1 are no value
        // of the scale: the field is off, or holds something between the steps.
        label("freq_slider"),
        ink(5),
        slider(0, 241),
        jump_if(0, "freq_off"),
        jump_if(1, "freq_other"),
        number(0x40, 1, 25, 350), // MHz, 400 + 25 per step
        end(),
        label("freq_off"),
        text(" off"),
        end(),
        label("freq_other"),
        text("other"),
        end(),
        label("svi1_slider"),
        ink(5),
        slider(0, 124),
        jump_if(0, "svi1_off"),
        jump_if(1, "svi1_other"),
        dec(125, 0x14), // 12.5 mV steps
        end(),
        label("svi1_off"),
        text("   off"),
        end(),
        label("svi1_other"),
        text(" other"),
        end(),
        label("svi2_slider"),
        ink(5),
        slider(0, 248),
        jump_if(0, "svi2_off"),
        jump_if(1, "svi2_other"),
        number(0x15, 1, 625, 0), // 6.25 mV steps
        end(),
        label("svi2_off"),
        text("    off"),
        end(),
        label("svi2_other"),
        text("  other"),
        end(),
        label("svi3_slider"),
        ink(5),
        slider(0, 255),
        jump_if(0, "svi3_off"),
        jump_if(1, "svi3_other"),
        number(0x15, 1, 500, 27500), // 5 mV steps from 0.285 V
        end(),
        label("svi3_off"),
        text("    off"),
        end(),
        label("svi3_other"),
        text("  other"),
        end(),
        label("pvi_slider"),
        ink(5),
        slider(0, 62),
        jump_if(0, "pvi_off"),
        jump_if(1, "pvi_other"),
        number(0x14, 1, 250, 0), // 25 mV steps
        end(),
        label("pvi_off"),
        text("   off"),
        end(),
        label("pvi_other"),
        text(" other"),
        end(),
        label("amps"),
        ink(6),
        number(0x32, 4, 1, 0), // 1/100 A
        end(),
        label("heading_ext"),
        string(),
        end(),
        label("layout_note"),
        jump_if_at(0, "layout_note_text", ref(B_UNCERTAIN)),
        ink(7),
        label("layout_note_text"),
        string(),
        end(),

        label("nb_indicator"),
        frame(),
        jump_if(0, "nb_high"),
        text(" low"),
        end(),
        label("nb_high"),
        text(" high"),
        end(),

        label("empty_row"),
        frame(),
        ink(2),
        text("P-State "),
        row_digit(),
        end(),

        // "up" and "down" are grey while auto mode is on.
        label("up"),
        frame(),
        jump_if_at(0, "up_label", ref(B_AUTO_MODE)),
        ink(2),
        label("up_label"),
        text("up \x18"),
        end(),
        label("auto"),
        frame(),
        jump_if_at(0, "auto_manual", ref(B_AUTO_MODE)),
        text(" AUTO"),
        end(),
        label("auto_manual"),
        text("MANUAL"),
        end(),
        label("down"),
        frame(),
        jump_if_at(0, "down_label", ref(B_AUTO_MODE)),
        ink(2),
        label("down_label"),
        text("down \x19"),
        end(),
        label("refresh"),
        frame(),
        text("refresh"),
        end(),
        label("exit"),
        frame(),
        text("exit"),
        end(),
        label("apply"),
        frame(),
        text("apply settings"),
        end(),
    };
});

consteval uint32_t P(std::string_view name) {
    return programs.offset(name);
}

using tk::KIND_BUTTON, tk::KIND_SLIDER, tk::KIND_STATIC, tk::KIND_TOGGLE;
constexpr uint8_t face = 3; // light grey

// clang-format off
//                          program                  data                  x    y    width height pos row kind         colour flags hotkey
const tk::Template header[] = {
    {P("background"),      0,                      0,   0,  -1,  400,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {P("cpu_panel"),       ref(B_CORES),           8,   4, 376,   36,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {P("load"),            ref(B_LOAD),          376,   8,  44,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("save"),            ref(B_SAVE),          434,   8,  44,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("heading"),         0,                    108,  44, 256,   20,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {},
};

const tk::Template button_bar[] = {
    {P("up"),              ref(B_STEP_UP),         8,   0,  46,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("auto"),            ref(B_TOGGLE_AUTO),    62,   0,  64,   24,   0,  0, KIND_BUTTON, face, tk::FLAG_REDRAW_ALL, 0, 0},
    {P("down"),            ref(B_STEP_DOWN),     134,   0,  64,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("refresh"),         ref(B_REFRESH),       224,   0,  72,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("exit"),            ref(B_EXIT),          312,   0,  42,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {P("apply"),           ref(B_APPLY),         400,   0, 136,   24,   0,  0, KIND_BUTTON, face, 0,    0, 0},
    {},
};

// Rows are added with their row number: every data reference moves 4 bytes a row. The first
// five widgets are the same in both layouts; the northbridge widget differs.
constexpr tk::Template row_start[] = {
    {P("pstate_button"),   ref(B_ROWS, 0),         8,   8,  88,   24,   0,  0, KIND_TOGGLE, face, 0,    0, 0},
    {P("register_dump"),   ref(B_REG_HIGH),      108,   8,  80,   24,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {P("register_dump"),   ref(B_REG_LOW),       192,   8,  80,   24,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {P("multi_slider"),    ref(B_ROWS, 1),       284,   0,  68,   36,   0,  0, KIND_SLIDER, face, 0,    0, 0},
    {P("voltage_slider"),  ref(B_ROWS, 2),       364,   0,  68,   36,   0,  0, KIND_SLIDER, face, 0,    0, 0},
};
constexpr tk::Template nb_slider =
    {P("voltage_slider"),  ref(B_ROWS, 3),       444,   0,  68,   36,   0,  0, KIND_SLIDER, face, 0,    0, 0};
constexpr tk::Template nb_indicator =
    {P("nb_indicator"),    ref(B_ROWS, 3),       448,   8,  60,   24,   0,  0, KIND_STATIC, face, 0,    0, 0};

// A P-state row: the five common widgets, the northbridge widget, the end of the set.
constexpr std::array<tk::Template, 7> row_set(const tk::Template& nb) {
    return {row_start[0], row_start[1], row_start[2], row_start[3], row_start[4], nb, tk::Template{}};
}
constexpr auto pstate_row = row_set(nb_slider);
constexpr auto pstate_row_f15 = row_set(nb_indicator);

// A fine slider, one knob step a value of its field, over row byte `byte` in the column at x.
constexpr tk::Template fine_slider(uint32_t program, uint32_t byte, int16_t x) {
    return {program, ref(B_ROWS, byte), x, 0, 68, 36, 0, 0, KIND_SLIDER, face, tk::FLAG_FINE, 0, 0};
}
constexpr tk::Template freq_slider = fine_slider(P("freq_slider"), 1, 284);
constexpr tk::Template pvi_slider = fine_slider(P("pvi_slider"), 2, 364);
constexpr tk::Template pvi_nb_slider = fine_slider(P("pvi_slider"), 3, 444);
constexpr tk::Template svi1_slider = fine_slider(P("svi1_slider"), 2, 364);
constexpr tk::Template svi2_slider = fine_slider(P("svi2_slider"), 2, 364);
constexpr tk::Template svi3_slider = fine_slider(P("svi3_slider"), 2, 364);
constexpr tk::Template amps =
    {P("amps"),            ref(B_AMPS),          444,   8,  68,   24,   0,  0, KIND_STATIC, face, 0,    0, 0};

// Rows of the other layouts: the P-state button and the register dumps, then the layout's columns.
constexpr std::array<tk::Template, 7> columns(const tk::Template& a, const tk::Template& b,
                                              const tk::Template& c = tk::Template{}) {
    return {row_start[0], row_start[1], row_start[2], a, b, c, tk::Template{}};
}
constexpr auto row_f15_svi2 = columns(row_start[3], svi2_slider, nb_indicator);
constexpr auto row_svi1 = columns(freq_slider, svi1_slider);
constexpr auto pstate_row_pvi = columns(row_start[3], pvi_slider, pvi_nb_slider);
constexpr auto row_zen_svi2 = columns(freq_slider, svi2_slider, amps);
constexpr auto row_zen_svi3 = columns(freq_slider, svi3_slider, amps);
constexpr auto row_raw = columns(tk::Template{}, tk::Template{});

const tk::Template header_ext[] = {
    header[0], header[1], header[2], header[3],
    {P("heading_ext"),     ref(B_HEADING),       108,  44, 256,   20,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {P("layout_note"),     ref(B_NOTE),            8,  44,  96,   20,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {},
};

const tk::Template empty_row[] = {
    {P("empty_row"),       0,                      8,   8,  88,   24,   0,  0, KIND_STATIC, face, 0,    0, 0},
    {},
};
// clang-format on

// Indexed by set number.
const tk::Template* const template_sets[] = {
    header,
    button_bar,
    pstate_row.data(),
    pstate_row_f15.data(),
    empty_row,
    header_ext,
    row_f15_svi2.data(),
    row_svi1.data(),
    pstate_row_pvi.data(),
    row_zen_svi2.data(),
    row_zen_svi3.data(),
    row_raw.data(),
};

} // namespace

void install_main_window() {
    tk::set_resources(tk::resources_of(programs, bindings, template_sets));
    tk::window.hooks.key = watch_page_key;
}

void add_main_window(uint32_t count, const Layout& layout, bool certain) {
    std::snprintf(main_window.heading, sizeof main_window.heading, "%s",
                  layout.heading ? layout.heading : "");
    std::snprintf(main_window.note, sizeof main_window.note, "%s", certain ? layout.note : "uncertain");
    main_window.uncertain = certain ? 0 : 1;
    std::snprintf(main_window.cores, sizeof main_window.cores, "%u", startup.processor_count);
    const int32_t row_set = layout.row_set;
    tk::add_template_set(0, 0, 0, layout.header_set);
    for (uint32_t i = 0; i < 8; ++i) {
        const int32_t y = static_cast<int32_t>(68 + 36 * i);
        tk::add_template_set(static_cast<int32_t>(i), y, 0, i < count ? row_set : SET_EMPTY_ROW);
    }
    tk::add_template_set(0, 364, 0, SET_BUTTON_BAR);
}

} // namespace app
