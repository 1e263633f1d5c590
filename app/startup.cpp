// Start-up and the command line: everything the program prepares before it
// hands control to the message loop, and the shutdown after it.
#include "app/startup.h"

#include <cstring>

#include "app/actions.h"
#include "app/cli.h"
#include "app/governor.h"
#include "app/guard.h"
#include "app/layouts.h"
#include "app/main_window.h"
#include "app/pstate.h"
#include "app/settings.h"
#include "app/watch_page.h"
#include "platform/hw.h"
#include "platform/os.h"
#include "toolkit/input.h"
#include "toolkit/program.h"
#include "toolkit/window.h"

namespace app {

StartupState startup;

void reset_startup() {
    startup = StartupState{};
}

void end_process(uint32_t code) {
    if (startup.exit_process != nullptr) startup.exit_process(code);
    platform::os_exit_process(code);
}

const char* skip_program_name(const char* line) {
    // A quoted name (a path with blanks, as Windows hands it out) runs to its closing quote; an
    // unquoted one ends at the first blank, and a tab does not end it.
    const char* p = line;
    if (*p == '"') {
        ++p;
        while (*p != 0 && *p != '"') ++p;
        return *p == '"' ? p + 1 : p;
    }
    while (*p != 0 && *p != ' ') ++p;
    return p;
}

int32_t next_token(char* buffer) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(startup.cmdline_cursor);
    while (*p >= 1 && *p <= 32) ++p;
    if (*p == 0) {
        startup.cmdline_cursor = reinterpret_cast<const char*>(p);
        buffer[0] = 0;
        return no_more_words;
    }
    uint32_t n = 0;
    bool fits = true;
    const auto put = [&](char c) {
        if (n < arg_buffer_size - 1)
            buffer[n++] = c;
        else
            fits = false;
    };
    bool quoted = false;
    while (*p != 0 && (quoted || *p > 32)) {
        // Backslashes are themselves unless a quote follows: then each pair is one backslash, and
        // an odd one left over makes the quote a character of the word.
        uint32_t backslashes = 0;
        while (*p == '\\') ++backslashes, ++p;
        if (*p == '"') {
            for (uint32_t i = 0; i < backslashes / 2; ++i) put('\\');
            if (backslashes % 2 != 0)
                put('"');
            else
                quoted = !quoted;
            ++p;
            continue;
        }
        for (uint32_t i = 0; i < backslashes; ++i) put('\\');
        if (*p != 0 && (quoted || *p > 32)) put(static_cast<char>(*p++));
    }
    buffer[n] = 0;
    startup.cmdline_cursor = reinterpret_cast<const char*>(p);
    return fits ? int32_t(n) : int32_t(arg_buffer_size);
}

void build_settings_path(const char* fixed, const char* only_from) {
    static constexpr char file_name[] = "quilm.cfg";
    char* path = startup.settings_path;
    uint32_t n = platform::os_module_path(path, settings_path_size);
    // A path that did not fit was cut: never build a different file name from it.
    if (n >= settings_path_size) n = 0;
    const char separator = platform::os_path_separator();
    while (n > 0 && path[n - 1] != separator) --n;
    const bool installed = only_from == nullptr || (n > 0 && std::strlen(only_from) == n - 1 &&
                                                    std::memcmp(path, only_from, n - 1) == 0);
    if (fixed != nullptr && installed && std::strlen(fixed) < settings_path_size) {
        std::memcpy(path, fixed, std::strlen(fixed) + 1);
        return;
    }
    if (n + sizeof(file_name) > settings_path_size) n = 0;
    std::memcpy(path + n, file_name, sizeof(file_name));
}

void identify_processor(uint32_t eax) {
    startup.family = static_cast<uint8_t>((eax >> 8) & 0xF);
    startup.model = static_cast<uint8_t>((eax >> 4) & 0xF);
    startup.stepping = static_cast<uint8_t>(eax & 0xF);
    startup.ex_family = static_cast<uint8_t>(((eax >> 20) & 0xFF) + startup.family);
    startup.ex_model = static_cast<uint8_t>(((eax >> 16) & 0xF) * 16 + startup.model);
}

// Shows a start-up failure and ends the program.
[[noreturn]] static void fail(const char* text, bool release_hardware) {
    tk::show_message(text, "error!?");
    if (release_hardware) DeinitializeOls();
    end_process();
}

void identify_processor_and_layout(bool hardware_open) {
    Cpuid(1, &startup.cpuid[0], &startup.cpuid[1], &startup.cpuid[2], &startup.cpuid[3]);
    identify_processor(startup.cpuid[0]);
    const uint32_t simulated = hw_simulated_processor_count();
    startup.processor_count = simulated != 0 ? simulated : platform::os_processor_count();
    choose_layout(startup.ex_family, startup.ex_model);
    if (!hardware_open) return;
    read_board();
    read_pstates();
    refine_layout(pstate.table.reg_low, pstate.table.reg_high, load_shared(pstate.pstate_count));
}

const char* open_processor() {
    if (InitializeOls() == 0) return "couldn't init winring0";
    if (GetDllStatus() != 0) return "winring0 driver error";
    identify_processor_and_layout(true);
    if (load_shared(pstate.pstate_count) < 2) return no_pstates_text;
    decode_pstates();
    return nullptr;
}

void run_program() {
    tk::input.char_input = 0;
    startup.cmdline_cursor = skip_program_name(platform::os_command_line());
    const int command = run_command();
    if (command >= 0) end_process(uint32_t(command));

    platform::os_raise_priority();
    build_settings_path(installed_settings_file, installed_bindir);
    tk::window.before_present_hook_enabled = 0;
    tk::create_window(0, 400, 544, "QUILM (manual)");

    if (const char* failure = open_processor()) fail(failure, failure == no_pstates_text);
    install_main_window();
    add_main_window(load_shared(pstate.pstate_count), current_layout(), layout_state.certain);

    if (std::strcmp(startup.arg_buffer, "load") == 0) {
        if (load_settings(-1) == 0) {
            apply_settings(-1);
            if (settings.auto_start != 0) toggle_auto(-1);
        }
    }

    tk::sync_sliders();
    tk::redraw_all();
    tk::present();
    if (const char* warning = guard_warning(startup.settings_path, true)) tk::show_message(warning, "quilm");
    if (pstate.differing_rows != 0) tk::show_message(differs_text, "warning");
    tk::message_loop();

    stop_governor();
    reset_watch_page(); // the live page's ticker ends before the process does
    DeinitializeOls();
    end_process();
}

} // namespace app
