// The live page as data, like the main page: its drawing programs, bindings and
// template sets, and the refresh that turns a sample into the texts, bar levels
// and trace samples the widgets are bound to.
#include "app/watch_page.h"

#include <climits>
#include <cstdio>

#include "app/layouts.h"
#include "app/main_window.h"
#include "app/pstate.h"
#include "app/watch.h"
#include "platform/os.h"
#include "platform/window.h"
#include "toolkit/assembler.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace app {

WatchPageState watch_page;

namespace {

enum BindingIndex : uint32_t {
    B_NONE,
    B_BACK,
    B_PACKAGE,
    B_REFERENCE,
    B_CELSIUS_SCALE,
    B_WATTS_SCALE,
    B_CORES, // cores[0]; + 16 per processor
    B_CELSIUS_TRACE,
    B_WATTS_TRACE,
    B_COUNT,
};

// clang-format off
const tk::Binding bindings[B_COUNT] = {
    {},
    {nullptr, close_watch_page},
    {watch_page.package, nullptr},
    {watch_page.reference, nullptr},
    {watch_page.celsius_scale, nullptr},
    {watch_page.watts_scale, nullptr},
    {&watch_page.cores[0], nullptr},
    {watch_page.celsius_trace, nullptr},
    {watch_page.watts_trace, nullptr},
};
// clang-format on

constexpr auto programs = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("background"),
        end(),
        label("title"),
        text("live view, traces of the last minute"),
        ink(2),
        text("   F2: back"),
        end(),
        label("back"),
        frame(),
        text("back"),
        end(),
        label("text"),
        string(),
        end(),
        label("value"),
        ink(6),
        string(),
        end(),
        label("celsius_trace"),
        trace(tk::make_ref(B_CELSIUS_TRACE)),
        end(),
        label("watts_trace"),
        trace(tk::make_ref(B_WATTS_TRACE)),
        end(),
        label("meter"),
        meter(5, 16),
        end(),
    };
});

consteval uint32_t P(std::string_view name) {
    return programs.offset(name);
}

using tk::KIND_BUTTON, tk::KIND_STATIC;
constexpr uint8_t face = 3; // light grey

enum PageSet : int32_t { SET_PAGE, SET_CORE };

