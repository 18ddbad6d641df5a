// The recording backend of the delay floor's test.
#pragma once

#include <cstdint>
#include <vector>

struct timed_write {
    std::uint8_t value;
    std::int64_t at_ns;  // CLOCK_MONOTONIC when the write was made
};

/// Every data write since the program started (or the list was cleared).
std::vector<timed_write>& recorded_writes();
