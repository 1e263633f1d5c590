// The primitives beside memset of the same number of bytes: a whole-window fill_rect
// and a 40-character draw_string on the 544 x 400 framebuffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "toolkit/draw.h"
#include "toolkit/font.h"
#include "toolkit/window.h"

namespace {

constexpr uint16_t screen_width = 544, screen_height = 400;
constexpr size_t screen_bytes = size_t(screen_width) * screen_height * sizeof(uint32_t);

constexpr char text40[] = "Core P-state 3: multiplier 31.5 at 1.550"; // 40 characters
static_assert(sizeof text40 - 1 == 40);
constexpr size_t text_bytes = 40 * 8 * tk::glyph_rows * sizeof(uint32_t); // the 40 glyph cells

// A window-sized framebuffer installed into the toolkit for one benchmark.
class Screen {
  public:
    Screen() : saved_(tk::window.fb), pixels_(size_t(screen_width) * screen_height) {
        tk::window.fb = {pixels_.data(), screen_width, screen_height};
    }
    ~Screen() { tk::window.fb = saved_; }
    uint32_t* data() { return pixels_.data(); }

  private:
    tk::Framebuffer saved_;
    std::vector<uint32_t> pixels_;
};

void fill_rect_window(benchmark::State& state) {
    Screen screen;
    uint32_t colour = 0;
    for (auto _ : state) {
        tk::fill_rect(0, 0, screen_width, screen_height, colour);
        colour = (colour + 1) & 15;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(screen_bytes));
}
BENCHMARK(fill_rect_window);

void memset_window(benchmark::State& state) {
    Screen screen;
    int value = 0;
    for (auto _ : state) {
        std::memset(screen.data(), value, screen_bytes);
        value = (value + 1) & 0xFF;
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(screen_bytes));
}
BENCHMARK(memset_window);

void draw_string_40(benchmark::State& state) {
    Screen screen;
    uint32_t colour = 0;
    for (auto _ : state) {
        tk::draw_string(text40, 8, 100, colour);
        colour = (colour + 1) & 15;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text_bytes));
}
BENCHMARK(draw_string_40);

void memset_string_cells(benchmark::State& state) {
    Screen screen;
    int value = 0;
    for (auto _ : state) {
        std::memset(screen.data() + screen_width * 100, value, text_bytes);
        value = (value + 1) & 0xFF;
        benchmark::DoNotOptimize(screen.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text_bytes));
}
BENCHMARK(memset_string_cells);

} // namespace
