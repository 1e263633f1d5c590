// Processor register access with the six operations of the WinRing0 library.
// Backends: Linux /dev/cpu/N/msr (with the simulator when QUILM_SIM is set),
// WinRing0 loaded at run time on Windows.
#pragma once
#include <cstdint>

// Opens hardware access; non-zero when ready.
int InitializeOls();

// 0 when the library and driver are usable.
uint32_t GetDllStatus();

// Runs CPUID with the given leaf; non-zero on success.
int Cpuid(uint32_t index, uint32_t* eax, uint32_t* ebx, uint32_t* ecx, uint32_t* edx);

// Reads a model-specific register on the calling thread's processor; non-zero on success.
int Rdmsr(uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a model-specific register on every processor named in the mask; non-zero on success.
int WrmsrTx(uint32_t index, uint32_t eax, uint32_t edx, uintptr_t thread_affinity_mask);

// Releases hardware access.
void DeinitializeOls();

// Processor count of the simulated processor, or 0 on real hardware (then the system's count holds).
uint32_t hw_simulated_processor_count();

// How many processors the layer can name one by one with hw_rdmsr_on and hw_wrmsr_on
// (processors 0 .. count-1); 0 before InitializeOls or after DeinitializeOls.
uint32_t hw_processor_count();

// Reads a model-specific register on the named processor; non-zero on success.
int hw_rdmsr_on(uint32_t processor, uint32_t index, uint32_t* eax, uint32_t* edx);

// Writes a model-specific register on the named processor only; non-zero on success.
int hw_wrmsr_on(uint32_t processor, uint32_t index, uint32_t eax, uint32_t edx);

// Reads a 32-bit register of a PCI configuration space, as WinRing0 does:
// pci_address = bus << 8 | device << 3 | function, reg the byte offset (a multiple of 4).
// Non-zero on success; 0 where the function does not exist or cannot be read.
int ReadPciConfigDwordEx(uint32_t pci_address, uint32_t reg, uint32_t* value);
