// The link's unit of delay: a fixed number of iterations of an empty loop,
// with a floor kept by the monotonic clock. The loop alone follows the speed
// of the processor; the floor keeps every level the PC holds on D0 at least
// as long as the card may expect, on any processor.
//
// lpt_delay stands alone in this file, so that a build that must not wait
// (the fuzz target) can link its own in place of it.
#include <time.h>

#include <cstdint>

#include "lpt/byte_exchange.h"

namespace {

// CLOCK_MONOTONIC is read through the vDSO on Linux: no system call, so the
// spin adds nothing to a frame but time.
std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

void lpt_delay() {
    const unsigned floor_us = delay_floor_us;
    const std::int64_t start = floor_us > 0 ? monotonic_ns() : 0;

    // The counter is volatile so that every iteration really loads and stores
    // it: without that, an optimiser removes the empty loop and the clock
    // pulses that the VMU must see on D0 shrink to nothing.
    volatile unsigned count = 0;
    while (count < DELAY_LOOPS) {
        count = count + 1;
    }

    if (floor_us == 0)
        return;
    const std::int64_t end = start + std::int64_t{floor_us} * 1'000;
    while (monotonic_ns() < end) {
    }
}
