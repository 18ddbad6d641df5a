// The units the programs count time in, each defined once: the monotonic
// clock reads nanoseconds, the software cards keep their time in
// picoseconds, the options give microseconds and milliseconds.
#pragma once

#include <cstdint>

inline constexpr std::int64_t NS_PER_US = 1'000;
inline constexpr std::int64_t PS_PER_NS = 1'000;
inline constexpr std::int64_t PS_PER_US = 1'000 * PS_PER_NS;
inline constexpr std::int64_t PS_PER_MS = 1'000 * PS_PER_US;
