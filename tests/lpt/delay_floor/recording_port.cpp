// A backend of the platform seam that only records when each data write
// happened, by the monotonic clock, so that a test can measure the levels
// the link holds on D0. Reads give an idle card (Ack high, not ready).
#include "recording_port.h"

#include <time.h>

#include "platform/platform.h"

std::vector<timed_write>& recorded_writes() {
    static std::vector<timed_write> writes;
    return writes;
}

bool port_acquire(std::uint16_t) {
    return true;
}

void port_release() {}

std::uint8_t port_read(std::uint16_t) {
    return 0xDF;
}

void port_write(std::uint16_t, std::uint8_t value) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    recorded_writes().push_back({value, std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec});
}

void mask_interrupts() {}

void unmask_interrupts() {}

void sleep_ms(unsigned) {}
