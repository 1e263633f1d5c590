// Command-line words without a window. They open hardware access the way the
// window does and print to stdout; failures go to stderr as "quilm: ..." with
// the window's own texts, and the exit code tells scripts what happened.
#include "app/cli.h"

#include <cstdio>
#include <cstring>

#include "app/layouts.h"
#include "app/pstate.h"
#include "app/startup.h"
#include "platform/hw.h"

namespace app {

namespace {

constexpr const char* usage_text =
    "usage: quilm [load]                      the window (load: apply the settings file first)\n"
    "       quilm list [--json]               print the P-state table\n"
    "       quilm --help | --version\n";

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
            "\"certain\": %s, \"writable\": %s, \"current\": %u, \"boosted\": %u, \"pstates\": [",
            startup.ex_family, startup.ex_model, startup.stepping, startup.processor_count, layout.name,
            layout_state.certain ? "true" : "false", layout_writable() ? "true" : "false", current, boosted);
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
    std::printf("layout %s, %s\n", layout.name,
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
    if (!is(word, "list")) return usage_error("unknown word", word);
    bool json = false;
    for (int i = 2; i < argc; ++i) {
        if (!is(argv[i], "--json")) return usage_error("unknown option", argv[i]);
        json = true;
    }
    if (const char* failure = open_processor()) {
        std::fprintf(stderr, "quilm: %s\n", failure);
        return exit_environment;
    }
    print_table(json);
    DeinitializeOls();
    return exit_ok;
}

} // namespace app
