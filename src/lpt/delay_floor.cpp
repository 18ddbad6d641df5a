// The text of the variable that sets the delay floor.
#include "lpt/byte_exchange.h"

bool parse_delay_floor(const char* text, unsigned& floor_us) {
    // Digits only: strtoul would also take leading spaces, a sign and a
    // trailing unit.
    if (*text == '\0')
        return false;
    unsigned value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(*digit - '0');
        if (value > MAX_DELAY_FLOOR_US)
            return false;  // also keeps the next step from overflowing
    }
    floor_us = value;
    return true;
}
