// The platform seam over the software VMU. Reads of the status register and
// writes of the data register go to the card; any other access is recorded
// as stray. Masking is a flag the card records with every access; the sleep
// only counts, since the card's time is counted in status reads.
#include <cerrno>

#include "emu_platform.h"
#include "platform.h"

vmu_sim& emu_vmu() {
    static vmu_sim vmu;
    return vmu;
}

bool port_acquire(std::uint16_t base) {
    vmu_sim& vmu = emu_vmu();
    if (vmu.refuse_errno != 0) {
        errno = vmu.refuse_errno;
        return false;
    }
    vmu.base = base;
    vmu.acquired = true;
    return true;
}

void port_release() {
    emu_vmu().released = true;
}

std::uint8_t port_read(std::uint16_t address) {
    vmu_sim& vmu = emu_vmu();
    if (address != static_cast<std::uint16_t>(vmu.base + 1)) {
        vmu.stray.push_back({address, false});
        return 0xFF;
    }
    return vmu_sim_status_read(vmu);
}

void port_write(std::uint16_t address, std::uint8_t value) {
    vmu_sim& vmu = emu_vmu();
    if (address != vmu.base) {
        vmu.stray.push_back({address, true});
        return;
    }
    vmu_sim_data_write(vmu, value);
}

void mask_interrupts() {
    emu_vmu().masked = true;
}

void unmask_interrupts() {
    emu_vmu().masked = false;
}

void sleep_ms(unsigned milliseconds) {
    emu_vmu().slept_ms += milliseconds;
}
