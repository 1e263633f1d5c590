// The assembler lays out programs the way the interpreter reads them; the
// disassembler turns them back into text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "toolkit/assembler.h"
#include "toolkit/disassembler.h"

namespace {

using bytes = std::basic_string<uint8_t>;
constexpr uint32_t AUTO_MODE = tk::make_ref(1);

// The "up" button behind a one-byte program at offset 4, so that its jump target falls on a multiple
// of 4 without padding.
// clang-format off
constexpr auto shifted = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("background"), end(),
        label("up"), frame(), jump_if_at(0, "label", AUTO_MODE), ink(2),
        label("label"), text("up \x18"), end(),
    };
});
// The operand shapes the "up" button lacks, at several alignments.
constexpr auto shapes = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        jump_if(-1, "tail"), text("a\"\\"), text_newline(16, "b"), dec(5, 0x21),
        dec16_at(tk::make_ref(3, 2), 1, 0x50), blit(tk::make_ref(6), 300, 2), label("tail"), end(),
    };
});
// clang-format on

// Labels are usable wherever a constant is, as in a template's program field.
static_assert(shifted.offset("background") == 4 && shifted.offset("up") == 5 &&
              shifted.offset("label") == 18);

// Catches: padding to the wrong multiple, at the wrong offset or of other bytes, operands stored in the wrong
// order or byte order, a line break stored after its text, an unknown opcode ending the listing, escapes and
// codes outside ASCII written as they are, zero-padding of offsets, a listing that runs past OP_END or past
// the block, and an instruction cut off by the block's end shown as if it were whole.
TEST(Disassembler, ListsEveryOperandShapeAndWhatTheBlockCutsOff) {
    const std::pair<bytes, const char*> cases[] = {
        {bytes(shapes.data() + 4, shapes.size - 4), R"(0004 OP_JUMP_IF -1 -> 0044
0012 OP_TEXT "a\"\\"
0017 OP_TEXT newline 16 "b"
0022 OP_DEC 5 0x21
0025 OP_DEC16_AT ref 3:2 1 0x50
0034 OP_BLIT ref 6:0 300x2
0044 OP_END
)"},
        // An unknown opcode, then a text with a line break and codes outside ASCII; stops at OP_END.
        {{0x05, 0x0F, 'A', 0xFE, 8, 0xC3, 0x0A, 0xFF, 0x00, 0x0E, 0x01},
         "0004 unknown 0x05\n0005 OP_TEXT \"A\" newline 8 \"\\xC3\\x0A\"\n0012 OP_END\n"},
        {{0x1E, 0x90, 0x90, 0x90, 0x01, 0x00}, "0004 OP_HEX_AT <cut off by the end of the block>\n"},
        {{0x0F, 'o', 'k'}, "0004 OP_TEXT \"ok\" <cut off by the end of the block>\n"},
        {{0x0F, 0xFE}, "0004 OP_TEXT <cut off by the end of the block>\n"},
        {{0x19, 8}, "0004 OP_SLIDER <cut off by the end of the block>\n"},
        {{0x16, 0x17}, "0004 OP_FRAME\n0005 OP_ROW_DIGIT\n"}, // no OP_END: the listing stops with the block
    };
    for (const auto& [program, listing] : cases) {
        const bytes block = bytes{0x00, 0x90, 0x90, 0x90} + program;
        char text[4096];
        tk::disassemble_program(block.data(), static_cast<uint32_t>(block.size()), 4, text, sizeof text);
        EXPECT_STREQ(text, listing);
    }
    EXPECT_EQ(bytes(shapes.data() + 6, 2), bytes(2, tk::PAD)) << "the padding before the jump target";
}

// Catches: the wrong next offset, text left over for an offset at the block's end, and a buffer
// written past its end or left without its terminating zero.
TEST(Disassembler, InstructionReturnsTheNextOffsetAndKeepsToItsBuffer) {
    char text[256], line[64];
    tk::disassemble_program(shifted.data(), shifted.size, 5, text, sizeof text);
    EXPECT_STREQ(text, "0005 OP_FRAME\n0006 OP_JUMP_IF_AT 0 -> 0018 ref 1:0\n0016 OP_INK 2\n"
                       "0018 OP_TEXT \"up \\x18\"\n0024 OP_END\n");
    EXPECT_EQ(tk::disassemble_instruction(shifted.data(), shifted.size, 6, line, sizeof line), 16u);
    EXPECT_STREQ(line, "0006 OP_JUMP_IF_AT 0 -> 0018 ref 1:0");
    EXPECT_EQ(tk::disassemble_instruction(shifted.data(), shifted.size, shifted.size, line, sizeof line),
              shifted.size);
    EXPECT_STREQ(line, "");
    char small[9] = "xxxxxxxx";
    EXPECT_EQ(tk::disassemble_program(shifted.data(), shifted.size, 5, small, 8), 7u);
    EXPECT_STREQ(small, "0005 OP");
}

} // namespace
