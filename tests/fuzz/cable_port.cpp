// The seam's seven functions over the fuzzed card (see cable_port.h).
#include "cable_port.h"

#include <cerrno>

#include "platform/platform.h"

cable_fuzz::fuzz_port cable_fuzz::port;

using cable_fuzz::port;

bool port_acquire(std::uint16_t base) {
    if (port.card.refuse_errno != 0) {
        errno = port.card.refuse_errno;
        return false;
    }
    port.card.base = base;
    port.card.acquired = true;
    return true;
}

void port_release() {
    port.card.released = true;
}

std::uint8_t port_read(std::uint16_t address) {
    if (address != static_cast<std::uint16_t>(port.card.base + 1)) {
        port.card.stray.push_back({address, false});
        return 0xFF;
    }
    std::uint8_t raw = vmu_sim_status_read(port.card);
    if (port.next_glitch < port.glitches.size() &&
        port.glitches[port.next_glitch].read == port.card.status_reads) {
        raw = port.glitches[port.next_glitch++].raw;
    }
    return raw;
}

void port_write(std::uint16_t address, std::uint8_t value) {
    if (address != port.card.base) {
        port.card.stray.push_back({address, true});
        return;
    }
    vmu_sim_data_write(port.card, value);
}

void mask_interrupts() {
    port.card.masked = true;
}

void unmask_interrupts() {
    port.card.masked = false;
}

void sleep_ms(unsigned milliseconds) {
    port.card.slept_ms += milliseconds;
}

// The fuzz build's delay function returns at once; a unit reaches no card.
void port_delay_unit(unsigned) {}
