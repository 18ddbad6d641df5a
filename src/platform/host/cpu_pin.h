// Keeping the polling thread on one processor for the whole transfer. A
// thread that spins through every frame gains nothing from moving between
// processors and loses its cache, and the move itself is a pause in which a
// level of the card's clock can pass unseen. Pinning is decided once, when
// the port is acquired, and undone when it is released.
#pragma once

#include <sched.h>

struct cpu_pin {
    bool pinned = false;
    cpu_set_t previous;  // the thread's affinity before pinning
};

/// Pins the calling thread to the processor it runs on now. Returns whether
/// it did: a system without sched_getcpu, or with a single permitted
/// processor, leaves the thread as it is.
bool cpu_pin_current(cpu_pin& pin);

/// Gives the thread back the affinity it had before cpu_pin_current.
void cpu_unpin(cpu_pin& pin);
