// The main window as a user meets it: the layout for every P-state count, the
// Tab order, clicks, drags and keys reaching the table and the registers, and
// golden pictures of the whole window.
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/app_fixture.h"
#include "tests/test_support.h"
#include "toolkit/messages.h"

namespace {

using app::pstate;
using namespace tk;

class MainWindow : public test::AppTest {
  protected:
    // The widget whose top-left corner is (x, y); -1 if none.
    static int32_t at(int x, int y) {
        for (int32_t id = 0; valid_id(id); id += 4)
            if (wx(id) == x && wy(id) == y) return id;
        return -1;
    }
    // Sends a message through the window procedure, as the system would.
    static void send(uint32_t message, uintptr_t wparam = 0, int x = 0, int y = 0) {
        platform::headless_send(message, wparam, make_lparam(x, y));
    }
    static void click(int x, int y) { send(WM_LBUTTONDOWN, MK_LBUTTON, x, y), send(WM_LBUTTONUP, 0, x, y); }
    static void key(uint32_t vk) { send(WM_KEYDOWN, vk), send(WM_KEYUP, vk); }
};

// Catches: a wrong widget count, a P-state row where an empty row belongs or the other way round,
// a wrong row number or group, the button bar outside group 1 or without its redraw flag, and Tab
// visiting the controls out of order, skipping one, stopping on an empty row or not ending on none.
TEST_F(MainWindow, LayoutAndTabOrderForEveryPstateCount) {
    // The processor, its P-state count, the group of its P-state rows (2: with a northbridge column).
    // clang-format off
    const std::tuple<const char*, uint32_t, int> cases[] = {
        {"fam10h,pstates=2", 2, 2}, {"fam15h,pstates=2", 2, 6}, {"fam10h", 5, 2}, {"fam15h", 8, 6}, {"fam19h", 8, 9}};
    // clang-format on
    for (auto [sim, n, group] : cases) {
        SCOPED_TRACE(sim);
        start_quietly(sim);
        ASSERT_EQ(widgets.used_length, 4 * (19 + 5 * n + (group == 9 ? 1 : 0)));
        std::vector<std::pair<int, int>> tab_order = {{376, 8}, {434, 8}};
        for (uint32_t i = 0; i < 8; ++i) {
            const int y = 68 + 36 * int(i), label = at(8, y + 8);
            ASSERT_NE(label, -1) << i;
            EXPECT_EQ(std::pair(int(wrow(label)), int(wgroup(label))), std::pair(int(i), i < n ? group : 4));
            if (i < n) tab_order.insert(tab_order.end(), {{8, y + 8}, {284, y}, {364, y}});
            if (i < n && group == 2) tab_order.push_back({444, y});
        }
        for (int x : {8, 62, 134, 224, 312, 400}) {
            EXPECT_EQ(wgroup(at(x, 364)), 1) << x;
            tab_order.push_back({x, 364});
        }
        EXPECT_EQ(wflags(at(62, 364)), FLAG_REDRAW_ALL);
        for (const auto& [x, y] : tab_order) {
            key(VK_TAB);
            ASSERT_NE(input.focus, -1);
            EXPECT_EQ(std::pair(int(wx(input.focus)), int(wy(input.focus))), std::pair(x, y));
        }
        key(VK_TAB);
        EXPECT_EQ(input.focus, -1);
    }
}

// Catches, on every writable layout: a slider step that is not one value of its field (a fine
// slider counting pixels, a drawn knob that rewrites its byte), an encoding that touches other
// fields or rows, a processor left out, and a decode that does not show what was written.
TEST_F(MainWindow, OneSliderStepChangesExactlyThatFieldOnEveryProcessor) {
    // The processor, the slider's column (284 frequency, 364 voltage, 444 northbridge voltage), the
    // register bits it may change.
    const std::tuple<const char*, int, uint64_t> cases[] = {
        // clang-format off
        {"fam10h", 284, 0x1FF},           {"fam10h", 364, 0x7F << 9},         {"fam15h", 364, 0xFF << 9},
        {"fam17h", 284, 0x3FFF},          {"fam17h", 364, 0xFF << 14},        {"fam11h", 284, 0x1FF},
        {"fam11h", 364, 0x7F << 9},       {"fam15h-m01", 364, 0x7F << 9},     {"fam16h", 364, 0xFF << 9},
        {"fam19h", 284, 0x3FFF},          {"fam19h,cores=128", 364, 0xFF << 14},
        {"fam19h-m74", 364, 0x1003FC000}, {"fam1ah", 284, 0x3FFF},            {"fam1ah", 364, 0x1003FC000},
        {"fam10h,pvi=1", 364, 0x7F << 9}, {"fam10h,pvi=1", 444, 0xFEu << 24},
        // clang-format on
    };
    for (const auto& [sim, x, field] : cases) {
        SCOPED_TRACE(testing::Message() << sim << " column " << x);
        start_quietly(sim);
        const uint32_t row = app::load_shared(pstate.current_index) == 0 ? 1 : 0;
        ASSERT_NE(at(x, 68 + 36 * int(row)), -1) << "no slider";
        const app::PstateRow& edited = pstate.table.rows[row];
        const uint8_t& byte = x == 284 ? edited.multi : x == 364 ? edited.vcore : edited.nb;
        const uint8_t before_byte = byte;
        // Eight definition registers per processor: processor i / 8, row i % 8.
        const uint32_t registers = 8 * app::startup.processor_count;
        std::vector<uint64_t> before;
        for (uint32_t i = 0; i < registers; ++i) before.push_back(reg(i / 8, 0xC0010064 + i % 8));

        click(x + 2, 68 + 36 * int(row) + 2), key(VK_LEFT); // the focus without a drag, then one step
        EXPECT_EQ(byte, before_byte - 1);
        click(400 + 10, 364 + 10); // apply settings
        EXPECT_TRUE(boxes().empty()) << boxes().front().text;
        EXPECT_EQ(byte, before_byte - 1); // read back and decoded
        for (uint32_t i = 0; i < registers; ++i) {
            const uint64_t now = reg(i / 8, 0xC0010064 + i % 8), keep = ~(i % 8 == row ? field : 0);
            // Only the field's bits may change, and on the edited row they do.
            EXPECT_EQ(std::pair(now & keep, i % 8 != row || now != before[i]),
                      std::pair(before[i] & keep, true))
                << i / 8 << " " << i % 8;
        }
    }
}

TEST_F(MainWindow, GoldenPicturesAfterStartUp) {
    for (std::string sim :
         {"fam10h", "fam15h", "fam17h", "fam11h", "fam14h", "fam19h-m74", "fam17h-m90", "fam10h,pvi=1"}) {
        start_quietly(sim);
        const auto& h = platform::headless;
        ASSERT_EQ(h.frame.size(), 544u * 400u);
        for (char& c : sim) c = c == ',' || c == '=' ? '_' : c;
        test::expect_golden("main_window_" + sim, h.frame.data(), h.frame_width, h.frame_height);
    }
}

uint64_t fixed_ns = 0; // the clock of the simulator and the live view in the test below
constexpr auto fixed_clock = [] { return fixed_ns; };

// Catches: the live page drawn differently per layout family (bars, P-states, package readings,
// traces), a sample taken while the page is not shown, F2 not switching, and a main page that
// comes back with other pixels than it left with.
TEST_F(MainWindow, LivePageGoldenAndBackToTheMainPage) {
    // Before Zen, and Zen with a line for the processors past the 32nd.
    for (const char* sim : {"fam10h,load=75,temp=61", "fam19h-m74,cores=40,load=60"}) {
        SCOPED_TRACE(sim);
        start_quietly(sim);
        const auto& h = platform::headless;
        const std::vector<uint32_t> main_page = h.frame;
        app::watch_page.tick_ms = 0; // the test refreshes the page itself
        fixed_ns = 1000000000, platform::sim_set_clock(fixed_clock), app::watch.clock_ns = fixed_clock;
        key(app::page_key);
        ASSERT_EQ(app::watch_page.shown, 1);
        for (int second = 0; second < 3; ++second) fixed_ns += 1000000000, send(WM_USER);
        EXPECT_EQ(app::watch_page.samples, 3u);
        std::string name = std::string("watch_page_") + sim;
        for (char& ch : name) ch = ch == ',' || ch == '=' ? '_' : ch;
        test::expect_golden(name, h.frame.data(), h.frame_width, h.frame_height);

        click(470 + 10, 6 + 10); // "back"
        EXPECT_TRUE(app::watch_page.shown == 0 && h.frame == main_page);
        send(WM_USER); // a late refresh finds the page gone
        EXPECT_EQ(app::watch_page.samples, 3u);
        key(app::page_key); // F2 opens it again, and F2 closes it
        EXPECT_EQ(app::watch_page.shown, 1);
        key(app::page_key);
        EXPECT_TRUE(h.frame == main_page);
    }
}

} // namespace
