// The simulated processor: one register file per processor, filled from a profile
// of a real part, changed only by writes, and optionally mirrored in a text file
// that other tools can watch.

#include "platform/sim.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace platform {

namespace {

// ---------------------------------------------------------------------------
// Profiles

constexpr uint64_t enable_bit = uint64_t(1) << 63;

// Family 10h: FID 5..0, DID 8..6, core VID 15..9, NbDid 22, NB VID 31..25, IddValue 39..32 (1 A units).
// Frequency 100 MHz * (FID + 16) / 2^DID, voltage 1.55 V - 12.5 mV * VID.
constexpr uint64_t fam10h_pstate(uint32_t fid, uint32_t did, uint32_t vid, uint32_t nb_did, uint32_t nb_vid,
                                 uint32_t amps) {
    return enable_bit | uint64_t(amps) << 32 | nb_vid << 25 | nb_did << 22 | vid << 9 | did << 6 | fid;
}

// Family 11h and family 15h models 00h..0Fh: FID 5..0, DID 8..6, 7-bit VID 15..9 (1.55 V - 12.5 mV * VID),
// NB P-state 22 (family 15h), IddValue 39..32. Family 11h: 100 MHz * (FID + 8) / 2^DID;
// family 15h: 100 MHz * (FID + 16) / 2^DID.
constexpr uint64_t svi1_pstate(uint32_t fid, uint32_t did, uint32_t vid, uint32_t nb_pstate, uint32_t amps) {
    return enable_bit | uint64_t(amps) << 32 | nb_pstate << 22 | vid << 9 | did << 6 | fid;
}

// Family 12h: divisor index 3..0 (/1, 1.5, 2, 3, 4, 6, 8, 12, 16), FID 8..4, VID 15..9, IddValue 39..32.
// Frequency 100 MHz * (FID + 16) / divisor.
constexpr uint64_t fam12h_pstate(uint32_t fid, uint32_t did, uint32_t vid, uint32_t amps) {
    return enable_bit | uint64_t(amps) << 32 | vid << 9 | fid << 4 | did;
}

// Family 14h: divisor quarters 3..0 and units 8..4, VID 15..9, IddValue 39..32.
// Frequency 100 MHz * (main PLL FID + 16) / (units + quarters / 4 + 1).
constexpr uint64_t fam14h_pstate(uint32_t did_msd, uint32_t did_lsd, uint32_t vid, uint32_t amps) {
    return enable_bit | uint64_t(amps) << 32 | vid << 9 | did_msd << 4 | did_lsd;
}

// Family 15h model 10h and later, and family 16h: FID 5..0, DID 8..6, 8-bit core VID 16..9,
// NB P-state 22, IddValue 39..32. Voltage 1.55 V - 6.25 mV * VID.
constexpr uint64_t fam15h_pstate(uint32_t fid, uint32_t did, uint32_t vid, uint32_t nb_pstate,
                                 uint32_t amps) {
    return enable_bit | uint64_t(amps) << 32 | nb_pstate << 22 | vid << 9 | did << 6 | fid;
}

// Families 17h and 19h: FID 7..0, DfsId 13..8, VID 21..14, IddValue 29..22, IddDiv 31..30.
// Frequency 200 MHz * FID / DfsId, current IddValue / 10^IddDiv A.
constexpr uint64_t zen_pstate(uint32_t fid, uint32_t dfs_id, uint32_t vid, uint32_t idd_value,
                              uint32_t idd_div = 0) {
    return enable_bit | idd_div << 30 | idd_value << 22 | vid << 14 | dfs_id << 8 | fid;
}

// Family 1Ah: FID 11..0 (5 MHz units), VID bits 7..0 at 21..14 and bit 8 at 32 (0.245 V + 5 mV * VID),
// IddValue 29..22, IddDiv 31..30.
constexpr uint64_t fam1ah_pstate(uint32_t fid, uint32_t vid, uint32_t idd_value, uint32_t idd_div) {
    return enable_bit | uint64_t(vid >> 8) << 32 | idd_div << 30 | idd_value << 22 | (vid & 0xFF) << 14 | fid;
}

// clang-format off
constexpr uint64_t fam10h_definitions[8] = {
    fam10h_pstate(14, 0, 10, 0, 30, 88), // 3.0 GHz, 1.4250 V, NB 1.1750 V
    fam10h_pstate( 7, 0, 18, 0, 30, 60), // 2.3 GHz, 1.3250 V
    fam10h_pstate(16, 1, 26, 0, 30, 40), // 1.6 GHz, 1.2250 V
    fam10h_pstate( 0, 1, 42, 1, 34, 18), // 0.8 GHz, 1.0250 V, NB at half clock and 1.1250 V
    0,                                   // disabled
    0, 0, 0,                             // not readable
};

constexpr uint64_t fam11h_definitions[8] = {
    svi1_pstate(16, 0, 32, 0, 30), // 2.4 GHz, 1.1500 V
    svi1_pstate(16, 1, 40, 0, 18), // 1.2 GHz, 1.0500 V
    svi1_pstate(16, 2, 48, 0, 10), // 0.6 GHz, 0.9500 V
    0, 0, 0, 0, 0,                 // disabled
};

constexpr uint64_t fam12h_definitions[8] = {
    fam12h_pstate( 8, 0, 11, 35), // boost 2.4 GHz, 1.4125 V
    fam12h_pstate(14, 2, 23, 25), // 1.5 GHz, 1.2625 V
    fam12h_pstate(10, 2, 28, 20), // 1.3 GHz, 1.2000 V
    fam12h_pstate(17, 3, 35, 15), // 1.1 GHz, 1.1125 V
    fam12h_pstate(16, 4, 48, 10), // 0.8 GHz, 0.9500 V
    0, 0, 0,                      // disabled
};

constexpr uint64_t fam14h_definitions[8] = {
    fam14h_pstate(1, 0, 16, 18), // 1.6 GHz (3.2 GHz PLL / 2), 1.3500 V
    fam14h_pstate(1, 2, 24, 13), // 1.28 GHz (/ 2.5), 1.2500 V
    fam14h_pstate(3, 0, 40,  7), // 0.8 GHz (/ 4), 1.0500 V
    0, 0, 0, 0, 0,               // disabled
};

constexpr uint64_t fam15h_definitions[8] = {
    fam15h_pstate(26, 0,  12, 0, 90), // boost 4.2 GHz, 1.47500 V
    fam15h_pstate(24, 0,  21, 0, 82), // boost 4.0 GHz, 1.41875 V
    fam15h_pstate(22, 0,  29, 0, 74), // 3.8 GHz, 1.36875 V
    fam15h_pstate(18, 0,  38, 0, 60), // 3.4 GHz, 1.31250 V
    fam15h_pstate(12, 0,  57, 0, 45), // 2.8 GHz, 1.19375 V
    fam15h_pstate( 7, 0,  72, 1, 33), // 2.3 GHz, 1.10000 V, low NB P-state
    fam15h_pstate(12, 1, 105, 1, 20), // 1.4 GHz, 0.89375 V, low NB P-state
    0,                                // disabled
};

constexpr uint64_t fam15h_m01_definitions[8] = {
    svi1_pstate(26, 0, 11, 0, 120), // boost 4.2 GHz, 1.4125 V
    svi1_pstate(23, 0, 13, 0, 110), // boost 3.9 GHz, 1.3875 V
    svi1_pstate(20, 0, 16, 0, 100), // 3.6 GHz, 1.3500 V
    svi1_pstate(17, 0, 19, 0,  85), // 3.3 GHz, 1.3125 V
    svi1_pstate(11, 0, 28, 0,  65), // 2.7 GHz, 1.2000 V
    svi1_pstate( 5, 0, 35, 1,  48), // 2.1 GHz, 1.1125 V, low NB P-state
    svi1_pstate(12, 1, 52, 1,  30), // 1.4 GHz, 0.9000 V, low NB P-state
    0,                              // disabled
};

constexpr uint64_t fam16h_definitions[8] = {
    fam15h_pstate(12, 1,  88, 0, 9), // boost 1.4 GHz, 1.00000 V
    fam15h_pstate( 4, 1, 104, 0, 7), // 1.0 GHz, 0.90000 V
    fam15h_pstate( 0, 1, 112, 0, 5), // 0.8 GHz, 0.85000 V
    fam15h_pstate( 8, 2, 120, 1, 4), // 0.6 GHz, 0.80000 V, low NB P-state
    0, 0, 0, 0,                      // disabled
};

constexpr uint64_t fam17h_definitions[8] = {
    zen_pstate(0x90, 8, 0x20, 95), // 3.6 GHz, 1.35 V
    zen_pstate(0x80, 8, 0x30, 70), // 3.2 GHz, 1.25 V
    zen_pstate(0x58, 8, 0x68, 30), // 2.2 GHz, 0.90 V
    0, 0, 0, 0, 0,                 // disabled
};

constexpr uint64_t fam17h_m90_definitions[8] = {
    zen_pstate(0x8C, 10, 0x48, 100, 1), // 2.8 GHz, 1.10 V, 10.0 A
    zen_pstate(0x64, 10, 0x68,  60, 1), // 2.0 GHz, 0.90 V, 6.0 A
    zen_pstate(0x46, 10, 0x80,  35, 1), // 1.4 GHz, 0.75 V, 3.5 A
    0, 0, 0, 0, 0,                      // disabled
};

constexpr uint64_t fam19h_definitions[8] = {
    zen_pstate(0x90,  8, 0x20, 100, 1), // 3.6 GHz, 1.35 V, 10.0 A
    zen_pstate(0x70,  8, 0x40,  75, 1), // 2.8 GHz, 1.15 V, 7.5 A
    zen_pstate(0x60, 12, 0x58,  50, 1), // 1.6 GHz, 1.00 V, 5.0 A
    0, 0, 0, 0, 0,                      // disabled
};

constexpr uint64_t fam19h_m74_definitions[8] = {
    zen_pstate(0x98, 8, 191, 120, 1), // 3.8 GHz, 1.200 V (0.245 V + 5 mV * VID), 12.0 A
    zen_pstate(0x78, 8, 151,  80, 1), // 3.0 GHz, 1.000 V, 8.0 A
    zen_pstate(0x40, 8, 111,  40, 1), // 1.6 GHz, 0.800 V, 4.0 A
    0, 0, 0, 0, 0,                    // disabled
};

constexpr uint64_t fam1ah_definitions[8] = {
    fam1ah_pstate(850, 191, 150, 1), // 4.25 GHz, 1.200 V, 15.0 A
    fam1ah_pstate(600, 151, 100, 1), // 3.0 GHz, 1.000 V, 10.0 A
    fam1ah_pstate(400, 121,  50, 1), // 2.0 GHz, 0.850 V, 5.0 A
    0, 0, 0, 0, 0,                   // disabled
};
// clang-format on

// Worked examples of the Zen layouts, as firmware tables list them.
static_assert(fam19h_definitions[0] == 0x8000000059080890);
static_assert(fam19h_definitions[2] == 0x800000004C960C60);
static_assert(fam19h_m74_definitions[0] == 0x800000005E2FC898);
static_assert(fam1ah_definitions[0] == 0x8000000065AFC352);

// HWCR of a Zen part: SmmLock (0), INVDWBINVD (4), TscFreqSel (24) and EffFreqReadOnlyLock (27) set,
// LockTscToCurrentP0 (21) clear.
constexpr uint64_t zen_hwcr = 0x0000000009000011;

// Northbridge registers of the parts before Zen. Power control: PSI VID 20h with its enable (bit 7) and a
// PLL lock time (bit 11). Clock control: the main PLL's frequency ID 5..0, 100 MHz * (FID + 16), with its
// valid bit (6) and ramp hysteresis. Boost control: BoostLock (31) and ApmMasterEn (7) where the part
// boosts with APM.
// clang-format off
constexpr SimPci fam10h_pci = {0x000008A0, 0x03310F4E, 0x00000000, 1}; // PLL 3.0 GHz
constexpr SimPci fam11h_pci = {0x000008A0, 0x03310F50, 0x00000000, 1}; // PLL 3.2 GHz
constexpr SimPci fam12h_pci = {0x000048A0, 0x03310F50, 0x80000000, 3}; // PLL 3.2 GHz
constexpr SimPci fam14h_pci = {0x000048A0, 0x03310F50, 0x00000000, 3}; // PLL 3.2 GHz
constexpr SimPci fam15h_pci = {0x000048A0, 0x03310F5A, 0x80000080, 3}; // PLL 4.2 GHz
constexpr SimPci fam16h_pci = {0x000048A0, 0x03310F4C, 0x80000080, 3}; // PLL 2.8 GHz
// clang-format on

struct Profile {
    const char* name;
    uint32_t cpuid_eax; // family, model, stepping as CPUID leaf 1 reports them
    uint32_t processor_count;
    uint32_t pstates; // readable definition registers
    uint32_t boost;   // boosted P-states
    const uint64_t* definitions;
    bool zen;          // HWCR held, no COFVID status register
    const SimPci* pci; // northbridge configuration registers, none on Zen
};

// clang-format off
constexpr Profile profiles[] = {
    {"fam10h",     0x00100F42,  4, 5, 0, fam10h_definitions,     false, &fam10h_pci}, // model 4, stepping 2
    {"fam11h",     0x00200F31,  2, 8, 0, fam11h_definitions,     false, &fam11h_pci}, // model 3, stepping 1
    {"fam12h",     0x00300F10,  4, 8, 1, fam12h_definitions,     false, &fam12h_pci}, // model 1
    {"fam14h",     0x00500F10,  2, 8, 0, fam14h_definitions,     false, &fam14h_pci}, // model 1
    {"fam15h",     0x00610F01,  4, 8, 2, fam15h_definitions,     false, &fam15h_pci}, // model 10h, stepping 1
    {"fam15h-m01", 0x00600F12,  8, 8, 2, fam15h_m01_definitions, false, &fam15h_pci}, // model 1, stepping 2
    {"fam16h",     0x00700F01,  4, 8, 1, fam16h_definitions,     false, &fam16h_pci}, // model 0, stepping 1
    {"fam17h",     0x00800F11,  8, 8, 0, fam17h_definitions,     true,  nullptr},     // model 1, stepping 1
    {"fam17h-m90", 0x00890F02,  8, 8, 0, fam17h_m90_definitions, true,  nullptr},     // model 90h, stepping 2
    {"fam19h",     0x00A20F10, 16, 8, 0, fam19h_definitions,     true,  nullptr},     // model 21h
    {"fam19h-m74", 0x00A70F40, 16, 8, 0, fam19h_m74_definitions, true,  nullptr},     // model 74h
    {"fam1ah",     0x00B20F40, 24, 8, 0, fam1ah_definitions,     true,  nullptr},     // model 24h
};
// clang-format on

// ---------------------------------------------------------------------------
// Register file

// Registers a simulated processor may hold, in file order; held() tells which a profile has.
constexpr uint32_t sim_registers[] = {0xC0010015, 0xC0010062, 0xC0010063, 0xC0010064, 0xC0010065, 0xC0010066,
                                      0xC0010067, 0xC0010068, 0xC0010069, 0xC001006A, 0xC001006B, 0xC0010071};
constexpr uint32_t register_count = sizeof sim_registers / sizeof sim_registers[0];
constexpr int slot_hwcr = 0;       // 0xC0010015 HWCR, Zen only: bit 21 LockTscToCurrentP0
constexpr int slot_control = 1;    // 0xC0010062 P-state control: bits 2..0 requested software P-state
constexpr int slot_status = 2;     // 0xC0010063 P-state status: bits 2..0 current software P-state
constexpr int slot_definition = 3; // 0xC0010064 + i: P-state definition i
constexpr int slot_cofvid = 11; // 0xC0010071 COFVID status, before Zen: bits 18..16 current hardware P-state

constexpr size_t max_path = 4096;

struct SimState {
    SimConfig config;
    bool ready = false;                                     // initialized and not failed
    uint64_t regs[sim_max_processors][register_count] = {}; // register file per processor
    char state_path[max_path] = {};                         // state file, empty for none
    bool save_failure_reported = false;                     // stderr already told about the state file
};

SimState sim;
uint64_t loading[sim_max_processors][register_count]; // the state file as it is read, taken when all good
std::mutex sim_lock;                                  // the load governor writes from its own thread

// Forgets everything in place: the register file is too large for a temporary on the stack.
void clear_state() {
    sim.config = SimConfig{};
    sim.ready = false;
    std::memset(sim.regs, 0, sizeof sim.regs);
    sim.state_path[0] = '\0';
    sim.save_failure_reported = false;
}

// Whether the simulated part has the register of this slot: HWCR on Zen only, COFVID before Zen only.
bool held(int slot) {
    if (slot == slot_hwcr) return sim.config.zen;
    if (slot == slot_cofvid) return !sim.config.zen;
    return slot >= 0;
}

// The slot of a register the simulated part holds, -1 for any other.
int slot_of(uint32_t index) {
    for (uint32_t s = 0; s < register_count; ++s)
        if (sim_registers[s] == index) return held(int(s)) ? int(s) : -1;
    return -1;
}

// Whether a read of the slot succeeds: held, and for a definition register among the readable ones.
bool readable(int slot) {
    if (slot >= slot_definition && slot < slot_definition + 8)
        return uint32_t(slot - slot_definition) < sim.config.pstates;
    return slot >= 0;
}

bool wide_cofvid();

// Makes hardware row `row` current on processor p: status and control in software numbering,
// COFVID in hardware numbering with the row's FID, DID and VID as the current operating point.
// A boosted row has no software number of its own: the status register then reads 0.
void set_current(uint32_t p, uint32_t row) {
    uint64_t software = row >= sim.config.boost ? row - sim.config.boost : 0;
    sim.regs[p][slot_control] = software;
    sim.regs[p][slot_status] = software;
    if (!sim.config.zen) {
        // The status register holds an 8-bit VID's top bit at bit 20, not beside the others.
        const uint64_t definition = sim.regs[p][slot_definition + row];
        const uint64_t vid_top = wide_cofvid() ? (definition >> 16 & 1) << 20 : 0;
        sim.regs[p][slot_cofvid] = uint64_t(row) << 16 | vid_top | (definition & 0xFFFF);
    }
}

// ---------------------------------------------------------------------------
// Live counters: the time-stamp counter and MPERF tick at P0's frequency, APERF at the current
// P-state's frequency, both of the latter only for the load's share of the time; on Zen parts the
// package energy counter follows a simple power model. They advance with the clock and are never
// stored; each processor's counters move on from the moment they were last brought up to date,
// so that a change of P-state changes their pace, never their past.

struct LiveCounters {
    uint64_t ns;                // clock reading they were brought up to date at
    uint64_t tsc, mperf, aperf; // cycles
};

struct LiveState {
    LiveCounters cores[sim_max_processors];
    uint64_t energy_ns; // clock reading the energy was brought up to date at
    double energy;      // package energy in units of 2^-16 J
    uint64_t (*clock)() = nullptr;
};
LiveState live;

// clang-format off
constexpr uint32_t msr_tsc        = 0x00000010;
constexpr uint32_t msr_mperf      = 0x000000E7;
constexpr uint32_t msr_aperf      = 0x000000E8;
constexpr uint32_t msr_mperf_ro   = 0xC00000E7; // read-only copies on Zen
constexpr uint32_t msr_aperf_ro   = 0xC00000E8;
constexpr uint32_t msr_hw_status  = 0xC0010293; // Zen: the current operating point and hardware P-state
constexpr uint32_t msr_rapl_unit  = 0xC0010299; // Zen: energy unit in bits 12..8 (2^-ESU J)
constexpr uint32_t msr_pkg_energy = 0xC001029B; // Zen: package energy, 32 bits that wrap
constexpr uint64_t rapl_unit      = 0x000A1003; // energy unit 2^-16 J, as Zen parts report it
// clang-format on

uint64_t now_ns() {
    if (live.clock) return live.clock();
    return uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

uint32_t family() {
    const uint32_t eax = sim.config.cpuid_eax;
    return (eax >> 20 & 0xFF) + (eax >> 8 & 0xF);
}

uint32_t model() {
    const uint32_t eax = sim.config.cpuid_eax;
    return (eax >> 16 & 0xF) << 4 | (eax >> 4 & 0xF);
}

// Family 15h from model 10h and family 16h keep an 8-bit VID.
bool wide_cofvid() {
    return (family() == 0x15 && model() >= 0x10) || family() == 0x16;
}

// The main PLL of family 14h in MHz, as the northbridge register gives it.
uint32_t pll_mhz() {
    const uint32_t fid = sim.config.pll != sim_unset ? sim.config.pll
                         : sim.config.pci            ? sim.config.pci->clock_power & 0x3F
                                                     : 0;
    return 100 * (fid + 16);
}

// The frequency of a definition register in MHz, by the profile's family; 0 where it has none.
uint32_t definition_mhz(uint64_t d) {
    static constexpr uint32_t fam12h_halves[16] = {2, 3, 4, 6, 8, 12, 16, 24, 32};
    const uint32_t fid = d & 0x3F, did = d >> 6 & 7;
    switch (family()) {
    case 0x10:
    case 0x15:
    case 0x16: return did > 4 ? 0 : 100 * (fid + 16) >> did;
    case 0x11: return did > 3 ? 0 : 100 * (fid + 8) >> did;
    case 0x12: return fam12h_halves[d & 0xF] ? 200 * ((d >> 4 & 0x1F) + 16) / fam12h_halves[d & 0xF] : 0;
    case 0x14: return 4 * pll_mhz() / (4 * (d >> 4 & 0x1F) + (d & 0xF) + 4);
    case 0x17:
    case 0x19: return (d >> 8 & 0x3F) ? 200 * (d & 0xFF) / (d >> 8 & 0x3F) : 0;
    case 0x1A: return 5 * (d & 0xFFF);
    default: return 0;
    }
}

// Volts of a Zen definition register: SVI3 (0.245 V + 5 mV * VID, VID bit 8 at bit 32) on
// family 1Ah and family 19h models 60h..7Fh, SVI2 (1.55 V - 6.25 mV * VID) elsewhere.
double definition_volts(uint64_t d) {
    const uint32_t vid = d >> 14 & 0xFF;
    if (family() == 0x1A || (family() == 0x19 && model() >= 0x60 && model() <= 0x7F))
        return 0.245 + 0.005 * double(vid | (d >> 32 & 1) << 8);
    return 1.55 - 0.00625 * vid;
}

// The hardware P-state processor p runs in.
uint32_t current_row(uint32_t p) {
    return sim.config.zen ? uint32_t(sim.regs[p][slot_status] & 7)
                          : uint32_t(sim.regs[p][slot_cofvid] >> 16 & 7);
}

// The package's power in watts now: a little for the package itself, and for each processor
// its frequency in GHz times the square of its voltage, more of it the busier it is.
double package_watts() {
    double watts = 3;
    const double busy = 0.25 + sim.config.load / 100.0;
    for (uint32_t p = 0; p < sim.config.processor_count; ++p) {
        const uint64_t d = sim.regs[p][slot_definition + current_row(p)];
        const double volts = definition_volts(d);
        watts += definition_mhz(d) / 1000.0 * volts * volts * busy;
    }
    return watts;
}

// Brings the package energy up to the clock.
void advance_energy(uint64_t now) {
    if (!sim.config.zen) return;
    live.energy += package_watts() * double(now - live.energy_ns) * 65536e-9;
    live.energy_ns = now;
}

// Brings processor p's counters up to the clock at the pace of its current P-state.
void advance_counters(uint32_t p, uint64_t now) {
    LiveCounters& c = live.cores[p];
    const uint64_t ns = now - c.ns, load = sim.config.load;
    const uint64_t p0 = definition_mhz(sim.regs[p][slot_definition + sim.config.boost]);
    const uint64_t mhz = definition_mhz(sim.regs[p][slot_definition + current_row(p)]);
    c.tsc += ns * p0 / 1000;
    c.mperf += ns * p0 * load / 100000;
    c.aperf += ns * mhz * load / 100000;
    c.ns = now;
}

void start_counters() {
    live.energy = 0;
    live.energy_ns = now_ns();
    for (uint32_t p = 0; p < sim.config.processor_count; ++p) live.cores[p] = {live.energy_ns, 0, 0, 0};
}

// The live registers: counters, the Zen status register and the energy registers; false for any
// other register, which the register file answers.
bool live_register(uint32_t p, uint32_t index, uint64_t* value) {
    const bool zen = sim.config.zen;
    const uint64_t now = now_ns();
    switch (index) {
    case msr_tsc:
    case msr_mperf:
    case msr_aperf:
    case msr_mperf_ro:
    case msr_aperf_ro: {
        if (!zen && (index == msr_mperf_ro || index == msr_aperf_ro)) return false;
        advance_counters(p, now);
        const LiveCounters& c = live.cores[p];
        *value = index == msr_tsc ? c.tsc : (index & 0xFF) == 0xE7 ? c.mperf : c.aperf;
        return true;
    }
    case msr_hw_status: {
        if (!zen) return false;
        const uint32_t row = current_row(p);
        const uint64_t d = sim.regs[p][slot_definition + row];
        *value = (d & 0x3FFFFF) | uint64_t(row) << 22 | (d & uint64_t{1} << 32);
        return true;
    }
    case msr_rapl_unit:
        if (!zen) return false;
        *value = rapl_unit;
        return true;
    case msr_pkg_energy:
        if (!zen) return false;
        advance_energy(now);
        *value = uint64_t(live.energy) & 0xFFFFFFFF;
        return true;
    default: return false;
    }
}

// ---------------------------------------------------------------------------
// Options

// Decimal number of at most four digits.
bool parse_number(const char* text, size_t length, uint32_t* value) {
    if (length == 0 || length > 4) return false;
    uint32_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        n = n * 10 + uint32_t(text[i] - '0');
    }
    *value = n;
    return true;
}

bool bad_option(const char* item, size_t length, const char* range) {
    if (range)
        std::fprintf(stderr, "quilm: simulator option \"%.*s\" in QUILM_SIM is out of range (%s)\n",
                     int(length), item, range);
    else
        std::fprintf(stderr, "quilm: unknown simulator option \"%.*s\" in QUILM_SIM\n", int(length), item);
    return false;
}

// Applies one key=value item to the configuration.
bool parse_option(const char* item, size_t length, SimConfig* config, bool* current_given) {
    const char* equals = static_cast<const char*>(std::memchr(item, '=', length));
    if (!equals) return bad_option(item, length, nullptr);
    size_t key_length = size_t(equals - item);
    const char* value = equals + 1;
    size_t value_length = length - key_length - 1;
    auto key_is = [&](const char* key) {
        return std::strlen(key) == key_length && !std::memcmp(key, item, key_length);
    };
    auto value_is = [&](const char* text) {
        return std::strlen(text) == value_length && !std::memcmp(text, value, value_length);
    };

    if (key_is("init") || key_is("driver")) {
        if (key_is("init") && value_is("fail"))
            config->init_fails = true;
        else if (key_is("driver") && value_is("error"))
            config->driver_error = true;
        else
            return bad_option(item, length, nullptr);
        return true;
    }

    struct NumberOption {
        const char* key;
        uint32_t SimConfig::*field;
        uint32_t low, high;
        const char* range;
        bool pci; // sets a northbridge register field
    };
    static constexpr NumberOption numbers[] = {
        {"cores", &SimConfig::processor_count, 1, sim_max_processors, "1..1024", false},
        {"pstates", &SimConfig::pstates, 0, 8, "0..8", false},
        {"boost", &SimConfig::boost, 0, 7, "0..7", false},
        {"current", &SimConfig::current, 0, 7, "0..7", false},
        {"reject", &SimConfig::reject, 0, 7, "0..7", false},
        {"pvi", &SimConfig::pvi, 0, 1, "0..1", true},
        {"boostsrc", &SimConfig::boost_source, 0, 3, "0..3", true},
        {"pll", &SimConfig::pll, 0, 63, "0..63", true},
        {"differ", &SimConfig::differ, 0, sim_max_processors - 1, "0..1023", false},
        {"refusehwcr", &SimConfig::refuse_hwcr, 0, sim_max_processors - 1, "0..1023", false},
        {"refusecontrol", &SimConfig::refuse_control, 0, sim_max_processors - 1, "0..1023", false},
        {"refusedef", &SimConfig::refuse_definitions, 0, sim_max_processors - 1, "0..1023", false},
        {"follow", &SimConfig::follow, 0, 1, "0..1", false},
        {"load", &SimConfig::load, 0, 100, "0..100", false},
        {"temp", &SimConfig::temperature, 0, 125, "0..125", false},
    };
    for (const NumberOption& option : numbers) {
        if (!key_is(option.key)) continue;
        uint32_t n;
        if (!parse_number(value, value_length, &n)) return bad_option(item, length, nullptr);
        if (n < option.low || n > option.high) return bad_option(item, length, option.range);
        if (option.pci && !config->pci) {
            std::fprintf(stderr,
                         "quilm: simulator option \"%.*s\" in QUILM_SIM does not apply to %s, which has no "
                         "such northbridge register\n",
                         int(length), item, config->profile);
            return false;
        }
        config->*option.field = n;
        if (option.field == &SimConfig::current) *current_given = true;
        return true;
    }
    return bad_option(item, length, nullptr);
}

// ---------------------------------------------------------------------------
// State file: one line "P RRRRRRRR VVVVVVVVVVVVVVVV" per register per processor.

bool save_state() {
    char temporary[max_path + 8];
    std::snprintf(temporary, sizeof temporary, "%s.tmp", sim.state_path);
    std::FILE* file = std::fopen(temporary, "w");
    if (!file) return false;
    std::fprintf(file, "# quilm simulated %s: processor, register, value\n", sim.config.profile);
    for (uint32_t p = 0; p < sim.config.processor_count; ++p)
        for (uint32_t s = 0; s < register_count; ++s)
            if (held(int(s)))
                std::fprintf(file, "%u %08" PRIX32 " %016" PRIX64 "\n", p, sim_registers[s], sim.regs[p][s]);
    bool written = !std::ferror(file);
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::remove(temporary);
        return false;
    }
    if (std::rename(temporary, sim.state_path) == 0) return true;
    // Some systems will not rename onto an existing file; there the swap cannot be atomic.
    std::remove(sim.state_path);
    if (std::rename(temporary, sim.state_path) == 0) return true;
    std::remove(temporary);
    return false;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Exactly `digits` hexadecimal digits.
bool parse_hex(const char* text, int digits, uint64_t* value) {
    uint64_t n = 0;
    for (int i = 0; i < digits; ++i) {
        int d = hex_digit(text[i]);
        if (d < 0) return false;
        n = n << 4 | uint64_t(d);
    }
    *value = n;
    return true;
}

// Parses one line into processor, slot and value; the error names what is wrong.
bool parse_state_line(const char* line, uint32_t* processor, int* slot, uint64_t* value, const char** error) {
    *error = "expected \"processor register value\" in decimal and hexadecimal";
    uint32_t p = 0;
    size_t i = 0;
    for (; line[i] >= '0' && line[i] <= '9' && i < 4; ++i) p = p * 10 + uint32_t(line[i] - '0');
    if (i == 0 || line[i] != ' ') return false;
    const char* text = line + i + 1;
    uint64_t index;
    if (!parse_hex(text, 8, &index) || text[8] != ' ' || !parse_hex(text + 9, 16, value) || text[25] != '\0')
        return false;
    if (p >= sim.config.processor_count) {
        *error = "processor beyond the simulated ones";
        return false;
    }
    *slot = slot_of(uint32_t(index));
    if (*slot < 0) {
        *error = "register not simulated";
        return false;
    }
    *processor = p;
    return true;
}

// Reads the registers from the state file; false after one stderr line on a malformed file.
bool load_state() {
    std::FILE* file = std::fopen(sim.state_path, "r");
    if (!file) {
        std::fprintf(stderr, "quilm: cannot read the simulator state file %s\n", sim.state_path);
        return false;
    }
    // Loaded into a copy first, so that a bad line leaves no half-loaded registers.
    uint64_t(&loaded)[sim_max_processors][register_count] = loading;
    std::memcpy(loaded, sim.regs, sizeof loaded);
    char line[128];
    uint32_t number = 0;
    bool good = true;
    while (good && std::fgets(line, sizeof line, file)) {
        ++number;
        size_t length = std::strlen(line);
        bool complete = length > 0 && line[length - 1] == '\n';
        if (!complete && !std::feof(file)) {
            std::fprintf(stderr, "quilm: simulator state file %s line %u: line too long\n", sim.state_path,
                         number);
            good = false;
            break;
        }
        while (length > 0 &&
               (line[length - 1] == '\n' || line[length - 1] == '\r' || line[length - 1] == ' '))
            line[--length] = '\0';
        if (line[0] == '#' || length == 0) continue;
        uint32_t p;
        int slot;
        uint64_t value;
        const char* error;
        if (parse_state_line(line, &p, &slot, &value, &error)) {
            loaded[p][slot] = value;
            continue;
        }
        std::fprintf(stderr, "quilm: simulator state file %s line %u: %s: %s\n", sim.state_path, number,
                     error, line);
        good = false;
    }
    if (good && std::ferror(file)) {
        std::fprintf(stderr, "quilm: cannot read the simulator state file %s\n", sim.state_path);
        good = false;
    }
    std::fclose(file);
    if (good) std::memcpy(sim.regs, loaded, sizeof loaded);
    return good;
}

// Brings the state file up to date after a write; one stderr line the first time it fails.
void update_state_file() {
    if (sim.state_path[0] == '\0' || save_state() || sim.save_failure_reported) return;
    sim.save_failure_reported = true;
    std::fprintf(stderr, "quilm: cannot write the simulator state file %s\n", sim.state_path);
}

// Stores one write on processor p; false where the processor would refuse it.
bool write_register(uint32_t p, int slot, uint64_t value) {
    // The counters keep the pace they had up to this write.
    const uint64_t now = now_ns();
    advance_energy(now);
    advance_counters(p, now);
    if (sim_before_write != nullptr) sim_before_write(p, sim_registers[slot], value);
    if (slot == slot_hwcr) {
        if (p == sim.config.refuse_hwcr) return false;
        sim.regs[p][slot_hwcr] = value;
        return true;
    }
    if (slot == slot_control) {
        // Bits above the P-state number are reserved.
        if (value > 7 || p == sim.config.refuse_control) return false;
        sim.regs[p][slot_control] = value;
        uint32_t row = sim.config.boost + uint32_t(value);
        // A part that does not follow keeps its current P-state, as when a driver moves it back.
        if (row < sim.config.pstates && sim.config.follow != 0) set_current(p, row);
        return true;
    }
    if (slot >= slot_definition && slot < slot_definition + 8) {
        uint32_t row = uint32_t(slot - slot_definition);
        if (row >= sim.config.pstates || p == sim.config.refuse_definitions) return false;
        if (row != sim.config.reject) sim.regs[p][slot] = value;
        return true;
    }
    return false; // status registers are read-only
}

// Field of `width` bits at `shift` replaced by `value`.
uint32_t with_field(uint32_t word, uint32_t shift, uint32_t width, uint32_t value) {
    const uint32_t mask = ((1u << width) - 1) << shift;
    return (word & ~mask) | (value << shift & mask);
}

} // namespace

