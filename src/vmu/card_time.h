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
inline constexpr card_ps CARD_TICK_PS = 500 * PS_PER_MS;

/// The first base-timer tick strictly after `ps`, the ticks falling at
/// `phase_ps` and every CARD_TICK_PS before and after it.
card_ps card_next_tick(card_ps phase_ps, card_ps ps);

/// A byte as the cards' notes write it: "0x0C".
std::string card_hex_byte(std::uint8_t value);

/// What the PC's accesses cost in the card's time, when the card counts time
/// by them instead of by a clock; a delay unit of the PC costs its floor.
struct copy_pc_time {
    card_ps access_ps = 2'000'000;  // one status read or data write
    pc_pause pause;                 // the PC's own pauses, if any
};

/// The card's time of a PC access that costs `cost_ps` from `now_ps`, later
/// by a pause of the PC that falls due before it.
card_ps pc_access_time(copy_pc_time& pc, card_ps now_ps, card_ps cost_ps);
