// The link's unit of delay, with its floor: the platform waits it (on a real
// machine an empty loop and a spin on the clock up to the floor), or, under a
// software card that counts time, tells the card.
//
// The floor and the delay function are set through their setters, once at
// start-up; the bytes a sent frame waits for go through lpt_delay, never the
// polling loop, so the one indirect call costs a receive nothing.
#include "lpt/byte_exchange.h"
#include "platform/platform.h"

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

void lpt_delay_unit() {
    port_delay_unit(floor_us_in_use);
}
