// What the Linux backend knows about the port it holds and nothing else
// does: which way it reaches the registers, and how far the process may raise
// itself while it polls; and, when it could not have the port, what it tried
// and how each way failed. For programs built on this backend that report on
// the port (vmurx-probe); the tool itself never needs it.
#pragma once

#include <cstdint>

#include "platform/host/process_priority.h"

struct linux_port_state {
    bool acquired = false;
    int ppdev_number = -1;  // N of /dev/parportN when held through ppdev, else -1
    bool direct_io = false;
    // mask_interrupts switches to `raised`, a higher setting than the one the
    // process started with.
    bool priority_raised = false;
    // Nothing to raise: the process already runs real-time or at nice -20.
    bool priority_already_high = false;
    sched_setting raised;
    bool memory_locked = false;
};

/// The state of the port since the last port_acquire; all defaults when no
/// port is held.
linux_port_state linux_port_state_now();

/// What the last port_acquire tried, each way with the errno it met (0: not
/// met). A refusal reports only the most telling of them; this keeps all.
struct linux_port_attempt {
    std::uint16_t base = 0;
    int lookup_error = 0;   // the kernel's list: ENOENT no parport driver, ENODEV no port at base
    int ppdev_number = -1;  // N of the ppdev node tried, -1 when none has this base
    int ppdev_error = 0;    // why /dev/parportN could not be claimed: EACCES, ENOENT, EBUSY, ...
    bool base_plausible = true;  // false: below 0x100 or 0xFFFF, so no direct access was tried
    int direct_error = 0;        // why direct I/O was refused: EPERM, ENOSYS, ...
};

/// The attempt of the last port_acquire.
linux_port_attempt linux_port_attempt_last();
