// PCI configuration reads: one 4-byte pread of the function's sysfs config file at the
// register's offset. The file is opened for each read; these reads are rare.

#include "platform/pci_linux.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

PciState pci;

int pci_read_config(uint32_t pci_address, uint32_t reg, uint32_t* value) {
    // 256 buses of 32 devices of 8 functions, each with 4 KiB of configuration space.
    if (pci_address > 0xFFFF || reg % 4 != 0 || reg > 0xFFC) return 0;
    char path[512];
    const int length = std::snprintf(path, sizeof path, "%s/0000:%02x:%02x.%u/config", pci.devices,
                                     pci_address >> 8, pci_address >> 3 & 0x1F, pci_address & 7);
    if (length < 0 || size_t(length) >= sizeof path) return 0;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    unsigned char bytes[4];
    const ssize_t n = ::pread(fd, bytes, sizeof bytes, off_t(reg));
    ::close(fd);
    // Fewer bytes: beyond the end of the space, or beyond the part sysfs shows to a user who is not root.
    if (n != ssize_t(sizeof bytes)) return 0;
    // Configuration space is little-endian.
    *value =
        uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    return 1;
}

} // namespace platform
