// Pinning the polling thread (see cpu_pin.h).
#include "platform/host/cpu_pin.h"

bool cpu_pin_current(cpu_pin& pin) {
    cpu_unpin(pin);
    if (sched_getaffinity(0, sizeof pin.previous, &pin.previous) != 0 ||
        CPU_COUNT(&pin.previous) < 2)
        return false;
    const int cpu = sched_getcpu();
    if (cpu < 0 || !CPU_ISSET(cpu, &pin.previous))
        return false;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(cpu, &only);
    pin.pinned = sched_setaffinity(0, sizeof only, &only) == 0;
    return pin.pinned;
}

void cpu_unpin(cpu_pin& pin) {
    if (!pin.pinned)
        return;
    sched_setaffinity(0, sizeof pin.previous, &pin.previous);
    pin.pinned = false;
}
