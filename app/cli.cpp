// Command-line words without a window. They open hardware access the way the
// window does and print to stdout; failures go to stderr as "quilm: ..." with
// the window's own texts, and the exit code tells scripts what happened.
#include "app/cli.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/actions.h"
#include "app/guard.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/settings.h"
#include "app/stability.h"
#include "app/startup.h"
#include "app/watch.h"
#include "platform/hw.h"
#include "platform/system.h"

namespace app {

namespace {

constexpr const char* usage_text =
    "usage: quilm [load]                      the window (load: apply the settings file first)\n"
    "       quilm list [--json]               print the P-state table\n"
    "       quilm apply [FILE] [--dry-run] [-v] [--unattended]\n"
    "                                         apply the settings file without a window\n"
    "                                         (--unattended: at boot and resume, with the crash guard)\n"
    "       quilm save [FILE]                 save the processor's table to the settings file\n"
    "       quilm check                       tell what stands between this machine and writing\n"
    "       quilm watch [--json] [--interval SECONDS] [--count N] [--textfile PATH]\n"
    "                                         live clock, P-state, temperature and power\n"
    "       quilm confirm [--after SECONDS]   count the last unattended apply as good (default 120)\n"
    "       quilm rearm                       lift the crash guard's quarantine; applies nothing\n"
    "       quilm test [--seconds S] [--processors LIST] [--pstate N] [--json]\n"
    "                                         test each processor under a verifying load\n"
    "                                         (exit 1: a processor failed, 130: interrupted)\n"
    "       quilm --help | --version\n"
    "exit codes: 0 success, 1 not applied, 2 usage, 3 hardware access or file unusable,\n"
    "            4 left alone by the crash guard\n";

bool is(const char* word, const char* name) {
    return std::strcmp(word, name) == 0;
}

int usage_error(const char* what, const char* word) {
    std::fprintf(stderr, "quilm: %s: %s\n%s", what, word, usage_text);
    return exit_usage;
}

// A quantity as a JSON number with `decimals` places and no trailing zeros, or null.
void json_number(const Quantity& q, int decimals) {
    char text[32];
    std::fputs(q.state == Quantity::value ? fixed_point(text, sizeof text, q.amount, decimals, true) : "null",
               stdout);
}

// A quantity in a fixed-width column with all its decimals, "off" or "-".
void text_number(const Quantity& q, int decimals, int width, const char* unit) {
    char number[32], text[sizeof number + 16];
    if (q.state == Quantity::value)
        std::snprintf(text, sizeof text, "%s %s",
                      fixed_point(number, sizeof number, q.amount, decimals, false), unit);
    std::printf("  %*s", width, q.state == Quantity::off ? "off" : q.state == Quantity::unknown ? "-" : text);
}

// The processors whose definition of row i is not processor 0's, between before and after.
void print_differing(uint32_t row, const char* before, const char* separator, const char* after) {
    std::fputs(before, stdout);
    const char* next = "";
    for (uint32_t p = 1; p < max_processors; ++p) {
        if (!(pstate.differs[p] >> row & 1)) continue;
        std::printf("%s%u", next, p);
        next = separator;
    }
    std::fputs(after, stdout);
}

} // namespace

const char* fixed_point(char* text, size_t size, int64_t amount, int decimals, bool trim) {
    int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    const bool negative = amount < 0;
    const int64_t magnitude = negative ? -amount : amount;
    int64_t whole = magnitude / unit, part = magnitude % unit;
    int places = decimals;
    while (trim && places > 0 && part % 10 == 0) part /= 10, --places;
    if (places == 0)
        std::snprintf(text, size, "%s%lld", negative ? "-" : "", static_cast<long long>(whole));
    else
        std::snprintf(text, size, "%s%lld.%0*lld", negative ? "-" : "", static_cast<long long>(whole), places,
                      static_cast<long long>(part));
    return text;
}

void print_table(bool json) {
    const Layout& layout = current_layout();
    const uint32_t count = load_shared(pstate.pstate_count);
    const uint32_t current = load_shared(pstate.current_index);
    const uint32_t boosted = load_shared(pstate.pstate_offset);
    if (json) {
        std::printf(
            "{\"family\": %u, \"model\": %u, \"stepping\": %u, \"processors\": %u, \"layout\": \"%s\", "
            "\"certain\": %s, \"writable\": %s, \"current\": %u, \"boosted\": %u, %s\"pstates\": [",
            startup.ex_family, startup.ex_model, startup.stepping, startup.processor_count, layout.name,
            layout_state.certain ? "true" : "false", layout_writable() ? "true" : "false", current, boosted,
            !layout.pci_pvi         ? ""
            : layout_state.pvi < 0  ? "\"pvi\": null, "
            : layout_state.pvi == 1 ? "\"pvi\": true, "
                                    : "\"pvi\": false, ");
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t reg = join(pstate.table.reg_low[i], pstate.table.reg_high[i]);
            std::printf("%s{\"index\": %u, \"register\": \"%08X\", \"raw\": \"%016llX\", \"enabled\": %s, "
                        "\"mhz\": ",
                        i ? ", " : "", i, MSR_PSTATE_DEF0 + i, static_cast<unsigned long long>(reg),
                        reg >> 63 ? "true" : "false");
            json_number(frequency_of(layout, reg), 2);
            std::fputs(", \"volts\": ", stdout);
            json_number(voltage_of(layout, reg), 5);
            std::fputs(", \"amps\": ", stdout);
            json_number(current_of(layout, reg), 2);
            if (layout.nb_vid.width != 0) {
                std::fputs(", \"nb_volts\": ", stdout);
                json_number(nb_voltage_of(layout, reg), 5);
            }
            if (layout.nb_pstate.width != 0) std::printf(", \"nb_pstate\": %u", layout.nb_pstate.get(reg));
            if (const uint32_t quarters = divisor_quarters(layout, reg))
                std::printf(", \"divisor\": %u.%02u", quarters / 4, quarters % 4 * 25);
            if (pstate.differing_rows >> i & 1) print_differing(i, ", \"differs\": [", ", ", "]");
            std::fputs("}", stdout);
        }
        std::fputs("]}\n", stdout);
        return;
    }

