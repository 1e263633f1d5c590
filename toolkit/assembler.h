// A compile-time assembler for drawing programs. Programs are written as lists of
// instructions with named labels; the assembler lays them out one after another in
// one block, pads before every 32-bit operand up to a multiple of 4 of its block
// offset (the rule the interpreter reads with) and turns label names into block
// offsets. Mistakes it can see stop the build: an unknown or repeated label, a jump
// that does not lead forward, a text byte that is no character, a slider whose
// range is upside down, a bar of no cells, a decimal format of no or too many digits.
//
//   constexpr uint32_t auto_mode_ref = tk::make_ref(1);
//   constexpr auto programs = tk::assemble([] {
//       using namespace tk::ins;
//       return std::array{
//           label("up"), frame(), jump_if_at(0, "up_label", auto_mode_ref), ink(2),
//           label("up_label"), text("up \x18"), end(),
//           label("cpu"), text("CPU:"), text_newline(16, "next line"), end(),
//       };
//   });
//   constexpr uint32_t up = programs.offset("up"); // a misspelt name does not compile
//
// The block starts with OP_END and three padding bytes, so offset 0, which ends a
// template set, is never a program. Assemble at namespace scope: clang 14 crashes on
// an assembly declared inside a function body.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "toolkit/program.h"
#include "toolkit/widgets.h"

