// Work in progress: placeholder bodies until the widget table lands.
#include "toolkit/widgets.h"

namespace tk {
WidgetTable widgets;
void set_resources(const Resources& resources) { widgets.resources = resources; }
uint8_t* bound_address(uint32_t) { return nullptr; }
Action bound_action(uint32_t) { return nullptr; }
int32_t add_template_set(int32_t, int32_t, int32_t, int32_t) { return -1; }
void reset_widgets() { widgets = WidgetTable{}; }
} // namespace tk
