// The card models' shared time: the base timer's ticks, a byte in notes, and
// the cost of the PC's accesses.
#include "vmu/card_time.h"

#include <cstdio>

std::int64_t card_next_tick(std::int64_t phase_ps, std::int64_t ps) {
    const std::int64_t phase = phase_ps % CARD_TICK_PS;
    if (ps < phase)
        return phase;
    return phase + ((ps - phase) / CARD_TICK_PS + 1) * CARD_TICK_PS;
}

std::string card_hex_byte(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::int64_t pc_access_time(copy_pc_time& pc, std::int64_t now_ps, std::int64_t cost_ps) {
    return pc_pause_apply(pc.pause, now_ps + cost_ps);
}
