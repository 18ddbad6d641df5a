// The link's unit of delay: a fixed number of iterations of an empty loop,
// with a floor kept by the monotonic clock. The loop alone follows the speed
// of the processor; the floor keeps every level the PC holds on D0 at least
// as long as the card may expect, on any processor. The clock is read
// without a system call (vDSO), so the spin adds nothing to a frame but time.
//
// The floor and the delay function are set through their setters, once at
// start-up; the bytes a sent frame waits for go through lpt_delay, never the
// polling loop, so the one indirect call costs a receive nothing.
#include <cstdint>

#include "clock/monotonic_clock.h"
#include "lpt/byte_exchange.h"

namespace {

unsigned floor_us_in_use = DEFAULT_DELAY_FLOOR_US;
delay_function delay_in_use = lpt_delay_unit;

}  // namespace

void set_delay_floor_us(unsigned floor_us) {
    floor_us_in_use = floor_us;
}

unsigned delay_floor_us() {
    return floor_us_in_use;
}

void set_delay_function(delay_function delay) {
    delay_in_use = delay != nullptr ? delay : lpt_delay_unit;
}

void lpt_delay() {
    delay_in_use();
}

void lpt_delay_loop() {
    // The counter is volatile so that every iteration really loads and stores
    // it: without that, an optimiser removes the empty loop and the clock
    // pulses that the VMU must see on D0 shrink to nothing.
    volatile unsigned count = 0;
    while (count < DELAY_LOOPS) {
        count = count + 1;
    }
}

void lpt_delay_unit() {
    const unsigned floor_us = floor_us_in_use;
    const std::int64_t start = floor_us > 0 ? monotonic_ns() : 0;
    lpt_delay_loop();
    if (floor_us == 0)
        return;
    const std::int64_t end = start + std::int64_t{floor_us} * 1'000;
    while (monotonic_ns() < end) {
    }
}
