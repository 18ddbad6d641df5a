// A loaded PC's pauses, for a card that counts time by the PC's accesses:
// now and then an access comes late by a fixed length, as when the kernel
// runs something else for a while. The moments are random but seeded, so
// that one seed gives one run.
#pragma once

#include <cstdint>

#include "clock/time_units.h"

struct pc_pause {
    card_ps length_ps = 0;  // 0: no pauses
    card_ps every_ps = 0;   // the mean time between two pauses
    std::uint32_t seed = 1;

    // Progress and what happened.
    card_ps next_ps = -1;  // the moment of the next pause; -1 before the first access
    std::uint32_t rng = 0;
    std::uint64_t count = 0;
};

/// The time of an access the PC makes at `now_ps`: later by the pause's
/// length when a pause fell due before it.
card_ps pc_pause_apply(pc_pause& pause, card_ps now_ps);
