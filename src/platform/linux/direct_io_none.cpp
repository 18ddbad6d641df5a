// Direct port I/O where the processor has none: every grant is refused, so
// only ppdev reaches the port. The register functions are never called after
// a refused grant; they do nothing.
#include <cerrno>

#include "platform/linux/direct_io.h"

int direct_io_grant(std::uint16_t) {
    return ENOSYS;
}

void direct_io_revoke(std::uint16_t) {}

std::uint8_t direct_io_read(std::uint16_t) {
    return 0xFF;
}

void direct_io_write(std::uint16_t, std::uint8_t) {}
