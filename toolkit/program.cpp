// The drawing-program interpreter. A widget is painted by filling its face, adding
// the focus mark and then running its program from the program block: one opcode
// byte, then the operands in stored order, every 32-bit operand aligned to a
// multiple of 4 of its offset in the block.
//
// The interpreter never reads outside the block: an instruction whose operands run
// past its end ends the program, and so does a jump that does not lead forward
// (which also means every program ends, since each step moves further on).
// References whose binding does not exist stand for nothing: the instruction that
// needed them draws nothing.
#include "toolkit/program.h"

#include <algorithm>
#include <cstring>

#include "toolkit/draw.h"
#include "toolkit/input.h"
#include "toolkit/numfield.h"
#include "toolkit/widgets.h"
#include "toolkit/window.h"

namespace tk {

TextCursor text_cursor{{}, {}, nullptr, nullptr, 1};

void reset_text_cursor() {
    text_cursor = TextCursor{{}, {}, nullptr, nullptr, 1};
}

namespace {

constexpr int32_t advance = 9; // pixels from one character cell to the next

// One run of a program over one widget.
struct Run {
    const uint8_t* code; // the program block
    uint32_t size;       // bytes in the block
    uint32_t pc;         // block offset of the next byte to read
    bool overrun;        // a read went past the block; the program ends
    int32_t id;
    int32_t x, y, width, height; // the widget's rectangle, pixels
    uint8_t* bound;              // the widget's bound value, nullptr when it has none
    int32_t pen_x, pen_y;        // where the next character cell starts
    uint32_t ink;                // palette index of text
};

uint8_t read_u8(Run& r) {
    if (r.pc >= r.size) {
        r.overrun = true;
        return OP_END;
    }
    return r.code[r.pc++];
}

uint16_t read_u16(Run& r) {
    uint16_t low = read_u8(r);
    return static_cast<uint16_t>(low | read_u8(r) << 8);
}

uint32_t read_aligned_u32(Run& r) {
    uint64_t at = (uint64_t{r.pc} + 3) & ~uint64_t{3};
    if (at + 4 > r.size) {
        r.overrun = true;
        r.pc = r.size;
        return 0;
    }
    const uint8_t* p = r.code + at;
    r.pc = static_cast<uint32_t>(at + 4);
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// Continues at target if it lies ahead of the jump instruction at start, else ends the program.
void jump(Run& r, uint32_t start, uint32_t target) {
    r.pc = target > start ? target : r.size;
}

uint32_t load(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    std::memcpy(&v, p, static_cast<size_t>(bytes)); // bound values need not be aligned
    return v;
}

// A vertical line only when it has at least one pixel.
void vline(int32_t x, int32_t y, int32_t end, int32_t mode, uint32_t colour) {
    if (end >= y) draw_line(x, y, end, mode, colour);
}

uint32_t* pixel_at(int32_t x, int32_t y) {
    const Framebuffer& fb = window.fb;
    if (fb.pixels == nullptr || x < 0 || y < 0 || x >= fb.width || y >= fb.height) return nullptr;
    return fb.pixels + static_cast<size_t>(fb.height - 1 - y) * fb.width + x;
}

// Fills the face and adds the focus mark; sets the ink the text starts with.
void paint_face(Run& r) {
    const uint8_t face = wcolour(r.id);
    const bool focused = r.id == input.focus;
    if (r.width <= 0 || r.height <= 0) return;
    const int32_t right = r.x + r.width - 1, bottom = r.y + r.height - 1;
    if (focused && (wflags(r.id) & FLAG_ENTER)) {
        if (r.width > 2 && r.height > 2) fill_rect(r.x + 1, r.y + 1, r.width - 2, r.height - 2, 0);
        draw_line(r.x, r.y, right, LINE_H, face);
        vline(r.x, r.y, bottom, LINE_V, face);
        draw_line(r.x, bottom, right, LINE_H, face);
        vline(right, r.y, bottom, LINE_V, face);
        r.ink = face;
        return;
    }
    fill_rect(r.x, r.y, r.width, r.height, face);
    if (focused && wkind(r.id) != KIND_CANVAS) {
        draw_line(r.x + 3, r.y + 3, right - 3, LINE_H_DOTTED, 0);
        vline(r.x + 3, r.y + 3, bottom - 3, LINE_V_DOTTED, 0);
        draw_line(r.x + 3, bottom - 3, right - 3, LINE_H_DOTTED, 0);
        vline(right - 3, r.y + 3, bottom - 3, LINE_V_DOTTED, 0);
    }
}

// A 3-D frame from the pen's corner to the widget's right and bottom edges.
void frame(const Run& r, bool pressed) {
    int32_t left = r.pen_x - 4, top = r.pen_y - 4;
    int32_t width = r.x + r.width - left, height = r.y + r.height - top;
    if (width > 0 && height > 1) draw_frame(left, top, width, height, pressed ? 1 : FRAME_RAISED);
}

// Knob positions run from 0 to travel; the value moves from lo to hi across them.
uint8_t slider_value(int32_t pos, uint8_t lo, uint8_t hi, int32_t travel) {
    if (pos > travel) pos = travel; // a knob past the track's end still means hi, never more
    return static_cast<uint8_t>(pos * (hi - lo) / travel + lo);
}

// The first knob position whose value reaches v (lo <= v <= hi).
uint16_t knob_position(uint8_t v, uint8_t lo, uint8_t hi, int32_t travel) {
    if (hi == lo) return 0;
    int32_t range = hi - lo;
    return static_cast<uint16_t>(((v - lo) * travel + range - 1) / range);
}

// A fine slider's knob: pos counts values from lo, the knob moves across the track in proportion.
int32_t fine_knob_pixel(int32_t pos, uint8_t lo, uint8_t hi, int32_t travel) {
    const int32_t range = hi - lo;
    if (range <= 0 || travel <= 0) return 0;
    return std::min(pos, range) * travel / range;
}

void slider(Run& r, uint8_t lo, uint8_t hi) {
    const int32_t t = r.y + r.height - 10;
    const int32_t travel = r.width - 12;
    const bool fine = wflags(r.id) & FLAG_FINE;
    draw_line(r.x, t, r.x + r.width - 1, LINE_H, 2);
    draw_line(r.x + 1, t + 1, r.x + r.width - 2, LINE_H, 1);
    draw_line(r.x, t + 3, r.x + r.width - 1, LINE_H, 4);
    const int32_t pos = wpos(r.id);
    const int32_t knob = fine && lo <= hi ? fine_knob_pixel(pos, lo, hi, travel) : pos;
    fill_rect(r.x + knob, t - 5, 11, 14, (wflags(r.id) & FLAG_PRESSED) ? 2 : 3);
    draw_frame(r.x + knob, t - 6, 12, 16, FRAME_RAISED);
    // A track with no room for the knob to travel, or an empty range, has no value to give.
    if (r.bound == nullptr || travel <= 0 || lo > hi) return;
    *r.bound = fine ? static_cast<uint8_t>(lo + std::min(pos, hi - lo)) : slider_value(pos, lo, hi, travel);
}

void text(Run& r) {
    for (;;) {
        uint8_t c = read_u8(r);
        if (r.overrun || c == TEXT_END) return;
        if (c == TEXT_NEWLINE) {
            uint8_t n = read_u8(r);
            if (r.overrun) return;
            r.pen_x = r.x + 4;
            r.pen_y += n;
            continue;
        }
        draw_glyph(c, r.ink, r.pen_x, r.pen_y);
        r.pen_x += advance;
    }
}

void string(Run& r) {
    if (r.bound == nullptr) return;
    draw_string(reinterpret_cast<const char*>(r.bound), r.pen_x, r.pen_y, r.ink);
    if (r.id != input.focus) return;
    int32_t left = r.pen_x + advance * wpos(r.id);
    draw_line(left, r.pen_y + 14, left + 8, LINE_H, 14);
    draw_line(left, r.pen_y + 15, left + 8, LINE_H, 14);
}

// True when the byte at s lies in the selection (compared as addresses, since the
// selection's ends need not point into the same string).
bool selected(const uint8_t* s) {
    const auto at = reinterpret_cast<uintptr_t>(s);
    return at >= reinterpret_cast<uintptr_t>(text_cursor.select_start) &&
           at + 1 <= reinterpret_cast<uintptr_t>(text_cursor.select_end);
}

// One line of a text-line list: entry `row` of the bound array of string references.
void text_lines(const Run& r) {
    const uint8_t row = wrow(r.id);
    const uint8_t* s = nullptr;
    if (r.bound != nullptr) s = bound_address(load(r.bound + 4 * row, 4));
    if (s != nullptr) {
        for (int32_t cx = r.x; cx < r.width - advance; cx += advance) {
            uint8_t c = *s;
            if (c == '\n' || c == 0) break; // a NUL also ends the line: nothing of the string lies past it
            uint32_t colour = 7;
            if (selected(s)) {
                fill_rect(cx, r.y, advance, r.height, 7);
                colour = 0;
            }
            ++s;
            if (c != ' ') draw_glyph(c, colour, cx, r.y);
        }
    }
    const uint8_t group = wgroup(r.id);
    if (row != text_cursor.row[group] || r.height <= 0) return;
    const int32_t left = advance * text_cursor.column[group], right = left + 8, bottom = r.y + r.height - 1;
    if (text_cursor.shape == 0) {
        draw_line(left, r.y, right, LINE_H, 14);
        draw_line(left, r.y, bottom, LINE_V, 14);
        draw_line(right, r.y, bottom, LINE_V, 14);
        draw_line(left, bottom, right, LINE_H, 14);
    } else {
        draw_line(left, bottom - 1, right, LINE_H, 14);
        draw_line(left, bottom, right, LINE_H, 14);
    }
}

void trace(const Run& r, uint32_t ref) {
    if (r.width > 0) fill_rect(r.x, r.y + 1, r.width, 32, 0);
    const uint8_t* table = bound_address(ref);
    if (table == nullptr) return;
    const uint32_t frame_number = r.bound != nullptr ? *r.bound : 0;
    const uint8_t* samples = table + 64 * frame_number;
    for (int32_t i = 0; i < 64; ++i) {
        int32_t v = static_cast<int8_t>(samples[i]);
        if (uint32_t* p = pixel_at(r.x + 1 + i, r.y + 16 - (v >> 3))) *p |= 0x00FF0000;
    }
}

void mask(const Run& r, uint32_t ref, uint16_t w, uint16_t h) {
    const uint8_t* image = bound_address(ref);
    if (image == nullptr) return;
    const uint32_t frame_number = r.bound != nullptr ? *r.bound : 0;
    const uint8_t* m = image + size_t{w} * h * frame_number;
    for (int32_t row = 0; row < h; ++row) {
        for (int32_t col = 0; col < w; ++col) {
            if (m[row * w + col] != 0x80) continue;
            if (uint32_t* p = pixel_at(r.x + col, r.y + row)) *p = 0;
        }
    }
}

void blit(const Run& r, uint32_t ref, uint16_t w, uint16_t h) {
    const uint8_t* image = bound_address(ref);
    const Framebuffer& fb = window.fb;
    if (image == nullptr || fb.pixels == nullptr) return;
    const int32_t first = r.x < 0 ? -r.x : 0;
    const int32_t last = r.x + w > fb.width ? fb.width - r.x : w; // columns first..last-1 are visible
    if (first >= last) return;
    for (int32_t row = 0; row < h; ++row) {
        uint32_t* line = pixel_at(r.x + first, r.y + row);
        if (line == nullptr) continue;
        std::memcpy(line, image + (size_t(row) * w + first) * 4, size_t(last - first) * 4);
    }
}

void number(Run& r, uint32_t value, uint8_t scale, uint8_t format) {
    r.pen_x = draw_number_field(value, scale, format, r.pen_x, r.pen_y, r.ink);
}

void run(Run& r) {
    for (;;) {
        const uint32_t start = r.pc;
        const uint8_t op = read_u8(r);
        if (r.overrun) return;
        switch (op) {
        case OP_END: return;
        case OP_JUMP_IF: {
            int8_t value = static_cast<int8_t>(read_u8(r));
            uint32_t target = read_aligned_u32(r);
            if (r.overrun) return;
            if (r.bound != nullptr && *r.bound == static_cast<uint8_t>(value)) jump(r, start, target);
            break;
        }
        case OP_JUMP_IF_AT: {
            int8_t value = static_cast<int8_t>(read_u8(r));
            uint32_t target = read_aligned_u32(r);
            const uint8_t* at = bound_address(read_aligned_u32(r));
            if (r.overrun) return;
            if (at != nullptr && *at == static_cast<uint8_t>(value)) jump(r, start, target);
            break;
        }
        case OP_TEXT_LINES: text_lines(r); break;
        case OP_INK: r.ink = read_u8(r); break;
        case OP_TEXT: text(r); break;
        case OP_STRING: string(r); break;
        case OP_BAR: {
            uint8_t colour = read_u8(r), cells = read_u8(r);
            if (r.overrun) return;
            if (cells > 0) fill_rect(r.pen_x, r.pen_y, advance * cells, 16, colour);
            break;
        }
        case OP_METER: {
            uint8_t colour = read_u8(r), cells = read_u8(r);
            if (r.overrun) return;
            // The whole bar's track in dark grey, then the bound share of it in the colour.
            const int32_t width = advance * cells, filled = r.bound != nullptr ? width * *r.bound / 255 : 0;
            fill_rect(r.pen_x, r.pen_y + 1, width, 11, 1);
            if (filled > 0) fill_rect(r.pen_x, r.pen_y + 1, filled, 11, colour);
            r.pen_x += width;
            break;
        }
        case OP_HEX: {
            uint8_t format = read_u8(r);
            if (r.overrun) return;
            if (r.bound != nullptr) r.pen_x = draw_hex_field(r.bound, format, r.pen_x, r.pen_y, r.ink);
            break;
        }
        case OP_DEC: {
            uint8_t scale = read_u8(r), format = read_u8(r);
            if (r.overrun) return;
            if (r.bound != nullptr) number(r, *r.bound, scale, format);
            break;
        }
        case OP_FRAME: frame(r, wflags(r.id) & FLAG_PRESSED); break;
        case OP_ROW_DIGIT:
            draw_glyph(48u + wrow(r.id), r.ink, r.pen_x, r.pen_y);
            r.pen_x += advance;
            break;
        case OP_CHECK_FRAME:
            frame(r, (wflags(r.id) & FLAG_PRESSED) || (r.bound != nullptr && (*r.bound & 1)));
            break;
        case OP_SLIDER: {
            uint8_t lo = read_u8(r), hi = read_u8(r);
            if (r.overrun) return;
            slider(r, lo, hi);
            break;
        }
        case OP_NUMBER: {
            uint8_t format = read_u8(r), size = read_u8(r);
            uint16_t scale = read_u16(r);
            uint32_t offset = read_aligned_u32(r);
            if (r.overrun) return;
            if (r.bound != nullptr) {
                const uint32_t value = load(r.bound, size == 4 ? 4 : size == 2 ? 2 : 1);
                r.pen_x = draw_number_field(value * scale + offset, 1, format, r.pen_x, r.pen_y, r.ink);
            }
            break;
        }
        case OP_HEX_AT: {
            const uint8_t* at = bound_address(read_aligned_u32(r));
            uint8_t format = read_u8(r);
            if (r.overrun) return;
            if (at != nullptr) r.pen_x = draw_hex_field(at, format, r.pen_x, r.pen_y, r.ink);
            break;
        }
        case OP_DEC8_AT:
        case OP_DEC16_AT:
        case OP_DEC32_AT: {
            const uint8_t* at = bound_address(read_aligned_u32(r));
            uint8_t scale = read_u8(r), format = read_u8(r);
            if (r.overrun) return;
            static constexpr int bytes[] = {1, 2, 4};
            if (at != nullptr) number(r, load(at, bytes[op - OP_DEC8_AT]), scale, format);
            break;
        }
        case OP_TRACE: {
            uint32_t ref = read_aligned_u32(r);
            if (r.overrun) return;
            trace(r, ref);
            break;
        }
        case OP_MASK:
        case OP_BLIT: {
            uint32_t ref = read_aligned_u32(r);
            uint16_t w = read_u16(r), h = read_u16(r);
            if (r.overrun) return;
            if (op == OP_MASK)
                mask(r, ref, w, h);
            else
                blit(r, ref, w, h);
            break;
        }
        default: break; // an unknown opcode draws nothing
        }
    }
}

Run start_run(int32_t id, uint32_t program) {
    const Resources& res = widgets.resources;
    Run r{};
    r.code = res.programs;
    r.size = res.programs != nullptr ? res.program_size : 0;
    r.pc = program;
    r.id = id;
    r.x = wx(id);
    r.y = wy(id);
    r.width = wwidth(id);
    r.height = wheight(id);
    r.bound = bound_address(wdata(id));
    r.pen_x = r.x + 4;
    r.pen_y = r.y + 3;
    return r;
}

// Steps over the operands of op the way the interpreter reads them.
void skip_operands(Run& r, uint8_t op) {
    switch (op) {
    case OP_JUMP_IF: read_u8(r), read_aligned_u32(r); break;
    case OP_JUMP_IF_AT: read_u8(r), read_aligned_u32(r), read_aligned_u32(r); break;
    case OP_INK:
    case OP_HEX: read_u8(r); break;
    case OP_BAR:
    case OP_METER:
    case OP_DEC:
    case OP_SLIDER: read_u16(r); break;
    case OP_NUMBER: read_u16(r), read_u16(r), read_aligned_u32(r); break;
    case OP_TEXT:
        for (uint8_t c = read_u8(r); !r.overrun && c != TEXT_END; c = read_u8(r)) {
            if (c == TEXT_NEWLINE) read_u8(r);
        }
        break;
    case OP_HEX_AT: read_aligned_u32(r), read_u8(r); break;
    case OP_DEC8_AT:
    case OP_DEC16_AT:
    case OP_DEC32_AT: read_aligned_u32(r), read_u16(r); break;
    case OP_TRACE: read_aligned_u32(r); break;
    case OP_MASK:
    case OP_BLIT: read_aligned_u32(r), read_u16(r), read_u16(r); break;
    default: break;
    }
}

// Finds the first OP_SLIDER of a program, walking its instructions in stored order.
bool find_slider(Run& r, uint8_t& lo, uint8_t& hi) {
    for (;;) {
        uint8_t op = read_u8(r);
        if (r.overrun || op == OP_END) return false;
        if (op == OP_SLIDER) {
            lo = read_u8(r);
            hi = read_u8(r);
            return !r.overrun;
        }
        skip_operands(r, op);
    }
}

} // namespace

void redraw_widget(int32_t id) {
    if (!valid_id(id)) return;
    window.dirty = 1;
    Run r = start_run(id, wprogram(id));
    paint_face(r);
    run(r);
}

void redraw_all() {
    for (uint32_t id = 0; id < widgets.used_length; id += 4) redraw_widget(static_cast<int32_t>(id));
}

void sync_sliders() {
    for (uint32_t id = 0; id < widgets.used_length; id += 4) {
        if (wkind(id) != KIND_SLIDER) continue;
        Run r = start_run(static_cast<int32_t>(id), wprogram(id));
        uint8_t lo = 0, hi = 0;
        const int32_t travel = r.width - 12;
        if (!find_slider(r, lo, hi) || r.bound == nullptr || travel <= 0 || lo > hi) continue;
        uint8_t& value = *r.bound;
        if (value < lo) value = lo;
        if (value > hi) value = hi;
        wpos(id) = (wflags(id) & FLAG_FINE) ? uint16_t(value - lo) : knob_position(value, lo, hi, travel);
    }
}

bool slider_range(int32_t id, uint8_t& lo, uint8_t& hi) {
    if (!valid_id(id) || wkind(id) != KIND_SLIDER) return false;
    Run r = start_run(id, wprogram(id));
    return find_slider(r, lo, hi) && lo <= hi;
}

} // namespace tk