// clang-format off
//                      program              data                            x    y  width height pos row kind         colour flags hotkey
const tk::Template page[] = {
    {P("background"),     0,                                 0,   0,   -1,   400,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("title"),          0,                                 8,   8,  400,    20,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("back"),           tk::make_ref(B_BACK),            470,   6,   66,    24,   0, 0, KIND_BUTTON, face, 0,    0, 0},
    {P("value"),          tk::make_ref(B_PACKAGE),           8,  34,  528,    20,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("celsius_trace"),  0,                                 8,  56,   66,    34,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("text"),           tk::make_ref(B_CELSIUS_SCALE),    78,  64,  190,    20,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("watts_trace"),    0,                               280,  56,   66,    34,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("text"),           tk::make_ref(B_WATTS_SCALE),     350,  64,  186,    20,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("text"),           tk::make_ref(B_REFERENCE),         8,  94,  528,    20,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {},
};

const tk::Template core[] = {
    {P("value"),          tk::make_ref(B_CORES, 0),          0,   0,  116,    16,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {P("meter"),          tk::make_ref(B_CORES, 15),       112,   0,  152,    16,   0, 0, KIND_STATIC, face, 0,    0, 0},
    {},
};
// clang-format on

const tk::Template* const template_sets[] = {page, core};

// Where processor line i stands: two columns of 16 lines, the rest's line below the second.
constexpr int32_t line_y(uint32_t i) {
    return int32_t(116 + 16 * (i % 16) + (i == page_core_rows ? 16 * 16 : 0));
}
constexpr int32_t line_x(uint32_t i) {
    return i >= 16 ? 280 : 8;
}

// Nothing focused, pressed or dragged survives a change of page: those ids name the other page's widgets.
void forget_input() {
    tk::input.focus = -1;
    tk::input.pressed_widget = -1;
    tk::input.drag_anchor = -1;
}

// The widget table of the page: its header, then a line per processor shown.
void add_page() {
    tk::add_template_set(0, 0, 0, SET_PAGE);
    const uint32_t count = watch.sample.count;
    const uint32_t lines = count > page_core_rows ? page_core_rows + 1 : count;
    for (uint32_t i = 0; i < lines; ++i) tk::add_template_set(int32_t(4 * i), line_y(i), line_x(i), SET_CORE);
}

// P0's frequency in whole MHz: what the bars are measured against; 0 when unknown.
uint32_t reference_mhz() {
    const uint32_t row = load_shared(pstate.pstate_offset);
    if (row >= load_shared(pstate.pstate_count)) return 0;
    const Quantity q =
        frequency_of(current_layout(), join(pstate.table.reg_low[row], pstate.table.reg_high[row]));
    return q.state == Quantity::value ? uint32_t(q.amount / 100) : 0;
}

uint8_t level_of(uint32_t mhz, uint32_t reference) {
    if (reference == 0) return 0;
    const uint64_t level = uint64_t(mhz) * 255 / reference;
    return uint8_t(level > 255 ? 255 : level);
}

// A line's text: "  3 P2  3600"; the rest's line has "+" for its P-state.
void set_label(PageCore& line, uint32_t processor, char pstate_digit, const char* clock) {
    char text[48];
    if (pstate_digit == '+')
        std::snprintf(text, sizeof text, "%3u+   %5s", processor, clock);
    else
        std::snprintf(text, sizeof text, "%3u P%c %5s", processor, pstate_digit, clock);
    std::snprintf(line.label, sizeof line.label, "%.14s", text);
}

void fill_lines() {
    const WatchSample& s = watch.sample;
    const uint32_t reference = reference_mhz();
    const uint32_t own = s.count < page_core_rows ? s.count : page_core_rows;
    for (uint32_t p = 0; p < own; ++p) {
        const CoreReading& r = s.cores[p];
        char clock[16] = "-";
        if (r.clock == Clock::idle) std::snprintf(clock, sizeof clock, "idle");
        if (r.clock == Clock::value) std::snprintf(clock, sizeof clock, "%u", r.mhz);
        set_label(watch_page.cores[p], p, r.pstate >= 0 ? char('0' + r.pstate) : '-', clock);
        watch_page.cores[p].level = r.clock == Clock::value ? level_of(r.mhz, reference) : 0;
    }
    if (s.count <= page_core_rows) return;
    // The rest as one line: the mean clock of those that ran.
    uint64_t sum = 0, running = 0;
    bool idle = false;
    for (uint32_t p = page_core_rows; p < s.count; ++p) {
        if (s.cores[p].clock == Clock::value) sum += s.cores[p].mhz, ++running;
        idle = idle || s.cores[p].clock == Clock::idle;
    }
    PageCore& rest = watch_page.cores[page_core_rows];
    char clock[16] = "-";
    if (idle) std::snprintf(clock, sizeof clock, "idle");
    if (running != 0) std::snprintf(clock, sizeof clock, "%u", uint32_t(sum / running));
    set_label(rest, page_core_rows, '+', clock);
    rest.level = running != 0 ? level_of(uint32_t(sum / running), reference) : 0;
}

// A history as trace samples: the range from one row above the trace's bottom edge (-120) to its
// top (127); an unknown reading, and a time before the page was opened, lies on the bottom edge.
void fill_trace(const int32_t* history, int32_t low, int32_t high, int8_t* trace) {
    for (uint32_t i = 0; i < page_history; ++i) {
        const int64_t v =
            history[i] == INT32_MIN ? -128 : -120 + (int64_t(history[i]) - low) * 247 / (high - low);
        trace[i] = int8_t(v < -120 && history[i] != INT32_MIN ? -120 : v > 127 ? 127 : v);
    }
}

void push(int32_t* history, bool known, int32_t value) {
    for (uint32_t i = 0; i + 1 < page_history; ++i) history[i] = history[i + 1];
    history[page_history - 1] = known ? value : INT32_MIN;
}

void fill_package() {
    const WatchSample& s = watch.sample;
    push(watch_page.celsius_history, s.celsius_known, s.millicelsius / 100);
    push(watch_page.watts_history, s.watts_known, int32_t(s.milliwatts / 100));
    char celsius[16] = "-", watts[16] = "-";
    if (s.celsius_known) std::snprintf(celsius, sizeof celsius, "%.1f", s.millicelsius / 1000.0);
    if (s.watts_known) std::snprintf(watts, sizeof watts, "%.1f", s.milliwatts / 1000.0);
    std::snprintf(watch_page.package, sizeof watch_page.package, "package: Tctl %s C   power %s W", celsius,
                  watts);

    // Temperatures between 20 and 100 degrees; power from 0 to the first of 10, 20, 50, 100, ... W
    // that holds every sample.
    fill_trace(watch_page.celsius_history, 200, 1000, watch_page.celsius_trace);
    int32_t most = 0;
    for (int32_t w : watch_page.watts_history) most = w > most ? w : most;
    int32_t top = 100;
    for (int32_t step = 0; top < most; ++step) top = top * (step % 3 == 1 ? 5 : 2) / (step % 3 == 1 ? 2 : 1);
    fill_trace(watch_page.watts_history, 0, top, watch_page.watts_trace);
    std::snprintf(watch_page.watts_scale, sizeof watch_page.watts_scale, "power 0..%d W", top / 10);
}

void fill_texts() {
    std::snprintf(watch_page.celsius_scale, sizeof watch_page.celsius_scale, "Tctl 20..100 C");
    const uint32_t reference = reference_mhz();
    if (reference != 0)
        std::snprintf(watch_page.reference, sizeof watch_page.reference,
                      "processor, P-state, MHz; bars against P0 (%u MHz)", reference);
    else
        std::snprintf(watch_page.reference, sizeof watch_page.reference, "processor, P-state, MHz");
}

// Waits until the ticker has passed its last check of `shown` and ended.
void wait_for_ticker() {
    while (load_shared(watch_page.ticker_running) != 0) platform::os_sleep_ms(1);
}

// Asks the window for a refresh once a period while the page is shown.
void ticker() {
    const uint32_t period = watch_page.tick_ms;
    while (load_shared(watch_page.shown) != 0) {
        for (uint32_t slept = 0; slept < period && load_shared(watch_page.shown) != 0; slept += 20)
            platform::os_sleep_ms(20);
        if (load_shared(watch_page.shown) != 0) platform::window_post_message(tk::WM_USER, 0, 0);
    }
    store_shared(watch_page.ticker_running, 0);
}

void stop_ticker() {
    store_shared(watch_page.shown, 0);
    wait_for_ticker();
    tk::window.user_message_hook_enabled = 0;
}

} // namespace

void reset_watch_page() {
    stop_ticker();
    watch_page = WatchPageState{};
}

void watch_page_key(uint32_t key) {
    if (key != page_key) return;
    if (load_shared(watch_page.shown) != 0)
        close_watch_page();
    else
        open_watch_page();
}

void open_watch_page() {
    wait_for_ticker();
    const uint32_t tick_ms = watch_page.tick_ms;
    watch_page = WatchPageState{};
    watch_page.tick_ms = tick_ms;
    for (uint32_t i = 0; i < page_history; ++i)
        watch_page.celsius_history[i] = watch_page.watts_history[i] = INT32_MIN;
    watch_begin();
    // Lines for every processor from the start: the first sample fills them.
    for (uint32_t p = 0; p < watch.sample.count; ++p)
        watch.sample.cores[p] = {Clock::unknown,        0, false, 0, -1, {Quantity::unknown, 0},
                                 {Quantity::unknown, 0}};
    fill_lines();
    fill_texts();
    fill_trace(watch_page.celsius_history, 200, 1000, watch_page.celsius_trace);
    fill_trace(watch_page.watts_history, 0, 100, watch_page.watts_trace);
    std::snprintf(watch_page.package, sizeof watch_page.package, "package: Tctl - C   power - W");
    std::snprintf(watch_page.watts_scale, sizeof watch_page.watts_scale, "power 0..10 W");

    forget_input();
    tk::reset_widgets();
    tk::set_resources(tk::resources_of(programs, bindings, template_sets));
    add_page();
    tk::redraw_all();
    tk::present();

    store_shared(watch_page.shown, 1);
    tk::window.hooks.user_message = watch_page_tick;
    tk::window.user_message_hook_enabled = 1;
    if (watch_page.tick_ms == 0) return;
    store_shared(watch_page.ticker_running, 1);
    if (!platform::os_start_thread(ticker)) store_shared(watch_page.ticker_running, 0);
}

void close_watch_page(int32_t) {
    stop_ticker();
    forget_input();
    tk::reset_widgets();
    install_main_window();
    add_main_window(load_shared(pstate.pstate_count), current_layout(), layout_state.certain);
    tk::sync_sliders();
    tk::redraw_all();
    tk::present();
}

void watch_page_tick() {
    if (load_shared(watch_page.shown) == 0) return;
    watch_sample();
    ++watch_page.samples;
    fill_lines();
    fill_package();
    tk::redraw_all();
    tk::present();
}

} // namespace app
