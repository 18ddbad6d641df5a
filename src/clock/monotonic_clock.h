// The monotonic clock in nanoseconds, for the code that keeps or measures
// real time: the delay floor, the probe's gaps and the real-time card. Not a
// part of the seam: one inline header that every room may include.
#pragma once

#include <time.h>

#include <cstdint>

/// CLOCK_MONOTONIC, read through the vDSO on Linux: no system call, a few
/// dozen nanoseconds, and it never jumps.
inline std::int64_t monotonic_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}
