// The assembler lays out programs the way the interpreter reads them; the
// disassembler turns them back into text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "toolkit/assembler.h"
#include "toolkit/disassembler.h"

namespace {

constexpr uint32_t AUTO_MODE = tk::make_ref(1);

template <class Block> std::string listing(const Block& block, uint32_t offset) {
    char text[4096];
    tk::disassemble_program(block.data(), block.size, offset, text, sizeof text);
    return text;
}

std::string listing(const uint8_t* block, uint32_t size, uint32_t offset) {
    char text[4096];
    tk::disassemble_program(block, size, offset, text, sizeof text);
    return text;
}

// The "up" button: starting at offset 4, and behind a one-byte program at offset 5.
// clang-format off
constexpr auto aligned = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("up"), frame(), jump_if_at(0, "label", AUTO_MODE), ink(2),
        label("label"), text("up \x18"), end(),
    };
});
constexpr auto shifted = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("background"), end(),
        label("up"), frame(), jump_if_at(0, "label", AUTO_MODE), ink(2),
        label("label"), text("up \x18"), end(),
    };
});
// clang-format on

// Labels are usable wherever a constant is, as in a template's program field.
static_assert(aligned.offset("up") == 4);
static_assert(shifted.offset("background") == 4 && shifted.offset("up") == 5);

TEST(Assembler, UpButtonAtAMultipleOfFourIsTheTwentyOneByteLayout) {
    const uint8_t expected[] = {
        0x16,                              // OP_FRAME
        0x08, 0x00, 0x90,                  // OP_JUMP_IF_AT 0, padding
        18,   0,    0,    0,               // target: block offset 4 + 14
        0,    0,    1,    0,               // reference of binding 1
        0x0E, 0x02,                        // OP_INK 2
        0x0F, 'u',  'p',  ' ', 0x18, 0xFF, // OP_TEXT "up " arrow TEXT_END
        0x00,                              // OP_END
    };
    ASSERT_EQ(aligned.size, 4 + sizeof expected);
    EXPECT_EQ(aligned.offset("label"), 18u);
    EXPECT_EQ(std::basic_string<uint8_t>(aligned.data() + 4, sizeof expected),
              std::basic_string<uint8_t>(expected, sizeof expected));
    EXPECT_EQ(listing(aligned, 4), R"(0004 OP_FRAME
0005 OP_JUMP_IF_AT 0 -> 0018 ref 1:0
0016 OP_INK 2
0018 OP_TEXT "up \x18"
0024 OP_END
)");
}

TEST(Assembler, UpButtonOneAboveAMultipleOfFourHasNoPadding) {
    const uint8_t* up = shifted.data() + shifted.offset("up");
    EXPECT_EQ(shifted.size - shifted.offset("up"), 20u);
    EXPECT_EQ(up[3], shifted.offset("label")) << "the target starts at program offset 3";
    EXPECT_EQ(shifted.offset("label"), 5u + 13u);
    EXPECT_EQ(listing(shifted, 5), R"(0005 OP_FRAME
0006 OP_JUMP_IF_AT 0 -> 0018 ref 1:0
0016 OP_INK 2
0018 OP_TEXT "up \x18"
0024 OP_END
)");
    EXPECT_EQ(listing(shifted, 4), "0004 OP_END\n") << "a listing stops at the program's end";
}

// One of every instruction, each operand shape at some alignment.
constexpr auto all = tk::assemble([] {
    using namespace tk::ins;
    return std::array{
        label("all"),
        jump_if(-1, "tail"),
        ink(14),
        text("a\"\\"),
        text_newline(16, "b"),
        string(),
        bar(3, 2),
        hex(0x88),
        dec(5, 0x21),
        frame(),
        row_digit(),
        check_frame(),
        slider(8, 63),
        hex_at(tk::make_ref(2, 16), 0x01),
        dec8_at(tk::make_ref(3), 5, 0x21),
        dec16_at(tk::make_ref(3, 2), 1, 0x50),
        dec32_at(tk::make_ref(3, 4), 125, 0x14),
        text_lines(),
        trace(tk::make_ref(4)),
        mask(tk::make_ref(5), 4, 2),
        blit(tk::make_ref(6), 300, 2),
        jump_if_at(0, "tail", tk::make_ref(1)),
        label("tail"),
        end(),
    };
});