bool sim_parse(const char* text, SimConfig* config) {
    const char* end = text + std::strlen(text);
    const char* comma = static_cast<const char*>(std::memchr(text, ',', size_t(end - text)));
    const char* name_end = comma ? comma : end;
    const Profile* profile = nullptr;
    for (const Profile& candidate : profiles)
        if (std::strlen(candidate.name) == size_t(name_end - text) &&
            !std::memcmp(candidate.name, text, size_t(name_end - text)))
            profile = &candidate;
    if (!profile) {
        char known[256] = {};
        for (const Profile& candidate : profiles) {
            if (known[0] != '\0') std::strcat(known, ", ");
            std::strcat(known, candidate.name);
        }
        std::fprintf(stderr, "quilm: unknown simulated processor \"%.*s\" in QUILM_SIM (known: %s)\n",
                     int(name_end - text), text, known);
        return false;
    }
    SimConfig result;
    result.profile = profile->name;
    result.cpuid_eax = profile->cpuid_eax;
    result.processor_count = profile->processor_count;
    result.pstates = profile->pstates;
    result.boost = profile->boost;
    result.definitions = profile->definitions;
    result.zen = profile->zen;
    result.hwcr = profile->zen ? zen_hwcr : 0;
    result.pci = profile->pci;
    bool current_given = false;
    for (const char* item = name_end; item != end;) {
        ++item; // past the comma
        const char* next = static_cast<const char*>(std::memchr(item, ',', size_t(end - item)));
        const char* item_end = next ? next : end;
        if (!parse_option(item, size_t(item_end - item), &result, &current_given)) return false;
        item = item_end;
    }
    // A Zen part numbers its P-states from the fastest: boosted states are not among its rows.
    if (result.zen && result.boost != 0) {
        std::fprintf(
            stderr,
            "quilm: simulator option \"boost=%u\" in QUILM_SIM is out of range (0 on %s, which has no "
            "boosted rows)\n",
            result.boost, result.profile);
        return false;
    }
    // Without current=, the fastest P-state that is not boosted is current.
    if (!current_given) result.current = result.boost;
    *config = result;
    return true;
}

