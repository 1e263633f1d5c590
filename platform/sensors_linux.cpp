// Package sensors on Linux: the hwmon class devices of the k10temp and fam15h_power
// drivers, found by their names, or the simulated processor's temperature.
#include "platform/sensors.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/hw.h"
#include "platform/sim.h"

namespace platform {

namespace {

// The first line of a file as a decimal number; false when it holds none.
bool read_number(const std::filesystem::path& path, long long* value) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    const bool read = std::fscanf(file, "%lld", value) == 1;
    std::fclose(file);
    return read;
}

std::string first_word(const std::filesystem::path& path) {
    char word[64] = {};
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return {};
    if (std::fscanf(file, "%63s", word) != 1) word[0] = 0;
    std::fclose(file);
    return word;
}

} // namespace

void read_package_sensors(const char* root, PackageSensors* sensors) {
    *sensors = PackageSensors{};
    if (hw_simulated_processor_count() != 0) {
        sensors->celsius_known = sim_temperature(&sensors->millicelsius);
        return;
    }
    std::error_code error;
    const std::filesystem::path hwmon = std::string(root) + "/sys/class/hwmon";
    for (const auto& device : std::filesystem::directory_iterator(hwmon, error)) {
        const std::string name = first_word(device.path() / "name");
        long long value = 0;
        if (name == "k10temp" && !sensors->celsius_known &&
            read_number(device.path() / "temp1_input", &value)) {
            sensors->celsius_known = true;
            sensors->millicelsius = int32_t(value);
        } else if (name == "fam15h_power" && !sensors->watts_known &&
                   read_number(device.path() / "power1_input", &value)) {
            sensors->watts_known = true;
            sensors->microwatts = value;
        }
    }
}

} // namespace platform
