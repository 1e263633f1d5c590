// The package temperature and power that the operating system's own sensor drivers report.
#pragma once
#include <cstdint>

namespace platform {

struct PackageSensors {
    bool celsius_known = false;
    int32_t millicelsius = 0; // the control temperature (Tctl), 1/1000 degrees Celsius
    bool watts_known = false;
    int64_t microwatts = 0; // the package's power, 1/1000000 W
};

// Reads the sensors below root ("" for the running system): Linux's hwmon devices named
// k10temp (temp1_input) and fam15h_power (power1_input); on the simulated processor, its
// temperature. What the system does not offer stays unknown.
void read_package_sensors(const char* root, PackageSensors* sensors);

} // namespace platform
