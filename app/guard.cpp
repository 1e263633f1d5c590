// The crash guard: the two state files, their checks before an unattended apply, and the words
// that confirm an apply and lift a quarantine.
#include "app/guard.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/cli.h"
#include "platform/state_files.h"

namespace app {

GuardState guard;

void reset_guard() {
    guard = GuardState{};
}

namespace {

constexpr const char* pending_tag = "quilm pending 1";
constexpr const char* quarantine_tag = "quilm quarantine 1";
constexpr const char* way_out = "run 'quilm rearm' to try them again, or save other settings";
constexpr uint32_t record_size = 1024;
// Longer than any kernel's command line, so that its last word is read too.
constexpr uint32_t cmdline_size = 16384;

// The directory of the state files and the folder that stands for "/". QUILM_STATE_DIR overrides
// systemd's StateDirectory; QUILM_SYSTEM_ROOT counts only on the simulated processor, so that real
// hardware is always judged by the real kernel files.
void find_directories() {
    const char* own = std::getenv("QUILM_STATE_DIR");
    const char* systemd = std::getenv("STATE_DIRECTORY");
    if (own != nullptr && own[0] != '\0') {
        std::snprintf(guard.directory, sizeof guard.directory, "%s", own);
    } else if (systemd != nullptr && systemd[0] != '\0') {
        // systemd lists one directory per StateDirectory= entry, separated by colons.
        std::snprintf(guard.directory, sizeof guard.directory, "%.*s", int(std::strcspn(systemd, ":")),
                      systemd);
    } else {
        std::snprintf(guard.directory, sizeof guard.directory, "/var/lib/quilm");
    }
    const char* sim = std::getenv("QUILM_SIM");
    const char* root = std::getenv("QUILM_SYSTEM_ROOT");
    const bool simulated = sim != nullptr && sim[0] != '\0';
    std::snprintf(guard.root, sizeof guard.root, "%s", simulated && root != nullptr ? root : "");
}

struct Path {
    char text[guard_path_size + 32];
};

Path state_path(const char* name) {
    Path p;
    std::snprintf(p.text, sizeof p.text, "%s/%s", guard.directory, name);
    return p;
}

Path system_path(const char* name) {
    Path p;
    std::snprintf(p.text, sizeof p.text, "%s%s", guard.root, name);
    return p;
}

// A file as text with a terminating zero.
template <uint32_t size> platform::StateRead read_text(const char* path, char (&text)[size]) {
    uint32_t length = 0;
    const platform::StateRead result = platform::state_read(path, text, size - 1, &length);
    text[length] = '\0';
    return result;
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Whether the whitespace-separated words of the text hold this one exactly.
bool has_word(const char* text, const char* word) {
    const size_t length = std::strlen(word);
    for (const char* p = text; *p != '\0';) {
        while (blank(*p)) ++p;
        const char* end = p;
        while (*end != '\0' && !blank(*end)) ++end;
        if (size_t(end - p) == length && std::strncmp(p, word, length) == 0) return true;
        p = end;
    }
    return false;
}

// A boot identity: hexadecimal digits and dashes, as the kernel writes it.
bool valid_boot(const char* text) {
    const size_t length = std::strlen(text);
    return length > 0 && length < boot_id_size && std::strspn(text, "0123456789abcdefABCDEF-") == length;
}

// Reads this boot's identity into guard.boot; false (after a line on stderr) when it cannot.
bool read_boot() {
    char text[record_size];
    const Path path = system_path("/proc/sys/kernel/random/boot_id");
    read_text(path.text, text);
    text[std::strcspn(text, "\r\n")] = '\0';
    if (!valid_boot(text)) {
        std::fprintf(stderr, "quilm: cannot read the boot identity %s\n", path.text);
        return false;
    }
    std::memcpy(guard.boot, text, std::strlen(text) + 1);
    return true;
}

// The settings file's identity: FNV-1a over its bytes.
bool hash_settings(const char* path, uint64_t* hash) {
    char bytes[record_size];
    uint32_t length = 0;
    if (platform::state_read(path, bytes, sizeof bytes, &length) != platform::StateRead::ok) return false;
    uint64_t h = 0xCBF29CE484222325u;
    for (uint32_t i = 0; i < length; ++i) h = (h ^ uint8_t(bytes[i])) * 0x100000001B3u;
    *hash = h;
    return true;
}

// The value of the line "key value" of a record; false when it is missing, empty or too long.
bool field(const char* text, const char* key, char* value, size_t size) {
    char needle[32];
    std::snprintf(needle, sizeof needle, "\n%s ", key);
    const char* at = std::strstr(text, needle);
    if (at == nullptr) return false;
    at += std::strlen(needle);
    const size_t length = std::strcspn(at, "\n");
    if (length == 0 || length >= size) return false;
    std::memcpy(value, at, length);
    value[length] = '\0';
    return true;
}

// A number field written by this program: digits only, in the given base.
bool number_field(const char* text, const char* key, int base, uint64_t* value) {
    char digits[24];
    if (!field(text, key, digits, sizeof digits)) return false;
    if (std::strspn(digits, base == 16 ? "0123456789abcdef" : "0123456789") != std::strlen(digits))
        return false;
    *value = std::strtoull(digits, nullptr, base);
    return true;
}

// Reads one state file; missing, or unreadable when it cannot be read or is not a whole record.
platform::StateRead read_record(const char* name, GuardRecord* record) {
    const bool pending = std::strcmp(name, "pending") == 0;
    const char* tag = pending ? pending_tag : quarantine_tag;
    char text[record_size];
    const Path path = state_path(name);
    const platform::StateRead result = read_text(path.text, text);
    if (result != platform::StateRead::ok) return result;
    *record = GuardRecord{};
    char after[16], reason[16];
    uint64_t time = 0;
    const size_t tag_length = std::strlen(tag);
    const bool whole = std::strncmp(text, tag, tag_length) == 0 && text[tag_length] == '\n' &&
                       field(text, "boot", record->boot, sizeof record->boot) && valid_boot(record->boot) &&
                       number_field(text, "time", 10, &time) &&
                       number_field(text, "settings", 16, &record->settings) &&
                       field(text, "after", after, sizeof after) &&
                       (std::strcmp(after, "boot") == 0 || std::strcmp(after, "resume") == 0);
    record->time = int64_t(time);
    record->resume = whole && std::strcmp(after, "resume") == 0;
    if (!whole) return platform::StateRead::unreadable;
    if (pending)
        return number_field(text, "awake_ms", 10, &record->awake_ms) ? result
                                                                     : platform::StateRead::unreadable;
    if (!field(text, "reason", reason, sizeof reason)) return platform::StateRead::unreadable;
    record->unreadable = std::strcmp(reason, "unreadable") == 0;
    return record->unreadable || std::strcmp(reason, "unconfirmed") == 0 ? result
                                                                         : platform::StateRead::unreadable;
}

// Writes one state file durably; false after a line on stderr.
bool write_record(const char* name, const GuardRecord& r, const char* reason) {
    const char* tag = reason == nullptr ? pending_tag : quarantine_tag;
    char text[record_size];
    int length =
        std::snprintf(text, sizeof text, "%s\nboot %s\ntime %" PRId64 "\nsettings %016" PRIx64 "\nafter %s\n",
                      tag, r.boot, r.time, r.settings, r.resume ? "resume" : "boot");
    if (reason != nullptr)
        length += std::snprintf(text + length, sizeof text - size_t(length), "reason %s\n", reason);
    else
        length +=
            std::snprintf(text + length, sizeof text - size_t(length), "awake_ms %" PRIu64 "\n", r.awake_ms);
    const Path path = state_path(name);
    if (platform::state_write(path.text, text, uint32_t(length)) == platform::FileResult::ok) return true;
    std::fprintf(stderr, "quilm: cannot write %s: nothing applied\n", path.text);
    return false;
}

// "the settings applied at boot 2026-12-07 09:12 did not survive 2 minutes", or for a record that
// could not be read, what is known of it.
void describe(const GuardRecord& r, char* text, size_t size) {
    char when[32];
    platform::state_local_time(r.time, when, sizeof when);
    if (r.unreadable)
        std::snprintf(text, size,
                      "the record of the unattended apply before %s could not be read after a restart", when);
    else
        std::snprintf(text, size, "the settings applied at %s %s did not survive %u minutes",
                      r.resume ? "resume" : "boot", when, confirm_default_seconds / 60);
}

// One line on stderr saying why nothing was applied; the exit code of a guarded skip.
int left_alone(const GuardRecord& r) {
    char why[256];
    describe(r, why, sizeof why);
    std::fprintf(stderr, "quilm: not applied: %s; %s\n", why, way_out);
    return exit_guarded;
}

// Reads the kernel command line; false after a line on stderr when it cannot be read.
bool no_apply_asked(bool* asked) {
    char text[cmdline_size];
    const Path path = system_path("/proc/cmdline");
    if (read_text(path.text, text) != platform::StateRead::ok) {
        std::fprintf(stderr, "quilm: cannot read the kernel command line %s: nothing applied\n", path.text);
        return false;
    }
    *asked = has_word(text, "quilm.noapply");
    return true;
}

// Whether a quarantine names the settings file; *record receives it.
bool quarantined(const char* settings_path, GuardRecord* record) {
    uint64_t hash = 0;
    return hash_settings(settings_path, &hash) &&
           read_record("quarantine", record) == platform::StateRead::ok && record->settings == hash;
}

// Whether the guard works on this system (after a line on stderr when not); finds its directories.
bool guard_available() {
    if (!platform::state_supported()) {
        std::fputs("quilm: the crash guard is not available on this system: nothing done\n", stderr);
        return false;
    }
    find_directories();
    return true;
}

// Removes one state file; false after a line on stderr.
bool remove_state(const char* name) {
    if (platform::state_remove(state_path(name).text)) return true;
    std::fprintf(stderr, "quilm: cannot remove %s\n", state_path(name).text);
    return false;
}

} // namespace

int guard_before_apply(const char* settings_path) {
    if (!guard_available()) return exit_environment;
    bool asked = false;
    if (!no_apply_asked(&asked)) return exit_environment;
    if (asked) {
        std::fputs("quilm: not applied: quilm.noapply is on the kernel command line; nothing changed\n",
                   stderr);
        return exit_guarded;
    }
    if (!read_boot()) return exit_environment;
    guard.settings_known = hash_settings(settings_path, &guard.settings);
    // A file that cannot be read is refused by the apply itself, before any register is written.
    if (!guard.settings_known) return -1;

    GuardRecord record{};
    const platform::StateRead quarantine = read_record("quarantine", &record);
    if (quarantine == platform::StateRead::unreadable) {
        std::fprintf(stderr, "quilm: not applied: %s cannot be read; %s\n", state_path("quarantine").text,
                     way_out);
        return exit_guarded;
    }
    if (quarantine == platform::StateRead::ok && record.settings == guard.settings) return left_alone(record);

    const platform::StateRead pending = read_record("pending", &record);
    if (pending == platform::StateRead::missing ||
        (pending == platform::StateRead::ok && std::strcmp(record.boot, guard.boot) == 0))
        return -1; // nothing unconfirmed, or a resume in the boot that wrote it
    // The last unattended apply did not survive. A record that cannot be read names no settings:
    // the ones about to be applied are the likeliest, so those are kept from the next boot too.
    if (pending == platform::StateRead::unreadable) {
        record = GuardRecord{};
        std::snprintf(record.boot, sizeof record.boot, "%s", guard.boot);
        record.time = platform::state_wall_seconds();
        record.settings = guard.settings;
        record.unreadable = true;
    }
    if (!write_record("quarantine", record, record.unreadable ? "unreadable" : "unconfirmed"))
        return exit_environment;
    remove_state("pending"); // if it stays, the next boot only quarantines the same settings again
    return left_alone(record);
}

bool guard_write_pending() {
    GuardRecord record{};
    uint64_t since_boot_ms = 0;
    if (!guard.settings_known || !platform::state_clocks(&record.awake_ms, &since_boot_ms)) {
        std::fputs("quilm: the crash guard cannot tell when this apply happens: nothing applied\n", stderr);
        return false;
    }
    std::snprintf(record.boot, sizeof record.boot, "%s", guard.boot);
    record.time = platform::state_wall_seconds();
    record.settings = guard.settings;
    // Time spent suspended since boot means the unit runs after a resume.
    record.resume = since_boot_ms > record.awake_ms + 1000;
    if (!write_record("pending", record, nullptr)) return false;
    std::printf("quilm: applying at %s; %s/pending holds it until 'quilm confirm' after %u minutes awake\n",
                record.resume ? "resume" : "boot", guard.directory, confirm_default_seconds / 60);
    return true;
}

const char* guard_warning(const char* settings_path, bool lines) {
    if (!platform::state_supported()) return nullptr;
    find_directories();
    GuardRecord record{};
    if (!quarantined(settings_path, &record)) return nullptr;
    char why[256];
    describe(record, why, sizeof why);
    // The window's box does not wrap lines: it gets them short.
    if (lines)
        std::snprintf(
            guard.text, sizeof guard.text,
            "The saved settings were not applied at boot:\n%s.\n\nRun 'quilm rearm' to try them again,\n"
            "or save other settings.",
            why);
    else
        std::snprintf(guard.text, sizeof guard.text, "the saved settings were not applied at boot: %s; %s",
                      why, way_out);
    return guard.text;
}

bool guard_check(const char* settings_path, char* detail, size_t size) {
    if (!platform::state_supported()) {
        std::snprintf(detail, size, "not available on this system (no unattended applies)");
        return true;
    }
    find_directories();
    bool asked = false;
    char why[256], when[32];
    GuardRecord record{};
    if (no_apply_asked(&asked) && asked) {
        std::snprintf(detail, size,
                      "quilm.noapply on the kernel command line: nothing is applied unattended");
        return false;
    }
    const platform::StateRead quarantine = read_record("quarantine", &record);
    if (quarantine == platform::StateRead::unreadable) {
        std::snprintf(detail, size, "%s cannot be read: %s", state_path("quarantine").text, way_out);
        return false;
    }
    if (quarantine == platform::StateRead::ok) {
        // Only the settings that failed are kept back: saved settings of their own are applied.
        uint64_t hash = 0;
        const bool same = hash_settings(settings_path, &hash) && hash == record.settings;
        platform::state_local_time(record.time, when, sizeof when);
        describe(record, why, sizeof why);
        std::snprintf(detail, size, "quarantined since %s: %s; %s", when, why,
                      same ? way_out : "the saved settings are others, and are applied");
        return !same;
    }
    const platform::StateRead pending = read_record("pending", &record);
    platform::state_local_time(record.time, when, sizeof when);
    if (pending == platform::StateRead::unreadable) {
        std::snprintf(detail, size, "%s cannot be read: the next unattended apply applies nothing",
                      state_path("pending").text);
        return false;
    }
    if (pending == platform::StateRead::ok && read_boot() && std::strcmp(record.boot, guard.boot) == 0) {
        std::snprintf(detail, size, "pending since %s: confirmed after %u minutes awake", when,
                      confirm_default_seconds / 60);
        return true;
    }
    if (pending == platform::StateRead::ok) {
        std::snprintf(detail, size,
                      "the apply of %s was never confirmed: the next unattended apply applies nothing", when);
        return false;
    }
    std::snprintf(detail, size, "armed (%s)", guard.directory);
    return true;
}

int confirm_word(int argc, char** argv) {
    uint64_t after = confirm_default_seconds;
    if (argc == 4 && std::strcmp(argv[2], "--after") == 0 && argv[3][0] != '\0' &&
        std::strspn(argv[3], "0123456789") == std::strlen(argv[3]) && std::strlen(argv[3]) <= 9) {
        after = std::strtoull(argv[3], nullptr, 10);
    } else if (argc != 2) {
        std::fputs("quilm: confirm takes only --after SECONDS (0..999999999)\n", stderr);
        return exit_usage;
    }
    if (!guard_available()) return exit_environment;
    GuardRecord record{};
    const platform::StateRead pending = read_record("pending", &record);
    if (pending == platform::StateRead::missing) return exit_ok; // nothing waits for confirmation
    if (pending == platform::StateRead::unreadable) {
        std::fprintf(stderr, "quilm: cannot read %s: the next unattended apply applies nothing\n",
                     state_path("pending").text);
        return exit_environment;
    }
    uint64_t awake_ms = 0, since_boot_ms = 0;
    if (!read_boot() || !platform::state_clocks(&awake_ms, &since_boot_ms)) return exit_environment;
    if (std::strcmp(record.boot, guard.boot) != 0) {
        std::puts("quilm: not confirmed: the pending apply is of another boot");
        return exit_ok;
    }
    const uint64_t awake_since = awake_ms >= record.awake_ms ? awake_ms - record.awake_ms : 0;
    if (awake_since < after * 1000) {
        std::printf("quilm: not confirmed yet: %" PRIu64 " of %" PRIu64 " seconds awake\n",
                    awake_since / 1000, after);
        return exit_ok;
    }
    if (!remove_state("pending")) return exit_environment;
    char when[32];
    platform::state_local_time(record.time, when, sizeof when);
    std::printf("quilm: confirmed: the settings applied at %s %s kept the machine running\n",
                record.resume ? "resume" : "boot", when);
    return exit_ok;
}

int rearm_word(int argc) {
    if (argc != 2) {
        std::fputs("quilm: rearm takes no options\n", stderr);
        return exit_usage;
    }
    if (!guard_available()) return exit_environment;
    if (!remove_state("quarantine") || !remove_state("pending")) return exit_environment;
    std::puts("quilm: rearmed: the next unattended apply applies the saved settings");
    return exit_ok;
}

} // namespace app