namespace tk {
namespace ins {

// How an instruction's operands are stored after its opcode.
enum class Shape : uint8_t {
    label,       // no bytes: names the offset of the next instruction
    none,        // opcode only
    u8,          // one byte
    u8_u8,       // two bytes
    text,        // text bytes up to TEXT_END
    jump,        // s8 value; align; u32 target
    jump_at,     // s8 value; align; u32 target; u32 reference
    ref,         // align; u32 reference
    ref_u8,      // align; u32 reference; one byte
    ref_u8_u8,   // align; u32 reference; two bytes
    ref_u16_u16, // align; u32 reference; two 16-bit sizes
    number,      // two bytes; a 16-bit scale; align; u32 offset
};

struct Instruction {
    Shape shape = Shape::none;
    uint8_t op = OP_END;
    uint8_t a = 0, b = 0;     // byte operands in stored order
    uint16_t w = 0, h = 0;    // image sizes
    uint32_t ref = 0;         // reference operand (make_ref)
    std::string_view name{};  // label defined, or label jumped to
    std::string_view chars{}; // characters of a text
    int16_t newline = -1;     // TEXT_NEWLINE step put before the characters, -1 for none
};

struct Label {
    std::string_view name;
    uint32_t offset; // block offset of the instruction after the label
};

namespace detail {
// Never constant: calling one of these while assembling stops the build with its name.
inline void error_unknown_label() {}
inline void error_repeated_label() {}
inline void error_jump_not_forward() {}
inline void error_not_a_character() {}
inline void error_slider_range_upside_down() {}
inline void error_bar_without_cells() {}
inline void error_decimal_format_digits() {}

constexpr Instruction plain(Op op) {
    return {.shape = Shape::none, .op = op};
}

constexpr uint8_t decimal_format(uint8_t format) {
    int digits = (format >> 4) + (format & 15);
    if (digits < 1 || digits > 9) error_decimal_format_digits();
    return format;
}

constexpr std::string_view characters(std::string_view s) {
    for (char c : s) {
        auto code = static_cast<uint8_t>(c);
        if (code < 1 || code > 195) error_not_a_character();
    }
    return s;
}
} // namespace detail

// The instructions, each named after its opcode, with its operands in stored order.
// clang-format off
constexpr Instruction label(std::string_view name) { return {.shape = Shape::label, .name = name}; }
constexpr Instruction end()         { return detail::plain(OP_END); }
constexpr Instruction frame()       { return detail::plain(OP_FRAME); }
constexpr Instruction check_frame() { return detail::plain(OP_CHECK_FRAME); }
constexpr Instruction row_digit()   { return detail::plain(OP_ROW_DIGIT); }
constexpr Instruction string()      { return detail::plain(OP_STRING); }
constexpr Instruction text_lines()  { return detail::plain(OP_TEXT_LINES); }
constexpr Instruction ink(uint8_t colour) { return {.shape = Shape::u8, .op = OP_INK, .a = colour}; }
constexpr Instruction hex(uint8_t format) { return {.shape = Shape::u8, .op = OP_HEX, .a = format}; }
constexpr Instruction dec(uint8_t scale, uint8_t format) {
    return {.shape = Shape::u8_u8, .op = OP_DEC, .a = scale, .b = detail::decimal_format(format)};
}
constexpr Instruction slider(uint8_t min, uint8_t max) {
    if (min > max) detail::error_slider_range_upside_down();
    return {.shape = Shape::u8_u8, .op = OP_SLIDER, .a = min, .b = max};
}
constexpr Instruction bar(uint8_t colour, uint8_t cells) {
    if (cells == 0) detail::error_bar_without_cells();
    return {.shape = Shape::u8_u8, .op = OP_BAR, .a = colour, .b = cells};
}
constexpr Instruction meter(uint8_t colour, uint8_t cells) {
    if (cells == 0) detail::error_bar_without_cells();
    return {.shape = Shape::u8_u8, .op = OP_METER, .a = colour, .b = cells};
}
constexpr Instruction text(std::string_view chars) {
    return {.shape = Shape::text, .op = OP_TEXT, .chars = detail::characters(chars)};
}
// A text that first starts a new line `step` pixels lower at the widget's left text margin.
constexpr Instruction text_newline(uint8_t step, std::string_view chars = {}) {
    return {.shape = Shape::text, .op = OP_TEXT, .chars = detail::characters(chars), .newline = step};
}
constexpr Instruction jump_if(int8_t value, std::string_view target) {
    return {.shape = Shape::jump, .op = OP_JUMP_IF, .a = static_cast<uint8_t>(value), .name = target};
}
constexpr Instruction jump_if_at(int8_t value, std::string_view target, uint32_t ref) {
    return {.shape = Shape::jump_at, .op = OP_JUMP_IF_AT, .a = static_cast<uint8_t>(value), .ref = ref,
            .name = target};
}
constexpr Instruction hex_at(uint32_t ref, uint8_t format) {
    return {.shape = Shape::ref_u8, .op = OP_HEX_AT, .a = format, .ref = ref};
}
constexpr Instruction dec8_at(uint32_t ref, uint8_t scale, uint8_t format) {
    return {.shape = Shape::ref_u8_u8, .op = OP_DEC8_AT, .a = scale, .b = detail::decimal_format(format), .ref = ref};
}
constexpr Instruction dec16_at(uint32_t ref, uint8_t scale, uint8_t format) {
    return {.shape = Shape::ref_u8_u8, .op = OP_DEC16_AT, .a = scale, .b = detail::decimal_format(format), .ref = ref};
}
constexpr Instruction dec32_at(uint32_t ref, uint8_t scale, uint8_t format) {
    return {.shape = Shape::ref_u8_u8, .op = OP_DEC32_AT, .a = scale, .b = detail::decimal_format(format), .ref = ref};
}
// The bound value, read as `size` bytes (1, 2 or 4), times scale plus offset, as a decimal field.
constexpr Instruction number(uint8_t format, uint8_t size, uint16_t scale, uint32_t offset) {
    return {.shape = Shape::number, .op = OP_NUMBER, .a = detail::decimal_format(format), .b = size, .w = scale,
            .ref = offset};
}
constexpr Instruction trace(uint32_t ref) { return {.shape = Shape::ref, .op = OP_TRACE, .ref = ref}; }
constexpr Instruction mask(uint32_t ref, uint16_t width, uint16_t height) {
    return {.shape = Shape::ref_u16_u16, .op = OP_MASK, .w = width, .h = height, .ref = ref};
}
constexpr Instruction blit(uint32_t ref, uint16_t width, uint16_t height) {
    return {.shape = Shape::ref_u16_u16, .op = OP_BLIT, .w = width, .h = height, .ref = ref};
}
// clang-format on

namespace detail {

// Puts bytes at increasing block offsets; with no output it only counts them.
struct Writer {
    uint8_t* out;
    uint32_t at = 0;
    constexpr void put(uint8_t byte) {
        if (out != nullptr) out[at] = byte;
        ++at;
    }
    constexpr void put16(uint16_t v) {
        put(static_cast<uint8_t>(v));
        put(static_cast<uint8_t>(v >> 8));
    }
    constexpr void put32(uint32_t v) {
        while (at % 4 != 0) put(PAD);
        for (int shift = 0; shift < 32; shift += 8) put(static_cast<uint8_t>(v >> shift));
    }
};

template <class List> constexpr size_t count_labels(const List& list) {
    size_t n = 0;
    for (const Instruction& i : list) n += i.shape == Shape::label;
    return n;
}

// Block offset of a jump's target; only forward jumps are accepted, as the interpreter only takes those.
constexpr uint32_t target(const Label* labels, size_t count, std::string_view name, uint32_t jump_at) {
    for (size_t i = 0; i < count; ++i) {
        if (labels[i].name != name) continue;
        if (labels[i].offset <= jump_at) error_jump_not_forward();
        return labels[i].offset;
    }
    error_unknown_label();
    return 0;
}

// Lays out the whole block. With no output it records each label's offset (when given room)
// and returns the size; with an output it writes the bytes, resolving jumps by the labels.
template <class List> constexpr uint32_t lay_out(const List& list, uint8_t* out, Label* labels) {
    Writer w{out};
    w.put(OP_END); // the prologue: offset 0 ends a template set, so it holds no program
    w.put(PAD);
    w.put(PAD);
    w.put(PAD);
    const size_t count = count_labels(list);
    size_t defined = 0;
    for (const Instruction& i : list) {
        const uint32_t start = w.at;
        if (i.shape == Shape::label) {
            if (out == nullptr && labels != nullptr) {
                for (size_t k = 0; k < defined; ++k) {
                    if (labels[k].name == i.name) error_repeated_label();
                }
                labels[defined++] = {i.name, start};
            }
            continue;
        }
        w.put(i.op);
        switch (i.shape) {
        case Shape::label:
        case Shape::none: break;
        case Shape::u8: w.put(i.a); break;
        case Shape::u8_u8:
            w.put(i.a);
            w.put(i.b);
            break;
        case Shape::text:
            if (i.newline >= 0) {
                w.put(TEXT_NEWLINE);
                w.put(static_cast<uint8_t>(i.newline));
            }
            for (char c : i.chars) w.put(static_cast<uint8_t>(c));
            w.put(TEXT_END);
            break;
        case Shape::jump:
        case Shape::jump_at:
            w.put(i.a);
            w.put32(out != nullptr ? target(labels, count, i.name, start) : 0);
            if (i.shape == Shape::jump_at) w.put32(i.ref);
            break;
        case Shape::ref: w.put32(i.ref); break;
        case Shape::ref_u8:
            w.put32(i.ref);
            w.put(i.a);
            break;
        case Shape::ref_u8_u8:
            w.put32(i.ref);
            w.put(i.a);
            w.put(i.b);
            break;
        case Shape::ref_u16_u16:
            w.put32(i.ref);
            w.put16(i.w);
            w.put16(i.h);
            break;
        case Shape::number:
            w.put(i.a);
            w.put(i.b);
            w.put16(i.w);
            w.put32(i.ref);
            break;
        }
    }
    return w.at;
}

} // namespace detail
} // namespace ins

// An assembled program block of N bytes with M labels.
template <uint32_t N, size_t M> struct Assembly {
    alignas(4) std::array<uint8_t, N> bytes{};
    std::array<ins::Label, M> labels{};
    static constexpr uint32_t size = N;

    constexpr const uint8_t* data() const { return bytes.data(); }

    // Block offset of a label; a name that is not defined does not compile.
    consteval uint32_t offset(std::string_view name) const {
        for (const ins::Label& l : labels) {
            if (l.name == name) return l.offset;
        }
        ins::detail::error_unknown_label();
        return 0;
    }
};

// Assembles the instruction list that source returns (a stateless lambda returning a std::array).
template <class Source> consteval auto assemble(Source source) {
    constexpr auto list = source();
    constexpr uint32_t size = ins::detail::lay_out(list, nullptr, nullptr);
    constexpr size_t label_count = ins::detail::count_labels(list);
    Assembly<size, label_count> result{};
    ins::detail::lay_out(list, nullptr, result.labels.data());
    ins::detail::lay_out(list, result.bytes.data(), result.labels.data());
    return result;
}

} // namespace tk
