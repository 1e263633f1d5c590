// Command-line words without a window. They open hardware access the way the
// window does and print to stdout; failures go to stderr as "quilm: ..." with
// the window's own texts, and the exit code tells scripts what happened.
#include "app/cli.h"

#include <cstdio>
#include <cstring>

#include "app/actions.h"
#include "app/guard.h"
#include "app/layouts.h"
#include "app/pstate.h"
#include "app/settings.h"
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
    if (q.state != Quantity::value) {
        std::fputs("null", stdout);
        return;
    }
    int64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    int64_t whole = q.amount / unit, part = q.amount % unit;
    int places = decimals;
    while (places > 0 && part % 10 == 0) {
        part /= 10;
        --places;
    }
    if (places == 0)
        std::printf("%lld", static_cast<long long>(whole));
    else
        std::printf("%lld.%0*lld", static_cast<long long>(whole), places, static_cast<long long>(part));
}

// A quantity in a fixed-width column with all its decimals, "off" or "-".
void text_number(const Quantity& q, int decimals, int width, const char* unit) {
    char text[32];
    if (q.state == Quantity::off) {
        std::snprintf(text, sizeof text, "off");
    } else if (q.state == Quantity::unknown) {
        std::snprintf(text, sizeof text, "-");
    } else {
        int64_t scale = 1;
        for (int i = 0; i < decimals; ++i) scale *= 10;
        std::snprintf(text, sizeof text, "%lld.%0*lld %s", static_cast<long long>(q.amount / scale), decimals,
                      static_cast<long long>(q.amount % scale), unit);
    }
    std::printf("  %*s", width, text);
}

} // namespace

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
        std::fputs("\n", stdout);
    }
}

namespace {

// The command line of one word: its file argument and its flags.
struct Words {
    const char* file = nullptr;
    bool json = false, dry_run = false, verbose = false, unattended = false;
};

// Reads the options a word takes; the usage error's exit code, or -1 when they are fine.
int read_words(int argc, char** argv, bool takes_file, const char* const* flags, Words& words) {
    for (int i = 2; i < argc; ++i) {
        const char* w = argv[i];
        bool known = false;
        for (const char* const* f = flags; *f != nullptr; ++f) known = known || is(w, *f);
        if (known) {
            words.json = words.json || is(w, "--json");
            words.dry_run = words.dry_run || is(w, "--dry-run");
            words.verbose = words.verbose || is(w, "-v");
            words.unattended = words.unattended || is(w, "--unattended");
        } else if (takes_file && words.file == nullptr && w[0] != '-') {
            words.file = w;
        } else {
            return usage_error("unknown option", w);
        }
    }
    return -1;
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

    ApplyPlan plan;
    ApplyResult result = plan_apply(plan);
    if (result == ApplyResult::ok && (words.verbose || words.dry_run)) {
        for (uint32_t i = 0; i < plan.count; ++i) {
            if (!plan.write[i]) continue;
            std::printf("P%u %08X: %016llX -> %016llX\n", i, MSR_PSTATE_DEF0 + i,
                        static_cast<unsigned long long>(plan.before[i]),
                        static_cast<unsigned long long>(plan.after[i]));
        }
    }
    if (result == ApplyResult::ok && words.unattended && !guard_write_pending())
        return finish(exit_environment);
    if (result == ApplyResult::ok && !words.dry_run) result = carry_out(plan);
    if (result != ApplyResult::ok) {
        std::fprintf(stderr, "quilm: %s\n", apply_text(result));
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
    if (opened) DeinitializeOls();
    return good ? exit_ok : exit_environment;
}

} // namespace

int run_command(int argc, char** argv) {
    if (argc < 2 || argv[1] == nullptr) return -1;
    const char* word = argv[1];
    if (std::strncmp(word, "load", 4) == 0) return -1;
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
    int usage = 0;
    if (is(word, "list")) {
        if ((usage = read_words(argc, argv, false, list_flags, words)) >= 0) return usage;
        return list_word(words);
    }
    if (is(word, "apply") || is(word, "save")) {
        if ((usage = read_words(argc, argv, true, is(word, "apply") ? apply_flags : no_flags, words)) >= 0)
            return usage;
        build_settings_path(installed_settings_file, installed_bindir);
        return is(word, "apply") ? apply_word(words) : save_word(words);
    }
    if (is(word, "check")) {
        if ((usage = read_words(argc, argv, false, no_flags, words)) >= 0) return usage;
        build_settings_path(installed_settings_file, installed_bindir);
        return check_word();
    }
    if (is(word, "watch")) return watch_word(argc, argv);
    if (is(word, "confirm")) return confirm_word(argc, argv);
    if (is(word, "rearm")) return rearm_word(argc);
    return usage_error("unknown word", word);
}

} // namespace app
