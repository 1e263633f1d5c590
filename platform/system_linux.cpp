// Register-access facts of a Linux system, read from /proc and /sys.
#include "platform/system.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace platform {

namespace {

// The first line of a file without its line end; empty when the file cannot be read.
std::string first_line(const std::string& path) {
    char line[256] = {};
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return {};
    if (!std::fgets(line, sizeof line, file)) line[0] = 0;
    std::fclose(file);
    line[std::strcspn(line, "\r\n")] = 0;
    return line;
}

bool exists(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file) std::fclose(file);
    return file != nullptr;
}

// CAP_SYS_RAWIO (bit 17) in the CapEff line of /proc/self/status; root holds every capability.
bool has_raw_io(const std::string& status_path) {
    std::FILE* file = std::fopen(status_path.c_str(), "r");
    if (!file) return false;
    char line[256];
    unsigned long long caps = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, file))
        found = std::sscanf(line, "CapEff: %llx", &caps) == 1;
    std::fclose(file);
    return found && (caps >> 17 & 1);
}

} // namespace

void system_facts(const char* root, SystemFacts* facts) {
    const std::string base = root;
    *facts = SystemFacts{};
    facts->privileged = has_raw_io(base + "/proc/self/status");
    facts->msr_device = exists(base + "/dev/cpu/0/msr") || exists(base + "/sys/module/msr/initstate");
    std::snprintf(facts->allow_writes, sizeof facts->allow_writes, "%s",
                  first_line(base + "/sys/module/msr/parameters/allow_writes").c_str());
    // "[none] integrity confidentiality": the mode in force is the bracketed one.
    const std::string modes = first_line(base + "/sys/kernel/security/lockdown");
    const size_t open = modes.find('['), close = modes.find(']');
    const std::string mode =
        open != std::string::npos && close > open ? modes.substr(open + 1, close - open - 1) : "";
    std::snprintf(facts->lockdown, sizeof facts->lockdown, "%s", mode.c_str());
}

} // namespace platform