int sim_initialize(const char* text, const char* state_path) {
    std::lock_guard<std::mutex> guard(sim_lock);
    clear_state();
    if (!sim_parse(text, &sim.config) || sim.config.init_fails) return 0;
    for (uint32_t p = 0; p < sim.config.processor_count; ++p) {
        std::memcpy(&sim.regs[p][slot_definition], sim.config.definitions, 8 * sizeof(uint64_t));
        sim.regs[p][slot_hwcr] = sim.config.hwcr;
        if (p == sim.config.differ) sim.regs[p][slot_definition + 1] ^= 1;
        set_current(p, sim.config.current);
    }
    if (state_path && state_path[0] != '\0') {
        if (std::strlen(state_path) >= max_path) {
            std::fprintf(stderr, "quilm: simulator state file name too long\n");
            return 0;
        }
        std::strcpy(sim.state_path, state_path);
        std::error_code error;
        if (std::filesystem::exists(state_path, error)) {
            if (!load_state()) return 0;
        } else if (!save_state()) {
            std::fprintf(stderr, "quilm: cannot write the simulator state file %s\n", state_path);
            return 0;
        }
    }
    start_counters();
    sim.ready = true;
    return 1;
}

uint32_t sim_status() {
    std::lock_guard<std::mutex> guard(sim_lock);
    return sim.ready && !sim.config.driver_error ? 0 : 1;
}