    std::printf("family %Xh model %Xh stepping %u, %u processors, %u boosted P-states\n", startup.ex_family,
                startup.ex_model, startup.stepping, startup.processor_count, boosted);
    std::printf("layout %s%s, %s\n", layout.name,
                layout.pci_pvi && layout_state.pvi < 0 ? " (PviMode unreadable)" : "",
                !layout_state.certain ? "uncertain: shown only, never written"
                : layout_writable()   ? "certain: apply writes it"
                                      : "certain, but quilm does not write it");
    std::printf("    register  value             state          MHz         Vcore       amps");
    if (layout.nb_vid.width != 0) std::fputs("       NB volts", stdout);
    if (layout.nb_pstate.width != 0) std::fputs("  NB P-state", stdout);
    if (layout.freq == FreqKind::fam14h) std::fputs("  divisor", stdout);
    std::fputs("\n", stdout);
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t reg = join(pstate.table.reg_low[i], pstate.table.reg_high[i]);
        std::printf("P%u  %08X  %016llX  %-3s %-7s", i, MSR_PSTATE_DEF0 + i,
                    static_cast<unsigned long long>(reg), reg >> 63 ? "on" : "off",
                    i == current ? "current" : "");
        text_number(frequency_of(layout, reg), 2, 11, "MHz");
        text_number(voltage_of(layout, reg), 5, 11, "V");
        text_number(current_of(layout, reg), 2, 9, "A");
        if (layout.nb_vid.width != 0) text_number(nb_voltage_of(layout, reg), 5, 13, "V");
        if (layout.nb_pstate.width != 0) std::printf("  %10s", layout.nb_pstate.get(reg) ? "low" : "high");
        if (const uint32_t quarters = divisor_quarters(layout, reg))
            std::printf("  %7u.%02u", quarters / 4, quarters % 4 * 25);
        if (pstate.differing_rows >> i & 1) print_differing(i, "  differs on processors ", " ", "");
        std::fputs("\n", stdout);
    }
}

