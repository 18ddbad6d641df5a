// The hold of the port on a real machine (see port_hold.h).
#include "platform/host/port_hold.h"

#include <sys/mman.h>

void port_hold_begin(port_hold& hold, port_hold_steps steps) {
    if (steps.raise)
        priority_prepare(hold.priority);
    hold.memory_locked = lock_memory();
    if (steps.pin)
        cpu_pin_current(hold.pin);
}

void port_hold_end(port_hold& hold) {
    // Back to normal first: releasing is no longer timing-critical.
    priority_restore(hold.priority);
    cpu_unpin(hold.pin);
    if (hold.memory_locked)
        munlockall();
    hold.memory_locked = false;
}
