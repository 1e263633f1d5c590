// A simulated AMD processor behind the six hardware-access operations, for
// machines without register access and for tests. No real hardware is touched.
// Standard C++ only, so any backend (or a library exporting the six
// operations) can sit on top of it.
#pragma once
#include <cstdint>

namespace platform {

constexpr uint32_t sim_max_processors = 1024;

// An option left to the profile's own value.
constexpr uint32_t sim_unset = 0xFFFFFFFF;

// A profile's northbridge configuration registers (bus 0, device 18h) as its part reads them.
struct SimPci {
    uint32_t power_control; // function 3 offset A0h; PviMode (bit 8) clear
    uint32_t clock_power;   // function 3 offset D4h; MainPllOpFreqId (bits 5..0) as shipped
    uint32_t boost_control; // function 4 offset 15Ch; BoostSrc (1..0) and NumBoostStates clear
    uint32_t boost_bits;    // width of NumBoostStates from bit 2: 3, or 1 on family 10h
};

// A simulated processor: a named profile with its options applied.
struct SimConfig {
    const char* profile = nullptr;           // profile name
    uint32_t cpuid_eax = 0;                  // CPUID leaf 1 eax: family, model, stepping
    uint32_t processor_count = 0;            // 1..1024
    uint32_t pstates = 0;                    // readable definition registers, 0..8
    uint32_t boost = 0;                      // boosted P-states: hardware rows below this number
    uint32_t current = 0;                    // hardware row current at start, boost..7
    uint32_t reject = 8;                     // definition register that keeps its value when written, 8 none
    bool init_fails = false;                 // InitializeOls returns 0
    bool driver_error = false;               // GetDllStatus returns 1
    const uint64_t* definitions = nullptr;   // the profile's eight definition registers
    bool zen = false;                        // holds HWCR and no COFVID status register
    uint64_t hwcr = 0;                       // HWCR at start, on Zen profiles
    const SimPci* pci = nullptr;             // configuration registers, null where the part has none
    uint32_t pvi = sim_unset;                // PviMode, 0..1
    uint32_t boost_source = sim_unset;       // BoostSrc, 0..3
    uint32_t pll = sim_unset;                // MainPllOpFreqId, 0..63
    uint32_t differ = sim_unset;             // processor whose definition 1 has bit 0 flipped at start
    uint32_t refuse_hwcr = sim_unset;        // processor that refuses every HWCR write
    uint32_t refuse_control = sim_unset;     // processor that refuses every P-state control write
    uint32_t refuse_definitions = sim_unset; // processor that refuses every definition write
    uint32_t follow = 1;                     // 0: the current P-state ignores the control register
    uint32_t load = 50;                      // percent of the time every processor is busy, 0..100
    uint32_t temperature = 45;               // package temperature in degrees Celsius, as the sensor reads
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

// Reads a register of the named processor; non-zero on success.
int sim_rdmsr_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a register on the named processor only; non-zero when it took the write.
int sim_wrmsr_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx);

// Writes a register on every simulated processor named in the mask (processors 0..63);
// non-zero when all took the write.
int sim_wrmsr(uint32_t index, uint32_t eax, uint32_t edx, uint64_t mask);

// Reads a northbridge configuration register (pci_address = bus << 8 | device << 3 | function);
// non-zero on success, 0 where the simulated part has no such register.
int sim_read_pci(uint32_t pci_address, uint32_t reg, uint32_t* value);

// Stops the simulator; the state file keeps the last registers.
void sim_deinitialize();

// Number of simulated processors, 0 when the simulator is not running.
uint32_t sim_processor_count();

// Any register of any simulated processor, readable or not; false if it has no such register.
bool sim_register(uint32_t processor, uint32_t index, uint64_t* value);

// Called with each register write before the simulator takes it; null for none. Tests use it to see
// what lies on disk at the moment of the first write.
inline void (*sim_before_write)(uint32_t processor, uint32_t index, uint64_t value) = nullptr;

// Stops the simulator and forgets every register and option.
void sim_reset();

// The package temperature in 1/1000 degrees Celsius, as the system's sensor would give it;
// false when the simulator is not running.
bool sim_temperature(int32_t* millicelsius);

// Sets the clock the counters advance with, in nanoseconds (null: the system's steady clock).
// Tests give a clock of their own so that every reading is exact.
void sim_set_clock(uint64_t (*now_ns)());

} // namespace platform
