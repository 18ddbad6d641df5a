// The delay unit: a fixed number of iterations of an empty loop, with a
// floor kept by the monotonic clock. The loop alone follows the speed of the
// processor; the floor keeps every level the PC holds on D0 at least as long
// as the card may expect, on any processor. The clock is read without a
// system call (vDSO), so the spin adds nothing to a frame but time.
#include "platform/host/host_delay.h"

#include <cstdint>

#include "clock/monotonic_clock.h"
#include "platform/platform.h"

void host_delay_loop() {
    // The counter is volatile so that every iteration really loads and stores
    // it: without that, an optimiser removes the empty loop and the clock
    // pulses that the VMU must see on D0 shrink to nothing.
    volatile unsigned count = 0;
    while (count < DELAY_LOOPS) {
        count = count + 1;
    }
}

void host_delay_unit(unsigned floor_us) {
    const std::int64_t start = floor_us > 0 ? monotonic_ns() : 0;
    host_delay_loop();
    if (floor_us == 0)
        return;
    const std::int64_t end = start + std::int64_t{floor_us} * 1'000;
    while (monotonic_ns() < end) {
    }
}
