// The settings file: a byte image of the P-state table and auto_mode, followed
// by a short trailer naming the meaning of its row bytes. A file is read with the
// meaning it was written with, converted exactly from an older one, or refused.
#include "app/settings.h"

#include <cstdio>
#include <cstring>

#include "app/governor.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/files.h"
#include "platform/hw.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

SettingsState settings;

namespace {

// Trailer after the 97 bytes: a tag and the code of the row bytes' meaning (the layout table's
// `code`). Readers of the plain format ignore it.
constexpr char trailer_tag[4] = {'Q', 'L', 'Y', 'T'};
constexpr size_t trailer_size = 5;
constexpr size_t file_size = settings_image_size + trailer_size;

// The meaning code of a file's bytes: its trailer's, else what a plain file means on this layout.
uint8_t file_code(const uint8_t* image, uint32_t length, const Layout& layout) {
    if (length == file_size && std::memcmp(image + settings_image_size, trailer_tag, sizeof trailer_tag) == 0)
        return image[settings_image_size + 4];
    return layout.plain_code;
}

// The file's rows in this layout's meaning, checked byte by byte, with every bit that no column shows
// taken from processor 0's own registers.
SettingsStatus read_table(const uint8_t* image, uint8_t code, PstateTable& table) {
    const Layout& layout = current_layout();
    if (code == 0 || (code != layout.code && code != layout.older_code)) return SettingsStatus::other_layout;
    std::memcpy(&table, image, sizeof table);
    const uint64_t shown = column_bits(layout);
    const uint32_t count = load_shared(pstate.pstate_count);
    for (uint32_t i = 0; i < pstate_rows; ++i) {
        uint64_t reg = join(table.reg_low[i], table.reg_high[i]);
        PstateRow& row = table.rows[i];
        if (code != layout.code && !convert_older_row(layout, reg, row)) return SettingsStatus::out_of_range;
        if (!row_in_range(layout, reg, row)) return SettingsStatus::out_of_range;
        if (i < count) {
            uint32_t low = 0, high = 0;
            if (!hw_rdmsr_on(0, MSR_PSTATE_DEF0 + i, &low, &high)) return SettingsStatus::no_processor;
            reg = (join(low, high) & ~shown) | (reg & shown);
            if (!fields_shown(layout, reg, join(low, high))) return SettingsStatus::out_of_range;
        }
        table.reg_low[i] = uint32_t(reg);
        table.reg_high[i] = uint32_t(reg >> 32);
    }
    return code == layout.code ? SettingsStatus::ok : SettingsStatus::converted;
}

} // namespace

const char* settings_text(SettingsStatus status) {
    switch (status) {
    case SettingsStatus::ok:
    case SettingsStatus::converted: return nullptr;
    case SettingsStatus::unreadable: return "cannot read the settings file";
    case SettingsStatus::short_file: return "not a settings file (too short)";
    case SettingsStatus::other_layout: return "saved for another register layout";
    case SettingsStatus::out_of_range: return "a row holds a value outside its column's range";
    case SettingsStatus::no_processor: return "cannot read the processor's P-state definitions";
    }
    return nullptr;
}

bool save_image(const char* path) {
    uint8_t image[file_size];
    std::memcpy(image, &pstate.table, sizeof(PstateTable));
    image[96] = load_shared(pstate.auto_mode);
    std::memcpy(image + settings_image_size, trailer_tag, sizeof trailer_tag);
    image[settings_image_size + 4] = current_layout().code;
    return platform::file_replace(path, image, sizeof image) == platform::FileResult::ok;
}

SettingsStatus load_image(const char* path) {
    uint8_t image[file_size];
    uint32_t length = 0;
    if (platform::file_read(path, image, sizeof image, &length) != platform::FileResult::ok)
        return SettingsStatus::unreadable;
    if (length < sizeof(PstateTable)) return SettingsStatus::short_file;
    PstateTable table;
    const SettingsStatus status = read_table(image, file_code(image, length, current_layout()), table);
    if (status != SettingsStatus::ok && status != SettingsStatus::converted) return status;

    // The file is good: loading ends automatic mode, since the table is about to change under the governor.
    stop_governor();
    std::memcpy(pstate.table.reg_low, table.reg_low, sizeof table.reg_low + sizeof table.reg_high);
    for (int i = 0; i < pstate_rows; ++i) {
        store_shared(pstate.table.rows[i].state, table.rows[i].state);
        pstate.table.rows[i].multi = table.rows[i].multi;
        pstate.table.rows[i].vcore = table.rows[i].vcore;
        pstate.table.rows[i].nb = table.rows[i].nb;
    }
    if (length > sizeof(PstateTable)) settings.auto_start = image[96];
    return status;
}

void save_settings(int32_t) {
    if (!save_image(startup.settings_path)) {
        tk::show_message(startup.settings_path, "error!?");
        return;
    }
    tk::show_message("saved.", "success");
}

uint32_t load_settings(int32_t) {
    const SettingsStatus status = load_image(startup.settings_path);
    if (status != SettingsStatus::ok && status != SettingsStatus::converted) {
        // A file that could not be read shows its path; a refused one also says why.
        char text[settings_path_size + 96];
        if (status == SettingsStatus::unreadable || status == SettingsStatus::short_file)
            std::snprintf(text, sizeof text, "%s", startup.settings_path);
        else
            std::snprintf(text, sizeof text, "%s: %s: nothing loaded", startup.settings_path,
                          settings_text(status));
        tk::show_message(text, "error!?");
        return 1;
    }
    tk::sync_sliders();
    tk::redraw_all();
    tk::present();
    return 0;
}

} // namespace app
