// Fuzzes the settings loader: the first byte chooses the simulated processor (and
// so its register layout), the rest is the settings file, trailer code and all;
// it is loaded and then applied. Never a crash, never a register written with a
// field that the window could not have shown, and never a bit that no column
// shows taken from the file.
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "app/actions.h"
#include "app/layouts.h"
#include "app/settings.h"
#include "app/startup.h"
#include "platform/sim.h"

namespace {

constexpr const char* profiles[] = {"fam10h", "fam10h,pvi=1", "fam15h",    "fam15h-m01",
                                    "fam16h", "fam17h",       "fam19h-m74"};

// Whether a changed field shows a value its slider has (fine columns: a step, not "off" or "other").
bool shown_value(app::Column column, uint8_t raw, uint8_t shown) {
    const bool fine = column != app::Column::legacy_multi && column != app::Column::legacy_vid &&
                      column != app::Column::legacy_nb && column != app::Column::nb_pstate;
    return raw == shown && (!fine || raw >= 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    platform::sim_reset();
    app::reset_pstate();
    setenv("QUILM_SIM", profiles[data[0] % (sizeof profiles / sizeof *profiles)], 1);
    unsetenv("QUILM_SIM_STATE");
    if (app::open_processor() != nullptr) __builtin_trap();
    std::snprintf(app::startup.settings_path, app::settings_path_size, "/dev/shm/quilm-fuzz-%d.cfg",
                  static_cast<int>(getpid()));
    if (FILE* f = std::fopen(app::startup.settings_path, "wb")) {
        std::fwrite(data + 1, 1, size - 1, f);
        std::fclose(f);
    }

    const uint32_t processors = platform::sim_processor_count(), count = app::pstate.pstate_count;
    uint64_t before[8] = {};
    for (uint32_t i = 0; i < count; ++i) platform::sim_register(0, 0xC0010064 + i, &before[i]);
    const app::SettingsStatus status = app::load_image(app::startup.settings_path);
    app::ApplyPlan plan;
    if ((status == app::SettingsStatus::ok || status == app::SettingsStatus::converted) &&
        app::plan_apply(plan) == app::ApplyResult::ok)
        app::carry_out(plan);

    const app::Layout& layout = app::current_layout();
    const app::Column columns[3] = {layout.multi, layout.vcore, layout.nb};
    for (uint32_t p = 0; p < processors; ++p) {
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t now = 0;
            platform::sim_register(p, 0xC0010064 + i, &now);
            if (now == before[i]) continue;
            if ((now ^ before[i]) & ~app::column_bits(layout)) __builtin_trap();
            const app::PstateRow was = app::decode_row(layout, before[i]), raw = app::decode_row(layout, now),
                                 shown = app::shown_row(layout, now);
            const uint8_t bytes[3][3] = {{was.multi, raw.multi, shown.multi},
                                         {was.vcore, raw.vcore, shown.vcore},
                                         {was.nb, raw.nb, shown.nb}};
            for (int c = 0; c < 3; ++c)
                if (bytes[c][0] != bytes[c][1] && !shown_value(columns[c], bytes[c][1], bytes[c][2]))
                    __builtin_trap();
        }
    }
    std::remove(app::startup.settings_path);
    return 0;
}
