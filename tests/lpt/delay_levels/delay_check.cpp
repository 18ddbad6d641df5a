// Times lpt_delay as built at one optimisation level and fails when the
// empty loop has been optimised away: DELAY_LOOPS iterations of a volatile
// increment cannot take less than 0.05 ns each on any machine. The clock
// floor is off, so that only the loop is timed.
#include <chrono>
#include <cstdio>

#include "lpt/byte_exchange.h"
#include "platform/host/host_delay.h"

// The seam's delay unit as on a real machine, built at the same level.
void port_delay_unit(unsigned floor_us) {
    host_delay_unit(floor_us);
}

int main() {
    set_delay_floor_us(0);
    constexpr int calls = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        lpt_delay();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    const double floor = calls * DELAY_LOOPS * 0.05;
    std::printf("%d delay units: %.0f ns (at least %.0f ns required)\n", calls, spent.count(),
                floor);
    return spent.count() >= floor ? 0 : 1;
}