namespace {

// The command line of one word: its file argument and its flags.
struct Words {
    char file_name[arg_buffer_size];
    const char* file = nullptr;
    bool json = false, dry_run = false, verbose = false, unattended = false;
};

// Reads the next word of the command line into buffer; false (after the usage error on stderr,
// its code in `usage`) for a word too long to take whole.
bool read_word(char* buffer, int32_t& length, int& usage) {
    length = next_token(buffer);
    if (length < int32_t(arg_buffer_size)) return true;
    usage = usage_error("word too long", buffer);
    return false;
}

// Reads the options a word takes up to the end of the command line; the usage error's exit code,
// or -1 when they are fine.
int read_words(bool takes_file, const char* const* flags, Words& words) {
    char w[arg_buffer_size];
    int usage = -1;
    for (int32_t length = 0; read_word(w, length, usage);) {
        if (length == no_more_words) return -1;
        bool known = false;
        for (const char* const* f = flags; *f != nullptr; ++f) known = known || is(w, *f);
        if (known) {
            words.json = words.json || is(w, "--json");
            words.dry_run = words.dry_run || is(w, "--dry-run");
            words.verbose = words.verbose || is(w, "-v");
            words.unattended = words.unattended || is(w, "--unattended");
        } else if (takes_file && words.file == nullptr && w[0] != '-' && length > 0) {
            std::memcpy(words.file_name, w, size_t(length) + 1);
            words.file = words.file_name;
        } else {
            return usage_error("unknown option", w);
        }
    }
    return usage;
}

// `quilm confirm [--after SECONDS]`: the awake time read whole (0..999999999), then the word.
int confirm_options() {
    char w[arg_buffer_size];
    int32_t length = 0;
    int usage = -1;
    uint64_t after = confirm_default_seconds;
    if (!read_word(w, length, usage)) return usage;
    if (length != no_more_words) {
        if (!is(w, "--after")) return usage_error("unknown option", w);
        if (!read_word(w, length, usage)) return usage;
        if (length <= 0 || length > 9 || std::strspn(w, "0123456789") != size_t(length))
            return usage_error("--after takes whole seconds (0..999999999)", length > 0 ? w : "");
        after = std::strtoull(w, nullptr, 10);
        if (!read_word(w, length, usage)) return usage;
        if (length != no_more_words) return usage_error("unknown option", w);
    }
    return confirm_word(after);
}

// Opens the processor for a word; false (after the failure on stderr) when it cannot be used.
bool open_for_word() {
    const char* failure = open_processor();
    if (failure == nullptr) return true;
    std::fprintf(stderr, "quilm: %s\n", failure);
    if (failure == no_pstates_text) DeinitializeOls();
    return false;
}

int finish(int code) {
    DeinitializeOls();
    return code;
}

int list_word(const Words& words) {
    if (!open_for_word()) return exit_environment;
    if (pstate.differing_rows != 0) std::fprintf(stderr, "quilm: %s\n", differs_text);
    print_table(words.json);
    return finish(exit_ok);
}

int apply_word(const Words& words) {
    const char* path = words.file ? words.file : startup.settings_path;
    if (words.unattended && words.dry_run) {
        std::fputs("quilm: --dry-run and --unattended do not go together\n", stderr);
        return exit_usage;
    }
    if (words.unattended) {
        if (const int guarded = guard_before_apply(path); guarded >= 0) return guarded;
    } else if (const char* warning = guard_warning(path)) {
        std::fprintf(stderr, "quilm: warning: %s\n", warning);
    }
    if (!open_for_word()) return exit_environment;
    const SettingsStatus status = load_image(path);
    switch (status) {
    case SettingsStatus::ok: break;
    case SettingsStatus::converted:
        std::fprintf(stderr, "quilm: %s: saved by an earlier release; its core voltages converted exactly\n",
                     path);
        break;
    case SettingsStatus::unreadable:
    case SettingsStatus::short_file:
    case SettingsStatus::no_processor:
        std::fprintf(stderr, "quilm: %s: %s\n", path, settings_text(status));
        return finish(exit_environment);
    case SettingsStatus::other_layout:
    case SettingsStatus::out_of_range:
        std::fprintf(stderr, "quilm: %s: %s: nothing written\n", path, settings_text(status));
        return finish(exit_failed);
    }
    if (settings.auto_start != 0)
        std::fputs("quilm: the settings file has automatic mode on; apply does not start the governor\n",
                   stderr);

    ApplyPlan plan{};
    ApplyResult result = plan_apply(plan);
    if (result == ApplyResult::ok && (words.verbose || words.dry_run)) {
        for (uint32_t i = 0; i < plan.count; ++i) {
            if (!plan.write[i]) continue;
            // Processor 0 already holding the row that another processor does not: written there.
            const bool elsewhere = plan.before[i] == plan.after[i] && (pstate.differing_rows >> i & 1);
            std::printf("P%u %08X: %016llX -> %016llX%s\n", i, MSR_PSTATE_DEF0 + i,
                        static_cast<unsigned long long>(plan.before[i]),
                        static_cast<unsigned long long>(plan.after[i]),
                        elsewhere ? " on the processors that differ" : "");
        }
    }
    if (result == ApplyResult::ok && words.unattended && !guard_write_pending())
        return finish(exit_environment);
    if (result == ApplyResult::ok && !words.dry_run) result = carry_out(plan);
    if (result != ApplyResult::ok) {
        std::fprintf(stderr, "quilm: %s\n", apply_text(result, plan));
        return finish(exit_failed);
    }
    return finish(exit_ok);
}

int save_word(const Words& words) {
    const char* path = words.file ? words.file : startup.settings_path;
    if (!open_for_word()) return exit_environment;
    if (!save_image(path)) {
        std::fprintf(stderr, "quilm: %s: cannot write the settings file\n", path);
        return finish(exit_environment);
    }
    return finish(exit_ok);
}

// One line of `quilm check`; returns whether the line allows writing.
bool check_line(bool good, const char* what, const char* detail) {
    std::printf("%-4s%-20s%s\n", good ? "ok" : "no", what, detail);
    return good;
}

int check_word() {
    bool good = true;
    const bool opened = InitializeOls() != 0 && GetDllStatus() == 0;
    if (hw_simulated_processor_count() != 0) {
        check_line(true, "hardware", "the simulated processor (QUILM_SIM): no privileges needed");
    } else {
        platform::SystemFacts facts;
        platform::system_facts("", &facts);
        good &= check_line(facts.privileged, "privileges",
                           facts.privileged ? "root or CAP_SYS_RAWIO"
                                            : "neither root nor CAP_SYS_RAWIO: run as root");
        good &= check_line(facts.msr_device, "msr driver",
                           facts.msr_device ? "loaded" : "not loaded: run modprobe msr");
        const bool off = is(facts.allow_writes, "off");
        good &= check_line(!off, "msr.allow_writes",
                           off                            ? "off: the kernel refuses every register write"
                           : is(facts.allow_writes, "on") ? "on"
                           : is(facts.allow_writes, "default")
                               ? "default: writes work, the kernel logs a warning for each register"
                               : "not restricted by this kernel");
        const bool locked = facts.lockdown[0] != 0 && !is(facts.lockdown, "none");
        good &= check_line(!locked, "kernel lockdown",
                           locked ? "on: the kernel refuses register writes (Secure Boot?)" : "none");
        good &= check_line(opened, "register access", opened ? "open" : "cannot be opened");
    }
    identify_processor_and_layout(opened);
    char detail[128];
    std::snprintf(detail, sizeof detail, "family %Xh model %Xh: %s, %s", startup.ex_family, startup.ex_model,
                  current_layout().name,
                  layout_writable()       ? "quilm writes it"
                  : !layout_state.certain ? "uncertain: shown only, never written"
                                          : "shown only, never written");
    good &= check_line(layout_writable(), "p-state layout", detail);
    char guard_detail[guard_text_size];
    good &= check_line(guard_check(startup.settings_path, guard_detail, sizeof guard_detail), "crash guard",
                       guard_detail);
    char stress[4096];
    const bool stress_found = find_stress(stress, sizeof stress);
    std::snprintf(detail, sizeof detail, "%.80s%s", stress_found ? stress : "not installed",
                  stress_found ? " (quilm test)" : ": quilm test needs it (apt install stress-ng)");
    check_line(stress_found, "stress-ng", detail); // needed for testing only, not for writing
    if (opened) DeinitializeOls();
    return good ? exit_ok : exit_environment;
}

} // namespace

