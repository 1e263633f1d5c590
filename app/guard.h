// The crash guard of unattended applies. The unit applies the saved settings at boot and after
// every resume; settings that crash the machine would be applied again at the next boot. So an
// unattended apply first writes down what it is about to apply (`pending`), a timer confirms it
// once the machine has stayed awake long enough, and an apply that finds the record of another
// boot still unconfirmed moves it to `quarantine` and applies nothing until the settings change
// or a person runs `quilm rearm`.
#pragma once
#include <cstddef>
#include <cstdint>

namespace app {

inline constexpr uint32_t confirm_default_seconds = 120; // awake time after which an apply counts as good
inline constexpr uint32_t boot_id_size = 40;             // a boot identity: 36 characters and the zero
inline constexpr uint32_t guard_path_size = 4096;
inline constexpr uint32_t guard_text_size = 512;

// One state file: `pending` (an apply not confirmed yet) or `quarantine` (one that did not survive).
struct GuardRecord {
    char boot[boot_id_size]; // the boot identity of the apply
    uint64_t awake_ms;       // awake time since boot at the apply (pending only)
    int64_t time;            // seconds since 1970 UTC at the apply
    uint64_t settings;       // hash of the settings file applied
    bool resume;             // applied after a resume, not at boot
    bool unreadable;         // quarantine only: the pending record it comes from could not be read
};

struct GuardState {
    char directory[guard_path_size]; // where pending and quarantine live
    char root[guard_path_size];      // stands for "/" when the kernel's files are read; empty: "/" itself
    char boot[boot_id_size];         // this boot's identity, empty until read
    uint64_t settings;               // hash of the settings file about to be applied
    bool settings_known;             // the settings file could be read for its hash
    char text[guard_text_size];      // the last message made for a person
};
extern GuardState guard;

// Back to the start state.
void reset_guard();

// The checks of `quilm apply --unattended` before anything is written: -1 when the apply may go
// on, else its exit code after one line on stderr saying why nothing was applied.
int guard_before_apply(const char* settings_path);

// Writes `pending` for the apply that guard_before_apply let go on; false (after a line on
// stderr) when it cannot be written, and then no register may be written.
bool guard_write_pending();

// What a person applying by hand, or starting the window, is told when the settings file is
// quarantined, as one line or (for a message box) as short lines; nullptr when it is not.
const char* guard_warning(const char* settings_path, bool lines = false);

// The crash guard's line of `quilm check`: its detail text, and whether it lets the unit write.
bool guard_check(const char* settings_path, char* detail, size_t size);

// `quilm confirm [--after SECONDS]`: removes `pending` once this boot has been awake long enough.
int confirm_word(int argc, char** argv);

// `quilm rearm`: removes `quarantine` and `pending` and applies nothing.
int rearm_word(int argc);

} // namespace app
