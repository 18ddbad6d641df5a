// The platform seam on real hardware under Linux. port_acquire finds the
// port's ppdev node through the kernel's list of parallel ports and claims it;
// where ppdev cannot have the port, it falls back to direct port I/O (x86
// only). Masking raises the scheduling of the polling thread, since a process
// cannot mask interrupts, and the sleep is a plain nanosleep.
#include <cerrno>

#include "platform/host/host_delay.h"
#include "platform/host/host_sleep.h"
#include "platform/host/port_hold.h"
#include "platform/linux/direct_io.h"
#include "platform/linux/linux_port_state.h"
#include "platform/linux/parport_discovery.h"
#include "platform/linux/ppdev_port.h"
#include "platform/platform.h"

namespace {

enum class mechanism { none, ppdev, direct_io };

struct linux_port {
    mechanism via = mechanism::none;
    std::uint16_t base = 0;
    int ppdev_number = -1;
    ppdev_port ppdev;
    port_hold hold;
};

linux_port port;
linux_port_attempt last_attempt;

// A reason for refusal and how much it tells the user: a node they may not
// open (join group lp) beats a refused ioperm (run as root), which beats a
// missing node or driver, which beats a kernel without port I/O or an address
// that cannot be a port, which beats finding no ppdev port at all.
struct refusal {
    int error = ENODEV;
    int weight = -1;
};

void consider(refusal& best, int error, int weight) {
    if (weight > best.weight)
        best = {error, weight};
}

int ppdev_weight(int error) {
    return error == EACCES || error == EPERM ? 4 : 2;
}

int direct_io_weight(int error) {
    return error == EPERM || error == EACCES ? 3 : 1;
}

// No parallel port sits below 0x100, where the motherboard's own devices
// are, and a port's two registers cannot start at the last address.
bool may_be_parallel_port(std::uint16_t base) {
    return base >= 0x100 && base != 0xFFFF;
}

void prepare_for_transfer(mechanism via, std::uint16_t base) {
    port.via = via;
    port.base = base;
    port_hold_begin(port.hold);
}

}  // namespace

bool port_acquire(std::uint16_t base) {
    if (port.via != mechanism::none)
        port_release();

    refusal best;
    linux_port_attempt& attempt = last_attempt;
    attempt = {.base = base};
    const parport_lookup found = find_parport(base);
    attempt.lookup_error = found.error;
    if (found.number >= 0) {
        attempt.ppdev_number = found.number;
        const int error = ppdev_claim(found.number, base, port.ppdev);
        attempt.ppdev_error = error;
        if (error == 0) {
            prepare_for_transfer(mechanism::ppdev, base);
            port.ppdev_number = found.number;
            return true;
        }
        if (error == EBUSY) {
            // The port is there and someone else holds it: driving it behind
            // their back would disturb both transfers.
            errno = EBUSY;
            return false;
        }
        consider(best, error, ppdev_weight(error));
    } else {
        consider(best, found.error, 0);
    }

    attempt.base_plausible = may_be_parallel_port(base);
    if (!attempt.base_plausible) {
        // Direct access writes wherever the base points: a typo such as
        // "-d 0378" (octal, 0x1F) would land among the motherboard's own
        // devices. Refused before any access, unless ppdev said more.
        consider(best, EINVAL, 1);
        errno = best.error;
        return false;
    }
    const int error = direct_io_grant(base);
    attempt.direct_error = error;
    if (error == 0) {
        prepare_for_transfer(mechanism::direct_io, base);
        return true;
    }
    consider(best, error, direct_io_weight(error));
    errno = best.error;
    return false;
}

void port_release() {
    // Back to normal first: releasing is no longer timing-critical.
    port_hold_end(port.hold);
    switch (port.via) {
        case mechanism::ppdev:
            ppdev_release(port.ppdev);
            break;
        case mechanism::direct_io:
            direct_io_revoke(port.base);
            break;
        case mechanism::none:
            return;
    }
    port = linux_port{};
}

std::uint8_t port_read(std::uint16_t address) {
    switch (port.via) {
        case mechanism::ppdev:
            return ppdev_read(port.ppdev, address);
        case mechanism::direct_io:
            return direct_io_read(address);
        case mechanism::none:
            break;
    }
    return 0xFF;
}

void port_write(std::uint16_t address, std::uint8_t value) {
    switch (port.via) {
        case mechanism::ppdev:
            ppdev_write(port.ppdev, address, value);
            break;
        case mechanism::direct_io:
            direct_io_write(address, value);
            break;
        case mechanism::none:
            break;
    }
}

void mask_interrupts() {
    priority_raise(port.hold.priority);
}

void unmask_interrupts() {
    priority_lower(port.hold.priority);
}

void sleep_ms(unsigned milliseconds) {
    host_sleep_ms(milliseconds);
}

void port_delay_unit(unsigned floor_us) {
    host_delay_unit(floor_us);
}

linux_port_state linux_port_state_now() {
    linux_port_state state;
    if (port.via == mechanism::none)
        return state;
    state.acquired = true;
    state.ppdev_number = port.via == mechanism::ppdev ? port.ppdev_number : -1;
    state.direct_io = port.via == mechanism::direct_io;
    const priority_report priority = priority_describe(port.hold.priority);
    state.priority_raised = priority.raised;
    state.priority_already_high = priority.already_high;
    state.raised = priority.setting;
    state.memory_locked = port.hold.memory_locked;
    return state;
}

linux_port_attempt linux_port_attempt_last() {
    return last_attempt;
}
