// The widget table: at most 128 widgets filled from constant 24-byte templates.
// A widget id is its slot number times 4; -1 means no widget.
//
// References: the 32-bit `program` of a widget is an offset into the program
// block; its 32-bit `data` is a reference into the binding table: the binding's
// index in the high 16 bits and a byte offset in the low 16 bits, so that the
// row offset (4 bytes a row) can be added to a template's reference. Binding 0
// is the null binding.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tk {

inline constexpr int max_widgets = 128;

// clang-format off
inline constexpr uint8_t KIND_STATIC = 0;
inline constexpr uint8_t KIND_TOGGLE = 1;
inline constexpr uint8_t KIND_SLIDER = 2;
inline constexpr uint8_t KIND_BUTTON = 3;
inline constexpr uint8_t KIND_CYCLER = 4;
inline constexpr uint8_t KIND_CANVAS = 5;
inline constexpr uint8_t KIND_TEXT   = 6;

inline constexpr uint8_t FLAG_PRESSED     = 0x01; // run-time pressed state
inline constexpr uint8_t FLAG_GROUP_DRAG  = 0x02; // a right-button drag moves the whole group
inline constexpr uint8_t FLAG_ENTER       = 0x04; // Enter activates; inverted focus look
inline constexpr uint8_t FLAG_LEFT_RIGHT  = 0x08; // Left/Right move the focus within the group
inline constexpr uint8_t FLAG_UP_DOWN     = 0x10; // Up/Down move the focus within the group
inline constexpr uint8_t FLAG_REDRAW_ALL  = 0x20; // redraw every widget after activation
inline constexpr uint8_t FLAG_FINE        = 0x40; // a slider whose pos counts values, not pixels
// clang-format on

// A button's action routine, called with the widget id.
using Action = void (*)(int32_t id);

// One entry of the binding table: a bound value's address or a button's action.
struct Binding {
    void* value = nullptr;
    Action action = nullptr;
};

constexpr uint32_t make_ref(uint32_t binding, uint32_t offset = 0) {
    return binding << 16 | (offset & 0xFFFF);
}

// A constant widget template, 24 bytes, placed by add_template_set.
struct Template {
    uint32_t program; // offset into the program block; 0 ends the set
    uint32_t data;    // reference of row 0's bound value (or the action)
    int16_t x;        // negative: from the framebuffer's right edge
    int16_t y;        // -1: below the previous widget of this call; -2 and below: from the bottom edge
    int16_t width;    // negative: reaches to a distance from the right edge
    uint16_t height;
    uint16_t pos;
    uint8_t row;
    uint8_t kind;
    uint8_t colour;
    uint8_t flags;
    uint8_t hotkey;
    uint8_t reserved;
};
static_assert(sizeof(Template) == 24);

// What the application hands the toolkit once: its program block, binding table and template sets.
struct Resources {
    const uint8_t* programs = nullptr; // block of drawing programs, 4-byte aligned
    uint32_t program_size = 0;
    const Binding* bindings = nullptr;
    uint32_t binding_count = 0;
    const Template* const* sets = nullptr; // indexed by set number; each ends with program 0
    uint32_t set_count = 0;
};

// Structure of arrays; every array is indexed by slot = id / 4.
struct WidgetTable {
    uint32_t program[max_widgets];
    uint32_t data[max_widgets];
    struct Place {
        uint16_t x, y;
    } place[max_widgets];
    struct Bits {
        uint8_t row, kind, group, flags;
    } bits[max_widgets];
    struct Size {
        uint16_t width, height;
    } size[max_widgets];
    struct Extra {
        uint16_t pos;
        uint8_t colour, hotkey;
    } extra[max_widgets];
    uint32_t used_length; // 4 x number of widgets: the id of the next free slot
    Resources resources;
};
extern WidgetTable widgets;

// Field access by widget id (id must be below used_length).
inline uint16_t& wx(int32_t id) {
    return widgets.place[id >> 2].x;
}
inline uint16_t& wy(int32_t id) {
    return widgets.place[id >> 2].y;
}
inline uint16_t& wwidth(int32_t id) {
    return widgets.size[id >> 2].width;
}
inline uint16_t& wheight(int32_t id) {
    return widgets.size[id >> 2].height;
}
inline uint8_t& wrow(int32_t id) {
    return widgets.bits[id >> 2].row;
}
inline uint8_t& wkind(int32_t id) {
    return widgets.bits[id >> 2].kind;
}
inline uint8_t& wgroup(int32_t id) {
    return widgets.bits[id >> 2].group;
}
inline uint8_t& wflags(int32_t id) {
    return widgets.bits[id >> 2].flags;
}
inline uint16_t& wpos(int32_t id) {
    return widgets.extra[id >> 2].pos;
}
inline uint8_t& wcolour(int32_t id) {
    return widgets.extra[id >> 2].colour;
}
inline uint8_t& whotkey(int32_t id) {
    return widgets.extra[id >> 2].hotkey;
}
inline uint32_t& wprogram(int32_t id) {
    return widgets.program[id >> 2];
}
inline uint32_t& wdata(int32_t id) {
    return widgets.data[id >> 2];
}

// True when id names a widget (the none id -1 never does).
inline bool valid_id(int32_t id) {
    return static_cast<uint32_t>(id) < widgets.used_length;
}

// Installs the application's resources (before the first add_template_set).
void set_resources(const Resources& resources);

// The resources of one assembled program block with its binding table and template sets.
template <class Block, size_t binding_count, size_t set_count>
Resources resources_of(const Block& programs, const Binding (&bindings)[binding_count],
                       const Template* const (&sets)[set_count]) {
    return {programs.data(),    uint32_t(programs.size), bindings, uint32_t(binding_count), sets,
            uint32_t(set_count)};
}

// Address behind a reference, or nullptr when its binding does not exist or is null.
uint8_t* bound_address(uint32_t ref);

// Action behind a reference, or nullptr.
Action bound_action(uint32_t ref);

// Appends the widgets of a template set, placed by the row and offsets; returns the new
// used_length, or -1 (nothing written) when the set does not exist or the table would pass 128 widgets.
int32_t add_template_set(int32_t row, int32_t y_offset, int32_t x_offset, int32_t set);

// Empties the table (tests start clean with this); keeps nothing.
void reset_widgets();

} // namespace tk
