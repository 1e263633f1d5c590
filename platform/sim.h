// A simulated AMD processor behind the six hardware-access operations, for
// machines without register access and for tests. No real hardware is touched.
// Standard C++ only, so any backend (or a library exporting the six
// operations) can sit on top of it.
#pragma once
#include <cstdint>

namespace platform {

constexpr uint32_t sim_max_processors = 64;

// A simulated processor: a named profile with its options applied.
struct SimConfig {
    const char* profile = nullptr;         // profile name
    uint32_t cpuid_eax = 0;                // CPUID leaf 1 eax: family, model, stepping
    uint32_t processor_count = 0;          // 1..64
    uint32_t pstates = 0;                  // readable definition registers, 0..8
    uint32_t boost = 0;                    // boosted P-states: hardware rows below this number
    uint32_t current = 0;                  // hardware row current at start, boost..7
    uint32_t reject = 8;                   // definition register that keeps its value when written, 8 none
    bool init_fails = false;               // InitializeOls returns 0
    bool driver_error = false;             // GetDllStatus returns 1
    const uint64_t* definitions = nullptr; // the profile's eight definition registers
};

// Reads "profile[,key=value]..."; false, after one stderr line naming the culprit,
// for an unknown profile, an unknown option or a value out of range.
bool sim_parse(const char* text, SimConfig* config);

// Starts the simulator described by text, with its registers kept in the file at
// state_path when that is non-empty; non-zero when ready.
int sim_initialize(const char* text, const char* state_path);

// 0 when the simulated driver is usable.
uint32_t sim_status();

// Answers CPUID for the simulated processor; non-zero on success.
int sim_cpuid(uint32_t index, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx);

// Reads a register of processor 0; non-zero on success.
int sim_rdmsr(uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a register on every simulated processor named in the mask; non-zero when all took the write.
int sim_wrmsr(uint32_t index, uint32_t eax, uint32_t edx, uint64_t mask);

// Stops the simulator; the state file keeps the last registers.
void sim_deinitialize();

// Number of simulated processors, 0 when the simulator is not running.
uint32_t sim_processor_count();

// Any register of any simulated processor, readable or not; false if it has no such register.
bool sim_register(uint32_t processor, uint32_t index, uint64_t* value);

// Stops the simulator and forgets every register and option.
void sim_reset();

} // namespace platform
