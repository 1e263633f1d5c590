// Redrawing a whole window of widgets shaped like the main window (a background, a
// text panel, buttons, eight rows of register dumps and sliders), compared with a
// memset of as many bytes as the widgets cover.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <vector>

#include "toolkit/assembler.h"
#include "toolkit/input.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

// The values the widgets show: 32-bit register halves and four bytes a row, then one flag.
struct Table {
    uint32_t reg_low[8];
    uint32_t reg_high[8];
    uint8_t rows[8][4]; // state, multi, vcore, nb
    uint8_t auto_mode;
} table;
uint8_t cpu[4] = {0x0F, 0x04, 0x02, 0x10}; // family, model, stepping, extended family

tk::Binding bindings[] = {{}, {&table}, {cpu}};
constexpr uint32_t REG_LOW = tk::make_ref(1, 0), REG_HIGH = tk::make_ref(1, 32);
constexpr uint32_t STATE = tk::make_ref(1, 64), MULTI = tk::make_ref(1, 65), VCORE = tk::make_ref(1, 66);
constexpr uint32_t NB = tk::make_ref(1, 67), AUTO_MODE = tk::make_ref(1, 96);

// clang-format off
constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("background"), end(),
        label("panel"), text("CPU:"), text(" family "), hex_at(tk::make_ref(2, 0), 0x01),
            text("  model "), hex_at(tk::make_ref(2, 1), 0x01),
            text_newline(16, "  ex.family "), hex_at(tk::make_ref(2, 3), 0x02),
            text("  cores "), ink(6), hex_at(tk::make_ref(2, 2), 0x01), end(),
        label("load"), frame(), text("load"), end(),
        label("heading"), text("register dumps     multi    Vcore    NB"), end(),
        label("pstate"), check_frame(), jump_if(2, "lit"), jump_if(3, "lit"), text("P-State "), row_digit(), end(),
        label("lit"), ink(5), text("P-State "), row_digit(), end(),
        label("dump"), ink(6), hex(0x88), end(),
        label("multi"), ink(5), slider(8, 63), dec(5, 0x21), end(),
        label("volt"), ink(5), slider(69, 124), dec(125, 0x14), end(),
        label("up"), frame(), jump_if_at(0, "up_label", AUTO_MODE), ink(2),
        label("up_label"), text("up \x18"), end(),
        label("apply"), frame(), text("apply settings"), end(),
    };
});
// clang-format on

tk::Template place(uint32_t program, uint32_t data, int16_t x, int16_t y, int16_t w, uint16_t h,
                   uint8_t kind) {
    tk::Template t{};
    t.program = program;
    t.data = data;
    t.x = x;
    t.y = y;
    t.width = w;
    t.height = h;
    t.kind = kind;
    t.colour = 3;
    return t;
}

const tk::Template header[] = {
    place(programs.offset("background"), 0, 0, 0, -1, 400, tk::KIND_STATIC),
    place(programs.offset("panel"), 0, 8, 4, 376, 36, tk::KIND_STATIC),
    place(programs.offset("load"), 0, 376, 8, 44, 24, tk::KIND_BUTTON),
    place(programs.offset("load"), 0, 434, 8, 44, 24, tk::KIND_BUTTON),
    place(programs.offset("heading"), 0, 108, 44, 256, 20, tk::KIND_STATIC),
    {},
};
const tk::Template row[] = {
    place(programs.offset("pstate"), STATE, 8, 8, 88, 24, tk::KIND_TOGGLE),
    place(programs.offset("dump"), REG_HIGH, 108, 8, 80, 24, tk::KIND_STATIC),
    place(programs.offset("dump"), REG_LOW, 192, 8, 80, 24, tk::KIND_STATIC),
    place(programs.offset("multi"), MULTI, 284, 0, 68, 36, tk::KIND_SLIDER),
    place(programs.offset("volt"), VCORE, 364, 0, 68, 36, tk::KIND_SLIDER),
    place(programs.offset("volt"), NB, 444, 0, 68, 36, tk::KIND_SLIDER),
    {},
};
const tk::Template buttons[] = {
    place(programs.offset("up"), 0, 8, 0, 46, 24, tk::KIND_BUTTON),
    place(programs.offset("up"), 0, 62, 0, 64, 24, tk::KIND_BUTTON),
    place(programs.offset("up"), 0, 134, 0, 64, 24, tk::KIND_BUTTON),
    place(programs.offset("load"), 0, 224, 0, 72, 24, tk::KIND_BUTTON),
    place(programs.offset("load"), 0, 312, 0, 42, 24, tk::KIND_BUTTON),
    place(programs.offset("apply"), 0, 400, 0, 136, 24, tk::KIND_BUTTON),
    {},
};
const tk::Template* const sets[] = {header, buttons, row};

// Fills the widget table like the main window with eight P-states; returns the bytes the widgets cover.
size_t build_window(std::vector<uint32_t>& pixels) {
    pixels.assign(544 * 400, 0);
    tk::reset_window();
    tk::window.fb = {pixels.data(), 544, 400};
    tk::reset_widgets();
    tk::reset_input();
    tk::set_resources({programs.data(), programs.size, bindings, std::size(bindings), sets, std::size(sets)});
    for (int i = 0; i < 8; ++i) {
        table.reg_low[i] = 0x80000000u | (0x1234u * i);
        table.reg_high[i] = 0x000001A0u + i;
        table.rows[i][0] = i == 0 ? 3 : 1;
        table.rows[i][1] = static_cast<uint8_t>(40 - i);
        table.rows[i][2] = static_cast<uint8_t>(100 + i);
        table.rows[i][3] = 90;
    }
    tk::add_template_set(0, 0, 0, 0);
    for (int i = 0; i < 8; ++i) tk::add_template_set(i, 68 + 36 * i, 0, 2);
    tk::add_template_set(0, 364, 0, 1);
    tk::sync_sliders();
    size_t bytes = 0;
    for (uint32_t id = 0; id < tk::widgets.used_length; id += 4)
        bytes += size_t{tk::wwidth(static_cast<int32_t>(id))} * tk::wheight(static_cast<int32_t>(id)) * 4;
    return bytes;
}

void BM_redraw_all(benchmark::State& state) {
    std::vector<uint32_t> pixels;
    const size_t bytes = build_window(pixels);
    for (auto _ : state) {
        tk::redraw_all();
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["widgets"] = tk::widgets.used_length / 4;
    tk::reset_window();
}
BENCHMARK(BM_redraw_all);

// The floor: writing the same number of bytes with memset.
void BM_memset_widget_area(benchmark::State& state) {
    std::vector<uint32_t> pixels;
    const size_t bytes = build_window(pixels);
    tk::reset_window();
    std::vector<uint8_t> target(bytes);
    for (auto _ : state) {
        std::memset(target.data(), 0x5A, bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_memset_widget_area);

} // namespace