int sim_cpuid(uint32_t index, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx) {
    std::lock_guard<std::mutex> guard(sim_lock);
    if (!sim.ready) return 0;
    *eax = *ebx = *ecx = *edx = 0;
    if (index == 0) {
        *eax = 6;          // highest standard leaf
        *ebx = 0x68747541; // "Auth"
        *edx = 0x69746E65; // "enti"
        *ecx = 0x444D4163; // "cAMD"
    } else if (index == 1) {
        *eax = sim.config.cpuid_eax;
        // Logical processors per package, in the eight bits the leaf has for them.
        const uint32_t count = sim.config.processor_count;
        *ebx = (count < 255 ? count : 255) << 16;
        *edx = 0x178BFBFF; // the usual feature bits, MSR among them
    } else if (index == 6) {
        *ecx = 1; // APERF and MPERF
    } else if (index == 0x80000000) {
        *eax = 0x80000007; // highest extended leaf
    } else if (index == 0x80000007) {
        *edx = 1u << 8 | (sim.config.zen ? 1u << 10 : 0); // invariant TSC; read-only APERF/MPERF on Zen
    }
    return 1;
}

int sim_rdmsr(uint32_t index, uint32_t* eax, uint32_t* edx) {
    return sim_rdmsr_on(0, index, eax, edx);
}

