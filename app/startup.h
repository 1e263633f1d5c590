// Start-up: the command line, the settings path, processor identification and
// the start-up sequence that ends in the message loop.
#pragma once
#include <cstdint>

namespace app {

inline constexpr uint32_t settings_path_size = 4096; // room for any path the system hands out
inline constexpr uint32_t arg_buffer_size = 128;

struct StartupState {
    char settings_path[settings_path_size]; // the executable's directory followed by "quilm.cfg"
    const char* cmdline_cursor;             // read position of the command-line reader
    char arg_buffer[arg_buffer_size];       // the first command-line word, at most 127 bytes
    uint32_t cpuid[4];                      // CPUID leaf 1 eax, ebx, ecx, edx
    uint8_t family;                         // eax bits 11..8
    uint8_t model;                          // eax bits 7..4
    uint8_t stepping;                       // eax bits 3..0
    uint8_t ex_family;                      // eax bits 27..20 plus family, modulo 256
    uint8_t ex_model;                       // eax bits 19..16 times 16 plus model
    uint32_t processor_count;               // processors the program writes to
    void (*exit_process)(
        uint32_t code); // tests end the process their own way (by throwing); null: the system's exit
    int argc;           // the program's arguments, for the words that need no window
    char** argv;
};
extern StartupState startup;

// The first blank (or the terminating zero) of the command line: the end of the program name.
const char* skip_program_name();

// Copies the next word at cmdline_cursor into buffer (128 bytes) and returns its length, 0..127.
uint32_t next_token(char* buffer);

// An installed quilm keeps its settings where the system's configuration lives; a program run
// from its build or unpacked folder keeps them beside the executable.
#ifdef QUILM_SETTINGS_FILE
inline constexpr const char* installed_settings_file = QUILM_SETTINGS_FILE;
#else
inline constexpr const char* installed_settings_file = nullptr;
#endif
// The directory an installed program runs from; the same build run from elsewhere is not installed.
#ifdef QUILM_INSTALLED_BINDIR
inline constexpr const char* installed_bindir = QUILM_INSTALLED_BINDIR;
#else
inline constexpr const char* installed_bindir = nullptr;
#endif

// Builds settings_path: the fixed path of an installed program when given (and, with only_from,
// when the executable lies in that directory), else the executable's directory followed by
// "quilm.cfg".
void build_settings_path(const char* fixed = nullptr, const char* only_from = nullptr);

// Sets family, model, stepping, ex_family and ex_model from CPUID leaf 1 eax.
void identify_processor(uint32_t eax);

// Ends the process with the exit code (0 unless a command-line word says otherwise) through exit_process.
[[noreturn]] void end_process(uint32_t code = 0);

// Identifies the processor and chooses its register layout; with hardware access open, also reads
// what the northbridge says and the P-state table, and settles an uncertain layout by it.
void identify_processor_and_layout(bool hardware_open);

// Opens hardware access, identifies the processor, chooses its register layout and reads and
// decodes the P-state table. nullptr when ready, else the failure's text; after "couldn't read
// any p-states" hardware access is still open.
const char* open_processor();

inline constexpr const char* no_pstates_text = "couldn't read any p-states";

// Runs the whole program: start-up, the message loop, shutdown; ends the process with exit code 0.
[[noreturn]] void run_program();

// Back to the start state.
void reset_startup();

} // namespace app
