// A backend of the platform seam that only records when each data write
// happened, by the monotonic clock, so that a test can measure the levels
// the link holds on D0. Reads give an idle card (Ack high, not ready).
#include "recording_port.h"

#include "clock/monotonic_clock.h"
#include "platform/host/host_delay.h"
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
    recorded_writes().push_back({value, monotonic_ns()});
}

void mask_interrupts() {}

void unmask_interrupts() {}

void sleep_ms(unsigned) {}

void port_delay_unit(unsigned floor_us) {
    host_delay_unit(floor_us);
}
