// The card models' shared time: the base timer's ticks, a byte in notes, and
// the cost of the PC's accesses.
#include "vmu/card_time.h"

#include <cstdio>

card_ps card_next_tick(card_ps phase_ps, card_ps ps) {
    const card_ps phase = phase_ps % CARD_TICK_PS;
    if (ps < phase)
        return phase;
    return phase + ((ps - phase) / CARD_TICK_PS + 1) * CARD_TICK_PS;
}

std::string card_hex_byte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

card_ps pc_access_time(copy_pc_time& pc, card_ps now_ps, card_ps cost_ps) {
    return pc_pause_apply(pc.pause, now_ps + cost_ps);
}
