// PCI configuration space reads through Linux sysfs
// (/sys/bus/pci/devices/0000:BB:DD.F/config). The directory the devices are looked
// up in is part of the state, so the tests can put files of their own there.
#pragma once
#include <cstdint>

namespace platform {

struct PciState {
    const char* devices = "/sys/bus/pci/devices"; // one directory per function, named 0000:BB:DD.F
};

extern PciState pci;

// Reads a 32-bit configuration register (pci_address = bus << 8 | device << 3 | function, reg a
// multiple of 4); non-zero on success. A missing function, a register beyond what the file lets
// this user read (sysfs gives others only the first 64 bytes) or an unaligned reg fails.
int pci_read_config(uint32_t pci_address, uint32_t reg, uint32_t* value);

} // namespace platform