int sim_rdmsr_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx) {
    std::lock_guard<std::mutex> guard(sim_lock);
    if (!sim.ready || processor >= sim.config.processor_count) return 0;
    uint64_t value = 0;
    if (live_register(processor, index, &value)) {
        *eax = uint32_t(value);
        *edx = uint32_t(value >> 32);
        return 1;
    }
    const int slot = slot_of(index);
    if (!readable(slot)) return 0;
    *eax = uint32_t(sim.regs[processor][slot]);
    *edx = uint32_t(sim.regs[processor][slot] >> 32);
    return 1;
}

int sim_wrmsr(uint32_t index, uint32_t eax, uint32_t edx, uint64_t mask) {
    std::lock_guard<std::mutex> guard(sim_lock);
    int slot = slot_of(index);
    if (!sim.ready || slot < 0 || mask == 0) return 0;
    uint64_t value = uint64_t(edx) << 32 | eax;
    bool all = true, any = false;
    for (uint32_t p = 0; p < 64; ++p) {
        if (!(mask >> p & 1)) continue;
        bool taken = p < sim.config.processor_count && write_register(p, slot, value);
        all = all && taken;
        any = any || taken;
    }
    if (any) update_state_file();
    return all ? 1 : 0;
}

int sim_wrmsr_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx) {
    std::lock_guard<std::mutex> guard(sim_lock);
    const int slot = slot_of(index);
    if (!sim.ready || slot < 0 || processor >= sim.config.processor_count) return 0;
    if (!write_register(processor, slot, uint64_t(edx) << 32 | eax)) return 0;
    update_state_file();
    return 1;
}

