// The platform seam over a GPIO header. port_acquire claims the lines that
// gpio_use named, in one request; the data register at the port's base is
// D0-D3 and the status register at base + 1 the three inputs, each reached
// with one ioctl. Masking and the sleep are the host's, as for a parallel
// port: interrupts cannot be masked from user space here either.
#include <cerrno>

#include "platform/gpio/gpio_lines.h"
#include "platform/gpio/gpio_platform.h"
#include "platform/host/host_delay.h"
#include "platform/host/host_sleep.h"
#include "platform/host/port_hold.h"
#include "platform/platform.h"

namespace {

struct gpio_port {
    bool configured = false;
    int refusal = ENODEV;  // port_acquire's errno until configured
    gpio_setup setup;
    gpio_claim_notice notice = nullptr;

    bool acquired = false;
    std::uint16_t base = 0;
    std::uint16_t status_address = 1;
    gpio_lines lines;
    port_hold hold;
};

gpio_port port;

}  // namespace

void gpio_use(const gpio_setup& setup) {
    port.setup = setup;
    port.configured = true;
}

void gpio_refuse(int error) {
    port.configured = false;
    port.refusal = error;
}

void gpio_on_claim(gpio_claim_notice notice) {
    port.notice = notice;
}

gpio_port_state gpio_port_state_now() {
    gpio_port_state state;
    if (!port.acquired)
        return state;
    state.acquired = true;
    state.setup = port.setup;
    state.levels_read = gpio_read_levels(port.lines, state.levels);
    state.priority = priority_describe(port.hold.priority);
    state.memory_locked = port.hold.memory_locked;
    return state;
}

bool port_acquire(std::uint16_t base) {
    if (port.acquired)
        port_release();
    if (!port.configured) {
        errno = port.refusal;
        return false;
    }
    const int error = gpio_claim(port.setup, port.lines);
    if (error != 0) {
        errno = error;
        return false;
    }
    port.acquired = true;
    port.base = base;
    port.status_address = static_cast<std::uint16_t>(base + 1);
    port_hold_begin(port.hold);
    if (port.notice != nullptr)
        port.notice(port.setup);
    return true;
}

void port_release() {
    port_hold_end(port.hold);
    if (!port.acquired)
        return;
    gpio_release(port.lines);
    port.acquired = false;
}

std::uint8_t port_read(std::uint16_t address) {
    if (address == port.status_address)
        return gpio_read_status(port.lines);
    // The data register cannot be read back through the outputs' request;
    // the core never asks.
    return port.lines.last_status;
}

void port_write(std::uint16_t address, std::uint8_t value) {
    if (address == port.base && port.acquired)
        gpio_write_data(port.lines, value);
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
