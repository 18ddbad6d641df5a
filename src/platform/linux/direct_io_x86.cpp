// Direct port I/O on x86: ioperm for the two registers the link uses, then
// inb/outb. Since Linux 2.6.8 ioperm reaches every address up to 0xFFFF, so
// add-in cards at high bases work too.
#include <sys/io.h>

#include <cerrno>

#include "platform/linux/direct_io.h"

int direct_io_grant(std::uint16_t base) {
    if (base > 0xFFFE)
        return EINVAL;
    return ioperm(base, 2, 1) == 0 ? 0 : errno;
}

void direct_io_revoke(std::uint16_t base) {
    ioperm(base, 2, 0);
}

std::uint8_t direct_io_read(std::uint16_t address) {
    return inb(address);
}

void direct_io_write(std::uint16_t address, std::uint8_t value) {
    outb(value, address);
}