int sim_read_pci(uint32_t pci_address, uint32_t reg, uint32_t* value) {
    std::lock_guard<std::mutex> guard(sim_lock);
    const SimConfig& c = sim.config;
    if (!sim.ready || !c.pci) return 0;
    constexpr uint32_t function3 = 0x18 << 3 | 3, function4 = 0x18 << 3 | 4; // bus 0, device 18h
    if (pci_address == function3 && reg == 0xA0) {
        *value = with_field(c.pci->power_control, 8, 1, c.pvi == sim_unset ? 0 : c.pvi);
        return 1;
    }
    if (pci_address == function3 && reg == 0xA4) {
        *value = (c.temperature * 8) << 21; // CurTmp in 1/8 degrees, the sensor's own scale
        return 1;
    }
    if (pci_address == function3 && reg == 0xD4) {
        *value = c.pll == sim_unset ? c.pci->clock_power : with_field(c.pci->clock_power, 0, 6, c.pll);
        return 1;
    }
    if (pci_address == function4 && reg == 0x15C) {
        // The boosted states the part has, as many as the field holds; boosting from the hardware
        // (BoostSrc 1) where there are any.
        const uint32_t most = (1u << c.pci->boost_bits) - 1;
        const uint32_t source = c.boost_source != sim_unset ? c.boost_source : c.boost > 0 ? 1 : 0;
        uint32_t word =
            with_field(c.pci->boost_control, 2, c.pci->boost_bits, c.boost < most ? c.boost : most);
        *value = with_field(word, 0, 2, source);
        return 1;
    }
    return 0; // registers the simulated part does not model
}

