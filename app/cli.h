// The command-line words that work without a window: `quilm list` and the
// help and version texts.
#pragma once
#include <cstddef>
#include <cstdint>

namespace app {

// Exit codes of every word.
inline constexpr int exit_ok = 0;
inline constexpr int exit_failed = 1;      // the apply or its verification failed
inline constexpr int exit_usage = 2;       // unknown word or option
inline constexpr int exit_environment = 3; // hardware access or a file cannot be used
inline constexpr int exit_guarded = 4;     // left alone by the crash guard of unattended applies

// Reads the command line from cmdline_cursor on and runs its word when it is one that needs no
// window; returns its exit code, or -1 when the window is wanted: no word, or "load" alone (then
// arg_buffer holds "load").
int run_command();

// A fixed-point amount (amount / 10^decimals) as text in `text`, trailing zeros dropped when trim
// is set; returns text.
const char* fixed_point(char* text, size_t size, int64_t amount, int decimals, bool trim);

// Prints the P-state table: an aligned table, or one JSON object.
void print_table(bool json);

} // namespace app
