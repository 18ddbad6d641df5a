// Linked into every suite that runs the link in-process: the delay unit is
// the bare loop there, as in vmurx-emu, since the counting card needs no real
// time. The tests of the floor set it themselves.
#include "lpt/byte_exchange.h"

namespace {

// Runs before main; the floor is constant-initialised, so it is set by then.
const bool floor_off = [] {
    set_delay_floor_us(0);
    return true;
}();

}  // namespace
