// The settings file: a byte image of the P-state table and auto_mode, followed
// by a short trailer naming the register layout it was saved with.
#include "app/settings.h"

#include <cstring>

#include "app/governor.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/files.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

SettingsState settings;

namespace {

// Trailer after the 97 bytes: a tag and the field layout of the words and row bytes.
// Readers of the plain format ignore it; files without it load as before.
constexpr char trailer_tag[4] = {'Q', 'L', 'Y', 'T'};
constexpr size_t trailer_size = 5;
// The trailer's layout code comes from the layout table (1 family 10h, 2 family 15h SVI2, ...).
uint8_t own_trailer_layout() {
    return current_layout().code;
}

} // namespace

bool save_image(const char* path) {
    uint8_t image[settings_image_size + trailer_size];
    std::memcpy(image, &pstate.table, sizeof(PstateTable));
    image[96] = load_shared(pstate.auto_mode);
    std::memcpy(image + settings_image_size, trailer_tag, sizeof trailer_tag);
    image[settings_image_size + 4] = own_trailer_layout();
    return platform::file_replace(path, image, sizeof image) == platform::FileResult::ok;
}

SettingsStatus load_image(const char* path) {
    uint8_t image[settings_image_size + trailer_size];
    uint32_t length = 0;
    if (platform::file_read(path, image, sizeof image, &length) != platform::FileResult::ok)
        return SettingsStatus::unreadable;
    // Loading ends automatic mode: the table is about to change under the governor.
    stop_governor();

    if (length < sizeof(PstateTable)) return SettingsStatus::short_file;
    if (length == sizeof image && std::memcmp(image + settings_image_size, trailer_tag, sizeof trailer_tag) == 0 &&
        image[settings_image_size + 4] != own_trailer_layout())
        return SettingsStatus::other_layout;

    std::memcpy(pstate.table.reg_low, image, sizeof pstate.table.reg_low + sizeof pstate.table.reg_high);
    for (int i = 0; i < pstate_rows; ++i) {
        const uint8_t* row = image + offsetof(PstateTable, rows) + 4 * i;
        store_shared(pstate.table.rows[i].state, row[0]);
        pstate.table.rows[i].multi = row[1];
        pstate.table.rows[i].vcore = row[2];
        pstate.table.rows[i].nb = row[3];
    }
    if (length > sizeof(PstateTable)) settings.auto_start = image[96];
    return SettingsStatus::ok;
}

void save_settings(int32_t) {
    if (!save_image(startup.settings_path)) {
        tk::show_message(startup.settings_path, "error!?");
        return;
    }
    tk::show_message("saved.", "success");
}

uint32_t load_settings(int32_t) {
    if (load_image(startup.settings_path) != SettingsStatus::ok) {
        tk::show_message(startup.settings_path, "error!?");
        return 1;
    }
    tk::sync_sliders();
    tk::redraw_all();
    tk::present();
    return 0;
}

} // namespace app