int run_command() {
    char word[arg_buffer_size];
    int32_t length = 0;
    int usage = -1;
    startup.arg_buffer[0] = 0;
    if (!read_word(word, length, usage)) return usage;
    if (length == no_more_words) return -1;
    if (is(word, "load")) {
        // The window loads and applies the settings file: only the word itself asks for that.
        char extra[arg_buffer_size];
        if (!read_word(extra, length, usage)) return usage;
        if (length != no_more_words) return usage_error("load takes no other word", extra);
        std::memcpy(startup.arg_buffer, "load", sizeof "load");
        return -1;
    }
    if (is(word, "--help") || is(word, "-h") || is(word, "help")) {
        std::fputs(usage_text, stdout);
        return exit_ok;
    }
    if (is(word, "--version")) {
        std::printf("quilm %s\n", QUILM_VERSION);
        return exit_ok;
    }
    static constexpr const char* list_flags[] = {"--json", nullptr};
    static constexpr const char* apply_flags[] = {"--dry-run", "-v", "--unattended", nullptr};
    static constexpr const char* no_flags[] = {nullptr};
    Words words;
    if (is(word, "list")) {
        if ((usage = read_words(false, list_flags, words)) >= 0) return usage;
        return list_word(words);
    }
    if (is(word, "apply") || is(word, "save")) {
        if ((usage = read_words(true, is(word, "apply") ? apply_flags : no_flags, words)) >= 0) return usage;
        build_settings_path(installed_settings_file, installed_bindir);
        return is(word, "apply") ? apply_word(words) : save_word(words);
    }
    if (is(word, "check")) {
        if ((usage = read_words(false, no_flags, words)) >= 0) return usage;
        build_settings_path(installed_settings_file, installed_bindir);
        return check_word();
    }
    if (is(word, "confirm")) return confirm_options();
    if (is(word, "rearm")) {
        if ((usage = read_words(false, no_flags, words)) >= 0) return usage;
        return rearm_word();
    }
    if (is(word, "test")) return test_word();
    if (is(word, "watch")) return watch_word();
    return usage_error("unknown word", word);
}

} // namespace app
