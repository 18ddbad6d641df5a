// The platform seam over a GPIO header: what a program on this backend tells
// it before the tool runs (the chip and lines found), and what it may learn
// afterwards for a report (vmurx-probe-gpio). The core's port address is only
// a name here: its data register is D0-D3, its status register the three
// inputs.
#pragma once

#include <array>

#include "platform/gpio/gpio_chip.h"
#include "platform/host/process_priority.h"

/// The lines port_acquire claims. Until this is called it refuses (ENODEV).
void gpio_use(const gpio_setup& setup);

/// Makes port_acquire fail with `error`: the system refused a chip while it
/// was being looked for, and the tool reports that as for any refused port.
void gpio_refuse(int error);

/// Called once the lines are claimed, e.g. to say so on standard error.
using gpio_claim_notice = void (*)(const gpio_setup& setup);
void gpio_on_claim(gpio_claim_notice notice);

/// What the backend holds since the last port_acquire.
struct gpio_port_state {
    bool acquired = false;
    gpio_setup setup;
    std::array<bool, GPIO_ROLES> levels{};  // each line's level when asked
    bool levels_read = false;
    priority_report priority;
    bool memory_locked = false;
};

/// The state now, with the lines' current levels read once.
gpio_port_state gpio_port_state_now();
