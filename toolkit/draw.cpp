// Drawing primitives. The framebuffer is bottom-up, so each primitive finds its first
// pixel with one multiplication and then walks by fixed steps: +1 to the right, -width
// one row down the screen. Every call first intersects its shape with the framebuffer,
// so the loops test nothing and no pixel outside the framebuffer is ever written.
// Positions are widened to 64 bits before any arithmetic, so no coordinate can wrap.
#include "toolkit/draw.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "toolkit/font.h"
#include "toolkit/window.h"

namespace tk {

// clang-format off
const std::array<uint32_t, 16> palette{
    0x000000, //  0 black: default ink, focus marks, inverted face of a focused widget
    0x404040, //  1 dark grey: dark edge of frames, slider track
    0x808080, //  2 grey: shadow edge of frames, slider track, pressed knob, greyed text
    0xD0D0D0, //  3 light grey: default widget face, knob
    0xFFFFFF, //  4 white: light edge of frames, slider track
    0x008000, //  5 green: slider values, highlighted P-state labels
    0x550055, //  6 dark purple: register and core-count values
    0xC04040, //  7 brick red: text lines and their selection
    0x8080C0, //  8 lavender
    0x80C080, //  9 pale green
    0xC08080, // 10 rose
    0xC0A080, // 11 tan
    0xC060C0, // 12 orchid
    0x101010, // 13 near black
    0xC0E000, // 14 yellow-green: text cursor
    0x000040, // 15 dark navy
};
// clang-format on

namespace {

constexpr int64_t glyph_width = 8;
constexpr int64_t advance = 9; // a string moves this far right per character

// The framebuffer as one call sees it; read afresh on every call, since a resize replaces it.
struct Target {
    uint32_t* pixels;
    int64_t width;
    int64_t height;
};

Target target() {
    const Framebuffer& fb = window.fb;
    if (fb.pixels == nullptr) return {nullptr, 0, 0};
    return {fb.pixels, fb.width, fb.height};
}

// Index of screen position (x, y); meaningful as a pixel only for positions inside the framebuffer.
int64_t index_of(const Target& t, int64_t x, int64_t y) {
    return (t.height - 1 - y) * t.width + x;
}

bool valid_colour(uint32_t colour) {
    return colour < palette.size();
}
bool valid_code(uint32_t code) {
    return code >= 1 && code <= uint32_t(glyph_count);
}

// Fills n pixels from p. Where the system can pick a function by the processor at load time,
// the loop also comes in an AVX2 version, which writes 32 bytes a store. Widget faces are short
// runs, which a plain loop fills faster than memset or memcpy calls would.
// Sanitizer builds keep one version: their run-time is not ready when the choice is made.
#if defined(__ELF__) && defined(__x86_64__) && !defined(QUILM_SANITIZED)
#define QUILM_WIDE_STORES __attribute__((target_clones("avx2", "default")))
#else
#define QUILM_WIDE_STORES
#endif

QUILM_WIDE_STORES void fill_run(uint32_t* p, int64_t n, uint32_t value) {
    for (int64_t i = 0; i < n; ++i) p[i] = value;
}

// Line from (x, y) to the inclusive end column (horizontal) or row (vertical). A dotted line
// lights only pixels an even distance from its start, also when the start is clipped away.
void line(const Target& t, int64_t x, int64_t y, int64_t end, int32_t mode, uint32_t value) {
    const bool vertical = mode == LINE_V || mode == LINE_V_DOTTED;
    const int64_t step = mode == LINE_H_DOTTED || mode == LINE_V_DOTTED ? 2 : 1;
    const int64_t across = vertical ? x : y;
    if (across < 0 || across >= (vertical ? t.width : t.height)) return;

    const int64_t start = vertical ? y : x;
    const int64_t first = start >= 0 ? start : start + (-start + step - 1) / step * step;
    const int64_t last = std::min(end, (vertical ? t.height : t.width) - 1);
    if (first > last) return; // also an end before the start, in either direction

    const int64_t stride = vertical ? -t.width * step : step;
    int64_t i = vertical ? index_of(t, x, first) : index_of(t, first, y);
    for (int64_t n = (last - first) / step + 1; n > 0; --n, i += stride) t.pixels[i] = value;
}

#if defined(__x86_64__)
// The rows of a glyph whose cell lies wholly inside the framebuffer, eight pixels at a time: lane
// j takes the colour where bit 7 - j of the row is set and keeps its pixel otherwise.
__attribute__((target("avx2"))) void glyph_rows_avx2(uint32_t* p, int64_t stride, const uint8_t* rows,
                                                     uint32_t value) {
    const __m256i bit = _mm256_setr_epi32(128, 64, 32, 16, 8, 4, 2, 1);
    const __m256i colour = _mm256_set1_epi32(static_cast<int>(value));
    for (int r = 0; r < glyph_rows; ++r, p += stride) {
        if (rows[r] == 0) continue;
        const __m256i set = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(rows[r]), bit), bit);
        auto* cell = reinterpret_cast<__m256i*>(p);
        _mm256_storeu_si256(cell, _mm256_blendv_epi8(_mm256_loadu_si256(cell), colour, set));
    }
}
bool has_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
}
#endif

