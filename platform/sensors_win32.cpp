// Package sensors on Windows: the system offers none that quilm reads; what the
// processor's own registers tell is read through the hardware layer instead.
#include "platform/sensors.h"

namespace platform {

void read_package_sensors(const char*, PackageSensors* sensors) {
    *sensors = PackageSensors{};
}

} // namespace platform
