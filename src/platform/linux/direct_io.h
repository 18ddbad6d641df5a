// Direct port I/O: the processor's own in/out instructions on the data and
// status registers, after the kernel has granted the process those two
// addresses. Only x86 has port I/O; elsewhere every grant is refused with
// ENOSYS. Each build links exactly one implementation.
#pragma once

#include <cstdint>

/// Asks for the data register (base) and the status register (base + 1).
/// Returns 0, or the errno of the refusal: EPERM without CAP_SYS_RAWIO or
/// under kernel lockdown, ENOSYS when there is no port I/O.
int direct_io_grant(std::uint16_t base);

/// Gives the two addresses back.
void direct_io_revoke(std::uint16_t base);

/// One in instruction. Only addresses granted may be read.
std::uint8_t direct_io_read(std::uint16_t address);

/// One out instruction. Only addresses granted may be written.
void direct_io_write(std::uint16_t address, std::uint8_t value);