// Set bits of the glyph's 13 rows, restricted to the part of its 8 x 13 cell inside the framebuffer.
void glyph(const Target& t, uint32_t code, uint32_t value, int64_t x, int64_t y) {
    const int64_t left = std::max<int64_t>(0, -x), right = std::min(glyph_width, t.width - x);
    const int64_t top = std::max<int64_t>(0, -y), bottom = std::min<int64_t>(glyph_rows, t.height - y);
    if (left >= right || top >= bottom) return;

    const uint8_t* rows = font.data() + (code - 1) * glyph_rows;
#if defined(__x86_64__)
    if (left == 0 && right == glyph_width && top == 0 && bottom == glyph_rows && has_avx2()) {
        glyph_rows_avx2(t.pixels + index_of(t, x, y), -t.width, rows, value);
        return;
    }
#endif
    // Bit 7 is column 0: keep the bits of the columns left .. right - 1.
    const unsigned columns = (0xFFu >> left) & (0xFFu << (glyph_width - right));
    int64_t i = index_of(t, x + 7, y + top); // bit b of a row lands at column 7 - b
    for (int64_t r = top; r < bottom; ++r, i -= t.width) {
        for (unsigned bits = rows[r] & columns; bits != 0; bits &= bits - 1)
            t.pixels[i - std::countr_zero(bits)] = value;
    }
}

} // namespace

void fill_rect(int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour) {
    if (!valid_colour(colour)) return;
    const Target t = target();
    const int64_t left = std::max<int64_t>(x, 0), right = std::min(int64_t{x} + width, t.width);
    const int64_t top = std::max<int64_t>(y, 0), bottom = std::min(int64_t{y} + height, t.height);
    if (left >= right || top >= bottom) return; // also counts of zero or below

    const uint32_t value = palette[colour];
    const int64_t columns = right - left, rows = bottom - top;
    if (columns == t.width) {
        // Whole rows lie back to back in memory: one run from the bottom row up.
        fill_run(t.pixels + index_of(t, 0, bottom - 1), rows * columns, value);
        return;
    }
    int64_t i = index_of(t, left, top);
    for (int64_t n = rows; n > 0; --n, i -= t.width) fill_run(t.pixels + i, columns, value);
}

void draw_line(int32_t x, int32_t y, int32_t end, int32_t mode, uint32_t colour) {
    if (!valid_colour(colour)) return;
    line(target(), x, y, end, mode, palette[colour]);
}

void draw_frame(int32_t x, int32_t y, int32_t width, int32_t height, int32_t style) {
    if (width < 1 || height < 1) return;
    const Target t = target();
    const int64_t l = x, top = y;
    const int64_t r = l + width - 1, b = top + height - 1; // right column, bottom row
    const uint32_t dark = palette[1], shadow = palette[2], light = palette[4];
    // The order matters where the lines meet: later lines win the corners.
    if (style == FRAME_RAISED) {
        line(t, l, b, r, LINE_H, dark);
        line(t, r, top, b, LINE_V, dark);
        line(t, l, top, r - 1, LINE_H, light);
        line(t, l, top, b - 1, LINE_V, light);
        line(t, l + 1, b - 1, r - 1, LINE_H, shadow);
        line(t, r - 1, top + 1, b - 1, LINE_V, shadow);
    } else {
        line(t, l, top, r, LINE_H, dark);
        line(t, l, top, b, LINE_V, dark);
        line(t, l + 1, top + 1, r, LINE_H, shadow);
        line(t, l + 1, top + 1, b, LINE_V, shadow);
        line(t, l + 1, b, r, LINE_H, light);
        line(t, r, top + 1, b, LINE_V, light);
    }
}

void draw_glyph(uint32_t code, uint32_t colour, int32_t x, int32_t y) {
    if (!valid_code(code) || !valid_colour(colour)) return;
    glyph(target(), code, palette[colour], x, y);
}

void draw_string(const char* text, int32_t x, int32_t y, uint32_t colour) {
    window.dirty = 1;
    if (text == nullptr || !valid_colour(colour)) return;
    const Target t = target();
    const uint32_t value = palette[colour];
    // Characters past the right edge cannot show, so the walk stops there.
    int64_t cx = x;
    for (const char* p = text; *p != '\0' && cx < t.width; ++p, cx += advance) {
        const auto code = uint32_t(static_cast<unsigned char>(*p));
        if (valid_code(code)) glyph(t, code, value, cx, y);
    }
}

} // namespace tk
