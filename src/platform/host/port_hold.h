// What a backend on a real machine does around a hold of the port, written
// once: from port_acquire to port_release the polling thread has its raised
// scheduling prepared (mask_interrupts then switches to it), the process's
// memory locked, and the thread pinned to the processor it runs on. Every
// step is silent on failure: without the permission the process runs as it
// was, which is never worse than before.
#pragma once

#include "platform/host/cpu_pin.h"
#include "platform/host/process_priority.h"

/// What a hold obtained, for port_hold_end to undo and a report to show.
struct port_hold {
    priority_plan priority;  // mask_interrupts raises and unmask lowers through it
    cpu_pin pin;
    bool memory_locked = false;
};

/// Which of the steps a hold takes besides locking memory.
struct port_hold_steps {
    bool raise = true;  // prepare the raised scheduling
    bool pin = true;    // pin the polling thread to its processor
};

/// Begins a hold: prepares the raise, locks memory and pins, as `steps` say.
void port_hold_begin(port_hold& hold, port_hold_steps steps = {});

/// Ends a hold: back to the normal scheduling, the previous affinity, and
/// memory unlocked if it was locked. Harmless on a hold never begun.
void port_hold_end(port_hold& hold);
