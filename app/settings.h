// The settings file quilm.cfg beside the executable: the P-state table and the
// auto-mode flag as a 97-byte image.
#pragma once
#include <cstdint>

namespace app {

struct SettingsState {
    uint8_t auto_start; // byte 96 of the last loaded file; start-up switches auto mode on when set
};
extern SettingsState settings;

// Writes the table and auto_mode to the settings file.
void save_settings(int32_t id);

// Reads the settings file into the table; 0 on success, 1 on any failure.
uint32_t load_settings(int32_t id);

} // namespace app
