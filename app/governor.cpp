// The load governor thread and the AUTO/MANUAL switch.
#include "app/governor.h"

#include "app/actions.h"
#include "app/pstate.h"
#include "app/stability.h"
#include "app/startup.h"
#include "platform/os.h"
#include "platform/window.h"
#include "toolkit/messages.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

GovernorState governor_state;

void reset_governor() {
    governor_state = GovernorState{};
}

GovernorDecision governor_step(TimeSample previous, TimeSample now, uint32_t avg_load,
                               const GovernorView& view) {
    GovernorDecision d{0, avg_load, -1};
    const uint32_t period = static_cast<uint32_t>(now.total - previous.total);
    const uint32_t idle = static_cast<uint32_t>(now.idle - previous.idle);
    if ((period >> 7) == 0) return d;

    d.sample_load = (period - idle) / (period >> 7);
    d.avg_load = (avg_load + d.sample_load) >> 1;
    auto enabled = [&](int32_t row) { return row >= 0 && row < 8 && (view.enabled >> row & 1) != 0; };

    if (d.sample_load * view.processor_count >= 104) {
        const int32_t t = view.current_index - 1;
        if (t >= view.pstate_offset && enabled(t)) d.target = t;
    } else if (d.avg_load * view.processor_count <= 72) {
        const int32_t t = view.current_index + 1;
        if (t < view.pstate_count && enabled(t)) {
            d.target = t;
            d.avg_load = view.processor_count != 0 ? 78 / view.processor_count : 78;
        }
    }
    return d;
}

static GovernorView current_view() {
    GovernorView view{};
    view.current_index = load_shared(pstate.current_index);
    view.pstate_offset = load_shared(pstate.pstate_offset);
    view.pstate_count = load_shared(pstate.pstate_count);
    for (int i = 0; i < pstate_rows; ++i)
        view.enabled |= static_cast<uint8_t>((load_shared(pstate.table.rows[i].state) & 1) << i);
    view.processor_count = startup.processor_count;
    return view;
}

// One sample of the system times.
static TimeSample sample_times() {
    uint64_t idle = 0, kernel = 0, user = 0;
    const SystemTimes times =
        governor_state.system_times ? governor_state.system_times : platform::os_system_times;
    times(&idle, &kernel, &user);
    return {kernel + user, idle};
}

// Shows the governor's refused write; runs on the main thread, which the governor wakes.
static void show_refusal() {
    tk::show_message(governor_state.refusal, "warning");
}

static void governor() {
    int32_t last_shown = -1;
    char title[] = "QUILM (0 auto)";
    platform::os_raise_thread_priority();
    governor_state.avg_load = 0;
    bool refusal_told = false;
    // The first decision weighs one period, not everything since boot or since the last run.
    const TimeSample primed = sample_times();
    governor_state.prev_total = primed.total;
    governor_state.prev_idle = primed.idle;

    while (load_shared(pstate.auto_mode) != 0) {
        const TimeSample now = sample_times();
        const GovernorView view = current_view();
        const GovernorDecision d = governor_step({governor_state.prev_total, governor_state.prev_idle}, now,
                                                 governor_state.avg_load, view);
        governor_state.prev_total = now.total;
        governor_state.prev_idle = now.idle;
        governor_state.sample_load = d.sample_load;
        governor_state.avg_load = d.avg_load;

        if (d.target >= 0) {
            const WriteResult written =
                write_all_cores(MSR_PSTATE_CONTROL, static_cast<uint32_t>(d.target - view.pstate_offset), 0);
            if (written.ok) {
                store_shared(pstate.current_index, static_cast<uint8_t>(d.target));
            } else if (!refusal_told) {
                // Told once per run; the main thread shows the box, this thread goes on sampling.
                refusal_told = true;
                refusal_text(written, governor_state.refusal, sizeof governor_state.refusal);
                platform::window_post_message(tk::WM_USER, 0, 0);
            }
        }
        const int32_t current = load_shared(pstate.current_index);
        if (current != last_shown) {
            title[7] = static_cast<char>('0' + current);
            tk::set_title(title);
            last_shown = current;
        }
        platform::os_sleep_ms(150);
    }
    store_shared(governor_state.governor_running, 0);
}

// Waits until the governor thread has passed its last check of auto_mode and ended.
static void wait_for_governor() {
    while (load_shared(governor_state.governor_running) != 0) platform::os_sleep_ms(1);
}

void toggle_auto(int32_t) {
    const uint8_t mode = load_shared(pstate.auto_mode) ^ 1;
    if (mode & 1) {
        if (!all_processors_reachable()) {
            tk::show_message(unreachable_text, "warning");
        } else if (test_running()) {
            // The governor would move the P-state that the test holds.
            tk::show_message("a stability test is running: automatic mode stays off", "warning");
        } else {
            // A governor that a load has just stopped may still be finishing its period.
            wait_for_governor();
            // The table is read before the governor starts, never while it may be switching processors.
            read_pstates();
            decode_pstates();
            tk::window.hooks.user_message = show_refusal;
            tk::window.user_message_hook_enabled = 1;
            store_shared(pstate.auto_mode, mode);
            store_shared(governor_state.governor_running, 1);
            if (!platform::os_start_thread(governor)) {
                tk::show_message("couldn't create thread", "error!?");
                store_shared(pstate.auto_mode, 0);
                store_shared(governor_state.governor_running, 0);
                tk::set_title("QUILM (manual)");
            }
        }
    } else {
        store_shared(pstate.auto_mode, mode);
        wait_for_governor();
        tk::set_title("QUILM (manual)");
        read_pstates();
        decode_pstates();
    }
    tk::sync_sliders();
    tk::redraw_all();
}

void stop_governor() {
    if (load_shared(pstate.auto_mode) == 0 && load_shared(governor_state.governor_running) == 0) return;
    store_shared(pstate.auto_mode, 0);
    wait_for_governor();
    tk::set_title("QUILM (manual)");
}

} // namespace app
