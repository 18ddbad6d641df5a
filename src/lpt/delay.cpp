// The link's unit of delay: a fixed number of iterations of an empty loop.
// It consults no clock, so its length follows the speed of the processor.
#include "lpt/byte_exchange.h"

void lpt_delay() {
    // The counter is volatile so that every iteration really loads and stores
    // it: without that, an optimiser removes the empty loop and the clock
    // pulses that the VMU must see on D0 shrink to nothing.
    volatile unsigned count = 0;
    while (count < DELAY_LOOPS) {
        count = count + 1;
    }
}
