// What the Linux OS services read from the system, exposed so tests can feed it text.
#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// System times from the first line of /proc/stat ("cpu  user nice system idle iowait irq softirq
// steal ...", in clock ticks of hz per second): 100-ns units, idle including iowait, kernel
// including idle. False when the text is not such a line.
bool stat_times(const char* text, size_t length, long hz, uint64_t* idle, uint64_t* kernel, uint64_t* user);

} // namespace platform