void sim_deinitialize() {
    std::lock_guard<std::mutex> guard(sim_lock);
    sim.ready = false;
}

uint32_t sim_processor_count() {
    std::lock_guard<std::mutex> guard(sim_lock);
    return sim.ready ? sim.config.processor_count : 0;
}

bool sim_register(uint32_t processor, uint32_t index, uint64_t* value) {
    std::lock_guard<std::mutex> guard(sim_lock);
    int slot = slot_of(index);
    if (slot < 0 || processor >= sim.config.processor_count) return false;
    *value = sim.regs[processor][slot];
    return true;
}

void sim_reset() {
    std::lock_guard<std::mutex> guard(sim_lock);
    clear_state();
    live.clock = nullptr;
}

bool sim_temperature(int32_t* millicelsius) {
    std::lock_guard<std::mutex> guard(sim_lock);
    if (!sim.ready) return false;
    *millicelsius = int32_t(sim.config.temperature) * 1000;
    return true;
}

void sim_set_clock(uint64_t (*now)()) {
    std::lock_guard<std::mutex> guard(sim_lock);
    // The counters keep what they have counted and go on from the new clock's present.
    if (sim.ready) {
        const uint64_t then = now_ns();
        advance_energy(then);
        for (uint32_t p = 0; p < sim.config.processor_count; ++p) advance_counters(p, then);
    }
    live.clock = now;
    const uint64_t start = now_ns();
    live.energy_ns = start;
    for (uint32_t p = 0; p < sim.config.processor_count; ++p) live.cores[p].ns = start;
}

} // namespace platform
