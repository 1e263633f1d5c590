// The drawing-program interpreter: every widget paints itself by running its
// byte-code program from the program block.
#pragma once
#include <cstdint>

namespace tk {

// clang-format off
enum Op : uint8_t {
    OP_END          = 0,
    OP_JUMP_IF      = 7,   // s8 value; align; u32 target
    OP_JUMP_IF_AT   = 8,   // s8 value; align; u32 target; u32 reference
    OP_TEXT_LINES   = 13,
    OP_INK          = 14,  // u8 colour
    OP_TEXT         = 15,  // text bytes up to TEXT_END; TEXT_NEWLINE n
    OP_STRING       = 16,
    OP_BAR          = 17,  // u8 colour; u8 cells
    OP_METER        = 18,  // u8 colour; u8 cells: the bound byte's share of 255 of a bar, then the pen moves past it
    OP_HEX          = 20,  // u8 format
    OP_DEC          = 21,  // u8 scale; u8 format
    OP_FRAME        = 22,
    OP_ROW_DIGIT    = 23,
    OP_CHECK_FRAME  = 24,
    OP_SLIDER       = 25,  // u8 min; u8 max
    OP_NUMBER       = 26,  // u8 format; u8 size; u16 scale; align; u32 offset
    OP_HEX_AT       = 30,  // align; u32 reference; u8 format
    OP_DEC8_AT      = 31,  // align; u32 reference; u8 scale; u8 format
    OP_DEC16_AT     = 32,
    OP_DEC32_AT     = 33,
    OP_TRACE        = 40,  // align; u32 reference of the sample table
    OP_MASK         = 41,  // align; u32 reference of the mask; u16 width; u16 height
    OP_BLIT         = 50,  // align; u32 reference of the image; u16 width; u16 height
};
// clang-format on

inline constexpr uint8_t TEXT_END = 0xFF;
inline constexpr uint8_t TEXT_NEWLINE = 0xFE;
inline constexpr uint8_t PAD = 0x90; // filler before an aligned 32-bit operand

// Text-cursor state of text-line lists; nothing in this program changes it from its start values.
struct TextCursor {
    uint8_t row[256];            // cursor row, per group
    uint16_t column[256];        // cursor column in 9-pixel cells from the framebuffer's left edge, per group
    const uint8_t* select_start; // selected bytes: select_start <= byte < select_end
    const uint8_t* select_end;
    uint8_t shape; // 0 box, anything else underline
};
extern TextCursor text_cursor;

// Puts the text cursor back to its start values: row and column 0, no selection, underline.
void reset_text_cursor();

// Paints one widget (face, focus mark, program) and sets dirty; ids not below used_length draw nothing.
void redraw_widget(int32_t id);

// Paints every widget in slot order.
void redraw_all();

// Clamps each slider's bound byte to its range and moves its knob to match.
void sync_sliders();

// The range of a slider widget's program; false when it has none.
bool slider_range(int32_t id, uint8_t& lo, uint8_t& hi);

} // namespace tk
