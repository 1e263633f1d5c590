// The widget table and the placement of template sets into it.
#include "toolkit/widgets.h"

#include "toolkit/window.h"

namespace tk {

WidgetTable widgets;

void set_resources(const Resources& resources) {
    widgets.resources = resources;
}

// The binding a reference names, or nullptr for the null binding and for indices past the table.
static const Binding* binding_of(uint32_t ref) {
    const Resources& r = widgets.resources;
    uint32_t index = ref >> 16;
    if (index == 0 || index >= r.binding_count || r.bindings == nullptr) return nullptr;
    return &r.bindings[index];
}

uint8_t* bound_address(uint32_t ref) {
    const Binding* b = binding_of(ref);
    if (b == nullptr || b->value == nullptr) return nullptr;
    return static_cast<uint8_t*>(b->value) + (ref & 0xFFFF);
}

Action bound_action(uint32_t ref) {
    const Binding* b = binding_of(ref);
    return b == nullptr ? nullptr : b->action;
}

// The row offset moves a reference within its binding only: an offset that overflows its
// 16 bits wraps rather than carrying into the binding index and naming another value.
static uint32_t shift_ref(uint32_t ref, int32_t row) {
    return (ref & 0xFFFF0000u) | ((ref + 4u * static_cast<uint32_t>(row)) & 0xFFFFu);
}

int32_t add_template_set(int32_t row, int32_t y_offset, int32_t x_offset, int32_t set) {
    const Resources& r = widgets.resources;
    if (set < 0 || static_cast<uint32_t>(set) >= r.set_count || r.sets == nullptr || r.sets[set] == nullptr)
        return -1;
    const Template* first = r.sets[set];

    // Count the set before writing anything, so that a set too large for the table adds nothing.
    uint32_t free_slots = max_widgets - widgets.used_length / 4;
    uint32_t count = 0;
    while (first[count].program != 0) {
        if (++count > free_slots) return -1;
    }

    const int32_t fb_width = window.fb.width;
    const int32_t fb_height = window.fb.height;
    int32_t previous_bottom = 0; // a leading y of -1 starts at the top of the offset
    for (const Template* t = first; t->program != 0; ++t) {
        int32_t id = static_cast<int32_t>(widgets.used_length);
        int32_t y = t->y;
        if (y == -1)
            y = previous_bottom;
        else if (y <= -2)
            y += fb_height;
        int32_t x = t->x;
        if (x < 0) x += fb_width;

        wprogram(id) = t->program;
        wdata(id) = shift_ref(t->data, row);
        wx(id) = static_cast<uint16_t>(x + x_offset);
        wy(id) = static_cast<uint16_t>(y + y_offset);
        int32_t width = t->width;
        if (width < 0) width = fb_width - wx(id) + width + 1;
        wwidth(id) = static_cast<uint16_t>(width);
        wheight(id) = t->height;
        previous_bottom = y + t->height;
        wpos(id) = t->pos;
        wrow(id) = static_cast<uint8_t>(t->row + row);
        wkind(id) = t->kind;
        wcolour(id) = t->colour;
        wflags(id) = t->flags;
        whotkey(id) = t->hotkey;
        wgroup(id) = static_cast<uint8_t>(set);
        widgets.used_length += 4;
    }
    return static_cast<int32_t>(widgets.used_length);
}

void reset_widgets() {
    widgets = WidgetTable{};
}

} // namespace tk
