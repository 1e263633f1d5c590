// The real main window: a full redraw beside a memset of the bytes it writes,
// one slider-drag event beside that redraw, and the present copy into an SDL
// texture beside a memcpy of the framebuffer.
#include <benchmark/benchmark.h>

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/startup.h"
#include "bench/bench_program.h"
#include "platform/hw.h"
#include "toolkit/input.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace {

// Starts the program on the simulated processor up to its message loop, once.
void open_main_window() {
    static bool open = false;
    if (open) return;
    open = true;
    bench::start_program("fam15h");
}

size_t widget_bytes() {
    size_t bytes = 0;
    for (int32_t id = 0; tk::valid_id(id); id += 4) bytes += size_t(tk::wwidth(id)) * tk::wheight(id) * 4;
    return bytes;
}

void BM_MainWindowRedrawAll(benchmark::State& state) {
    open_main_window();
    for (auto _ : state) {
        tk::redraw_all();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(widget_bytes()));
}
BENCHMARK(BM_MainWindowRedrawAll);

void BM_MemsetOfTheRedrawnBytes(benchmark::State& state) {
    open_main_window();
    std::vector<uint8_t> block(widget_bytes());
    for (auto _ : state) {
        std::memset(block.data(), 0xD0, block.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(block.size()));
}
BENCHMARK(BM_MemsetOfTheRedrawnBytes);

// One mouse move while the multiplier slider of row 2 is held: handle_input moves the knob
// and redraws the slider.
void BM_SliderDragEvent(benchmark::State& state) {
    open_main_window();
    const int x = 284 + 5, y = 140 + 30;
    tk::handle_input(y, x, tk::MK_LBUTTON, tk::WM_LBUTTONDOWN);
    int step = 0;
    for (auto _ : state) {
        step = (step + 7) % 40;
        tk::handle_input(y, x + step, tk::MK_LBUTTON, tk::WM_MOUSEMOVE);
        benchmark::ClobberMemory();
    }
    tk::release_pressed();
}
BENCHMARK(BM_SliderDragEvent);

// The copy that presenting makes: the bottom-up framebuffer into a streaming texture with a
// negative pitch, as the SDL window does on every paint.
void BM_PresentCopy(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        state.SkipWithError(SDL_GetError());
        return;
    }
    SDL_Window* window = SDL_CreateWindow("bench", 0, 0, 544, 400, SDL_WINDOW_HIDDEN);
    SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
    SDL_Texture* texture =
        SDL_CreateTexture(renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, 544, 400);
    std::vector<uint32_t> pixels(544 * 400, 0xD0D0D0);
    const uint32_t* top_line = pixels.data() + 399 * 544;
    for (auto _ : state) {
        SDL_UpdateTexture(texture, nullptr, top_line, -4 * 544);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 544 * 400 * 4);
    SDL_DestroyTexture(texture);
    SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    SDL_Quit();
}
BENCHMARK(BM_PresentCopy);

void BM_MemcpyOfAFramebuffer(benchmark::State& state) {
    std::vector<uint32_t> from(544 * 400, 0xD0D0D0), to(544 * 400);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size() * 4);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 544 * 400 * 4);
}
BENCHMARK(BM_MemcpyOfAFramebuffer);

} // namespace
