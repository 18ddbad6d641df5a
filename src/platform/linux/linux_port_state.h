// What the Linux backend knows about the port it holds and nothing else
// does: which way it reaches the registers, and how far the process may raise
// itself while it polls. For programs built on this backend that report on
// the port (vmurx-probe); the tool itself never needs it.
#pragma once

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