TEST(Assembler, EveryInstructionKeepsItsOperandOrder) {
    EXPECT_EQ(all.size, 113u);
    EXPECT_EQ(listing(all, all.offset("all")), R"asm(0004 OP_JUMP_IF -1 -> 0112
0012 OP_INK 14
0014 OP_TEXT "a\"\\"
0019 OP_TEXT newline 16 "b"
0024 OP_STRING
0025 OP_BAR 3 2
0028 OP_HEX 0x88
0030 OP_DEC 5 0x21
0033 OP_FRAME
0034 OP_ROW_DIGIT
0035 OP_CHECK_FRAME
0036 OP_SLIDER 8 63
0039 OP_HEX_AT ref 2:16 0x01
0045 OP_DEC8_AT ref 3:0 5 0x21
0054 OP_DEC16_AT ref 3:2 1 0x50
0062 OP_DEC32_AT ref 3:4 125 0x14
0070 OP_TEXT_LINES
0071 OP_TRACE ref 4:0
0076 OP_MASK ref 5:0 4x2
0088 OP_BLIT ref 6:0 300x2
0100 OP_JUMP_IF_AT 0 -> 0112 ref 1:0
0112 OP_END
)asm");
}

TEST(Disassembler, ShowsUnknownOpcodesEscapesAndCutOffInstructions) {
    using bytes = std::basic_string<uint8_t>;
    struct Case {
        const char* what;
        bytes program; // placed at offset 4, behind the prologue
        const char* text;
    };
    const Case cases[] = {
        {"unknown opcode, then text with newline and non-ASCII codes; stops at OP_END",
         bytes{0x05, 0x0F, 'A', 0xFE, 8, 0xC3, 0x0A, 0xFF, 0x00, 0x0E, 0x01},
         R"(0004 unknown 0x05
0005 OP_TEXT "A" newline 8 "\xC3\x0A"
0012 OP_END
)"},
        {"aligned operand past the block", bytes{0x1E, 0x90, 0x90, 0x90, 0x01, 0x00},
         "0004 OP_HEX_AT <cut off by the end of the block>\n"},
        {"text without TEXT_END", bytes{0x0F, 'o', 'k'},
         "0004 OP_TEXT \"ok\" <cut off by the end of the block>\n"},
        {"newline step past the block", bytes{0x0F, 0xFE},
         "0004 OP_TEXT <cut off by the end of the block>\n"},
        {"byte operand past the block", bytes{0x19, 8}, "0004 OP_SLIDER <cut off by the end of the block>\n"},
        {"no OP_END: the listing stops with the block", bytes{0x16, 0x17},
         "0004 OP_FRAME\n0005 OP_ROW_DIGIT\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bytes block = bytes{0x00, 0x90, 0x90, 0x90} + c.program;
        EXPECT_EQ(listing(block.data(), static_cast<uint32_t>(block.size()), 4), c.text);
    }
}

TEST(Disassembler, InstructionReturnsTheNextOffsetAndKeepsToItsBuffer) {
    char line[64];
    EXPECT_EQ(tk::disassemble_instruction(shifted.data(), shifted.size, 6, line, sizeof line), 16u);
    EXPECT_STREQ(line, "0006 OP_JUMP_IF_AT 0 -> 0018 ref 1:0");
    EXPECT_EQ(tk::disassemble_instruction(shifted.data(), shifted.size, shifted.size, line, sizeof line),
              shifted.size);
    EXPECT_STREQ(line, "");

    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(tk::disassemble_program(shifted.data(), shifted.size, 5, small, sizeof small), 7u);
    EXPECT_STREQ(small, "0005 OP");
}

} // namespace
