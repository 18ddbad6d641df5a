// The cable fuzz target's backend of the platform seam: the software card,
// with raw status values put in its place at chosen reads. The target links
// it with vmurx_core in place of a real backend, as every program links
// exactly one.
#pragma once

#include <cstdint>
#include <vector>

#include "vmu/vmu_sim.h"

namespace cable_fuzz {

struct glitch {
    std::uint64_t read;  // counted from 1
    std::uint8_t raw;
};

struct fuzz_port {
    vmu_sim card;
    std::vector<glitch> glitches;  // by read, each read at most once
    std::size_t next_glitch = 0;
};

/// The port behind the seam's functions; the target puts a new card here
/// before each run and reads what it recorded afterwards.
extern fuzz_port port;

}  // namespace cable_fuzz
