// The PC's seeded pauses: their moments drawn evenly between none and twice
// the mean distance, so that they fall at every phase of the card's levels.
#include "vmu/pc_pause.h"

namespace {

std::uint32_t next_random(std::uint32_t& state) {
    // xorshift32: the same seed gives the same pauses on every run.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

card_ps next_distance(pc_pause& pause) {
    const auto span = static_cast<std::uint64_t>(2 * pause.every_ps);
    return static_cast<card_ps>(
        (static_cast<std::uint64_t>(next_random(pause.rng)) << 32 | next_random(pause.rng)) %
        (span + 1));
}

}  // namespace

card_ps pc_pause_apply(pc_pause& pause, card_ps now_ps) {
    if (pause.length_ps <= 0 || pause.every_ps <= 0)
        return now_ps;
    if (pause.next_ps < 0) {
        pause.rng = pause.seed != 0 ? pause.seed : 1;
        pause.next_ps = now_ps + next_distance(pause);
    }
    while (now_ps >= pause.next_ps) {
        now_ps += pause.length_ps;
        ++pause.count;
        pause.next_ps += pause.length_ps + next_distance(pause);
    }
    return now_ps;
}
