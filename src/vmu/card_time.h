// What the models of the card's own file manager share, whether the card
// sends with Copy (copy_card) or receives (copy_receive): their time in
// picoseconds, the base timer that ticks twice a second from the quartz
// whatever clock the card runs on, and what the PC's accesses cost in the
// card's time when the card counts time by them instead of by a clock.
#pragma once

#include <cstdint>
#include <string>

#include "clock/time_units.h"
#include "vmu/pc_pause.h"

/// The base timer's period: 2 Hz from the quartz.
inline constexpr std::int64_t CARD_TICK_PS = 500 * PS_PER_MS;

/// The first base-timer tick strictly after `ps`, the ticks falling at
/// `phase_ps` and every CARD_TICK_PS before and after it.
std::int64_t card_next_tick(std::int64_t phase_ps, std::int64_t ps);

/// A byte as the cards' notes write it: "0x0C".
std::string card_hex_byte(std::uint8_t value);

/// What the PC's accesses cost in the card's time, when the card counts time
/// by them instead of by a clock; a delay unit of the PC costs its floor.
struct copy_pc_time {
    std::int64_t access_ps = 2'000'000;  // one status read or data write
    pc_pause pause;                      // the PC's own pauses, if any
};

/// The card's time of a PC access that costs `cost_ps` from `now_ps`, later
/// by a pause of the PC that falls due before it.
std::int64_t pc_access_time(copy_pc_time& pc, std::int64_t now_ps, std::int64_t cost_ps);
