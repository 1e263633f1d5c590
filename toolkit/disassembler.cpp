// The disassembler: one helper per operand shape, each writing its instruction and
// returning the offset of the next one. Operands are read with the interpreter's
// rules (32-bit operands aligned to a multiple of 4 of their block offset).
#include "toolkit/disassembler.h"

#include "toolkit/program.h"

namespace tk {
namespace {

// Text written into a caller's buffer; what does not fit is dropped, and the text stays NUL-terminated.
struct Out {
    char* text;
    size_t capacity;
    size_t length = 0;

    void put(char c) {
        if (length + 1 >= capacity) return;
        text[length++] = c;
        text[length] = '\0';
    }
    void put(const char* s) {
        while (*s != '\0') put(*s++);
    }
    void decimal(int64_t v, int width = 1) {
        if (v < 0) {
            put('-');
            v = -v;
        }
        char digits[20];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        for (int i = n; i < width; ++i) put('0');
        while (n > 0) put(digits[--n]);
    }
    void hex_digit(uint32_t d) { put("0123456789ABCDEF"[d & 15]); }
    void hex_byte(uint8_t v) {
        put("0x");
        hex_digit(v >> 4);
        hex_digit(v);
    }
    void ref(uint32_t r) {
        put(" ref ");
        decimal(r >> 16);
        put(':');
        decimal(r & 0xFFFF);
    }
};

// Reads operands like the interpreter; a read past the block marks the instruction as cut off.
struct Code {
    const uint8_t* block;
    uint32_t size;
    uint32_t pc;
    bool overrun = false;

