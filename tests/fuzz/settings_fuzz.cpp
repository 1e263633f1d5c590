// Fuzzes the settings loader: any bytes as the settings file, loaded and then
// applied. Never a crash, and never a register written with a field that the
// window could not have shown.
#include <cstdio>
#include <unistd.h>

#include "app/actions.h"
#include "app/layouts.h"
#include "app/settings.h"
#include "platform/sim.h"
#include "tests/fuzz/fuzz_app.h"

namespace {

bool in(uint32_t v, uint32_t lo, uint32_t hi) {
    return v >= lo && v <= hi;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::open_program();
    std::snprintf(app::startup.settings_path, app::settings_path_size, "/dev/shm/quilm-fuzz-%d.cfg",
                  static_cast<int>(getpid()));
    if (FILE* f = std::fopen(app::startup.settings_path, "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }

    uint64_t before[4][8] = {};
    for (uint32_t p = 0; p < 4; ++p)
        for (uint32_t i = 0; i < 8; ++i) platform::sim_register(p, 0xC0010064 + i, &before[p][i]);

    const uint32_t count = app::pstate.pstate_count;
    if (app::load_settings(-1) == 0) {
        // Rows with sliders hold bytes within the sliders' ranges after loading.
        for (uint32_t i = 0; i < count; ++i) {
            const app::PstateRow& r = app::pstate.table.rows[i];
            if (!in(r.multi, 8, 63) || !in(r.vcore, 69, 124) || !in(r.nb, 69, 124)) __builtin_trap();
        }
    }
    app::apply_settings(-1);

    // A register that changed holds only values a slider can show.
    for (uint32_t p = 0; p < 4; ++p) {
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t now = 0;
            platform::sim_register(p, 0xC0010064 + i, &now);
            if (now == before[p][i]) continue;
            const app::PstateRow r = app::decode_row(app::layouts[app::LAYOUT_FAMILY10H], now);
            if (!in(r.multi, 8, 63) || !in(r.vcore, 69, 124) || !in(r.nb, 69, 124)) __builtin_trap();
        }
    }
    fuzz::settle();
    std::remove(app::startup.settings_path);
    return 0;
}
