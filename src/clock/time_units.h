// The units the programs count time in, each defined once: the monotonic
// clock reads nanoseconds, the software cards keep their time in
// picoseconds (`card_ps`), the options give microseconds and milliseconds.
#pragma once

#include <cstdint>

/// The software cards' time and its durations, in picoseconds: a moment of
/// a card's time, or how long something lasts in it.
using card_ps = std::int64_t;

inline constexpr std::int64_t NS_PER_US = 1'000;
inline constexpr card_ps PS_PER_NS = 1'000;
inline constexpr card_ps PS_PER_US = 1'000 * PS_PER_NS;
inline constexpr card_ps PS_PER_MS = 1'000 * PS_PER_US;