    uint8_t u8() {
        if (pc >= size) {
            overrun = true;
            return 0;
        }
        return block[pc++];
    }
    uint16_t u16() {
        uint16_t low = u8();
        return static_cast<uint16_t>(low | u8() << 8);
    }
    uint32_t aligned_u32() {
        uint64_t at = (uint64_t{pc} + 3) & ~uint64_t{3};
        if (at + 4 > size) {
            overrun = true;
            pc = size;
            return 0;
        }
        const uint8_t* p = block + at;
        pc = static_cast<uint32_t>(at + 4);
        return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
    }
};

enum class Style { dec, hex };

void operand(Out& o, uint8_t v, Style style) {
    o.put(' ');
    if (style == Style::hex)
        o.hex_byte(v);
    else
        o.decimal(v);
}

// Marks the line as cut off: the block ended inside the instruction, so nothing follows it.
uint32_t cut_off(const Code& c, Out& o) {
    o.put(" <cut off by the end of the block>");
    return c.size;
}

// Starts the line with the name; false (and the line marked) when the operands were cut off.
bool start(const char* name, const Code& c, Out& o) {
    o.put(name);
    if (c.overrun) cut_off(c, o);
    return !c.overrun;
}

uint32_t simple(const char* name, const Code& c, Out& o) {
    o.put(name);
    return c.pc;
}

uint32_t byte_instruction(const char* name, Code& c, Out& o, Style style) {
    uint8_t a = c.u8();
    if (!start(name, c, o)) return c.size;
    operand(o, a, style);
    return c.pc;
}

uint32_t two_byte_instruction(const char* name, Code& c, Out& o, Style first, Style second) {
    uint8_t a = c.u8(), b = c.u8();
    if (!start(name, c, o)) return c.size;
    operand(o, a, first);
    operand(o, b, second);
    return c.pc;
}

uint32_t jump_instruction(const char* name, Code& c, Out& o, bool with_ref) {
    auto value = static_cast<int8_t>(c.u8());
    uint32_t target = c.aligned_u32();
    uint32_t ref = with_ref ? c.aligned_u32() : 0;
    if (!start(name, c, o)) return c.size;
    o.put(' ');
    o.decimal(value);
    o.put(" -> ");
    o.decimal(target, 4);
    if (with_ref) o.ref(ref);
    return c.pc;
}

uint32_t text_instruction(const char* name, Code& c, Out& o) {
    o.put(name);
    bool quoted = false;
    for (;;) {
        uint8_t b = c.u8();
        if (c.overrun || b == TEXT_END || b == TEXT_NEWLINE) {
            if (quoted) o.put('"');
            quoted = false;
        }
        if (c.overrun) return cut_off(c, o);
        if (b == TEXT_END) return c.pc;
        if (b == TEXT_NEWLINE) {
            uint8_t step = c.u8();
            if (c.overrun) return cut_off(c, o);
            o.put(" newline ");
            o.decimal(step);
            continue;
        }
        if (!quoted) o.put(" \"");
        quoted = true;
        if (b == '"' || b == '\\') o.put('\\');
        if (b >= 32 && b < 127) {
            o.put(static_cast<char>(b));
        } else {
            o.put("\\x");
            o.hex_digit(b >> 4);
            o.hex_digit(b);
        }
    }
}

// Instructions with a reference and then `count` byte operands.
uint32_t ref_instruction(const char* name, Code& c, Out& o, int count, Style first, Style second) {
    uint32_t ref = c.aligned_u32();
    uint8_t a = count > 0 ? c.u8() : 0, b = count > 1 ? c.u8() : 0;
    if (!start(name, c, o)) return c.size;
    o.ref(ref);
    if (count > 0) operand(o, a, first);
    if (count > 1) operand(o, b, second);
    return c.pc;
}

uint32_t image_instruction(const char* name, Code& c, Out& o) {
    uint32_t ref = c.aligned_u32();
    uint16_t w = c.u16(), h = c.u16();
    if (!start(name, c, o)) return c.size;
    o.ref(ref);
    o.put(' ');
    o.decimal(w);
    o.put('x');
    o.decimal(h);
    return c.pc;
}

uint32_t number_instruction(const char* name, Code& c, Out& o) {
    uint8_t format = c.u8(), size = c.u8();
    uint16_t scale = c.u16();
    uint32_t offset = c.aligned_u32();
    if (!start(name, c, o)) return c.size;
    operand(o, format, Style::hex);
    operand(o, size, Style::dec);
    o.put(' ');
    o.decimal(scale);
    o.put(" + ");
    o.decimal(offset);
    return c.pc;
}

uint32_t unknown_instruction(uint8_t op, const Code& c, Out& o) {
    o.put("unknown ");
    o.hex_byte(op);
    return c.pc;
}

uint32_t instruction(Code& c, Out& o) {
    o.decimal(c.pc, 4);
    o.put(' ');
    const uint8_t op = c.u8();
    switch (op) {
    case OP_END: return simple("OP_END", c, o);
    case OP_JUMP_IF: return jump_instruction("OP_JUMP_IF", c, o, false);
    case OP_JUMP_IF_AT: return jump_instruction("OP_JUMP_IF_AT", c, o, true);
    case OP_TEXT_LINES: return simple("OP_TEXT_LINES", c, o);
    case OP_INK: return byte_instruction("OP_INK", c, o, Style::dec);
    case OP_TEXT: return text_instruction("OP_TEXT", c, o);
    case OP_STRING: return simple("OP_STRING", c, o);
    case OP_BAR: return two_byte_instruction("OP_BAR", c, o, Style::dec, Style::dec);
    case OP_METER: return two_byte_instruction("OP_METER", c, o, Style::dec, Style::dec);
    case OP_HEX: return byte_instruction("OP_HEX", c, o, Style::hex);
    case OP_DEC: return two_byte_instruction("OP_DEC", c, o, Style::dec, Style::hex);
    case OP_FRAME: return simple("OP_FRAME", c, o);
    case OP_ROW_DIGIT: return simple("OP_ROW_DIGIT", c, o);
    case OP_CHECK_FRAME: return simple("OP_CHECK_FRAME", c, o);
    case OP_SLIDER: return two_byte_instruction("OP_SLIDER", c, o, Style::dec, Style::dec);
    case OP_NUMBER: return number_instruction("OP_NUMBER", c, o);
    case OP_HEX_AT: return ref_instruction("OP_HEX_AT", c, o, 1, Style::hex, Style::hex);
    case OP_DEC8_AT: return ref_instruction("OP_DEC8_AT", c, o, 2, Style::dec, Style::hex);
    case OP_DEC16_AT: return ref_instruction("OP_DEC16_AT", c, o, 2, Style::dec, Style::hex);
    case OP_DEC32_AT: return ref_instruction("OP_DEC32_AT", c, o, 2, Style::dec, Style::hex);
    case OP_TRACE: return ref_instruction("OP_TRACE", c, o, 0, Style::dec, Style::dec);
    case OP_MASK: return image_instruction("OP_MASK", c, o);
    case OP_BLIT: return image_instruction("OP_BLIT", c, o);
    default: return unknown_instruction(op, c, o);
    }
}

} // namespace

uint32_t disassemble_instruction(const uint8_t* block, uint32_t size, uint32_t offset, char* out,
                                 size_t capacity) {
    Out o{out, capacity};
    if (capacity > 0) out[0] = '\0';
    if (block == nullptr || offset >= size) return size;
    Code c{block, size, offset};
    return instruction(c, o);
}

size_t disassemble_program(const uint8_t* block, uint32_t size, uint32_t offset, char* out, size_t capacity) {
    Out o{out, capacity};
    if (capacity > 0) out[0] = '\0';
    if (block == nullptr) return 0;
    while (offset < size) {
        const bool last = block[offset] == OP_END;
        Code c{block, size, offset};
        offset = instruction(c, o);
        o.put('\n');
        if (last) break;
    }
    return o.length;
}

} // namespace tk
