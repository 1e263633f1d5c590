// Turns drawing programs back into readable text, one instruction a line with its
// block offset and decoded operands:
//
//   0004 OP_FRAME
//   0005 OP_JUMP_IF_AT 0 -> 0018 ref 1:0
//   0016 OP_INK 2
//   0018 OP_TEXT "up \x18"
//   0024 OP_END
//
// Texts are quoted, with line breaks shown as `newline n` between the quoted runs;
// jump targets are block offsets; references are binding:offset. Padding bytes are
// not shown. A debugging aid: it writes into the caller's buffer and allocates nothing.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tk {

// Writes the instruction at offset as one line (without a line break) into out, NUL-terminated and
// cut to capacity; returns the offset of the next instruction (the block's size if it ends inside it).
uint32_t disassemble_instruction(const uint8_t* block, uint32_t size, uint32_t offset, char* out,
                                 size_t capacity);

// Writes the program at offset, one line per instruction, through its OP_END or to the block's end;
// returns the number of characters written (out is NUL-terminated and cut to capacity).
size_t disassemble_program(const uint8_t* block, uint32_t size, uint32_t offset, char* out, size_t capacity);

} // namespace tk
