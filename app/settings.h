// The settings file quilm.cfg beside the executable: the P-state table and the
// auto-mode flag as a 97-byte image.
#pragma once
#include <cstdint>

namespace app {

struct SettingsState {
    uint8_t auto_start; // byte 96 of the last loaded file; start-up switches auto mode on when set
};
extern SettingsState settings;

// What reading a settings file came to.
enum class SettingsStatus : uint8_t {
    ok,           // read with the meaning it was written with
    converted,    // written with an older meaning of the same registers, converted exactly
    unreadable,   // missing, cannot be opened, or a read failed
    short_file,   // fewer than the table's 96 bytes
    other_layout, // its row bytes mean something else on this processor's register layout
    out_of_range, // a row byte outside its column's range, or one with no exact place in this layout
    no_processor, // processor 0's definition registers could not be read
};

// Why a file was not loaded, for messages; nullptr for ok and converted.
const char* settings_text(SettingsStatus status);

// Writes the table, auto_mode and the layout trailer to the file; false on failure.
bool save_image(const char* path);

// Reads a settings file into the table when every byte of it has a meaning here (only then ending
// automatic mode): the words' bits that no column shows are processor 0's own. The start byte goes
// to auto_start. Nothing is shown and nothing is redrawn.
SettingsStatus load_image(const char* path);

// Writes the table and auto_mode to the settings file.
void save_settings(int32_t id);

// Reads the settings file into the table; 0 on success, 1 on any failure.
uint32_t load_settings(int32_t id);

} // namespace app
