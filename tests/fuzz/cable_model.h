// An independent model of the PC's side of the protocol, run over the card's
// script: what a correct PC receives. The cable fuzz target holds the tool's
// result against it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vmu/vmu_sim.h"

namespace cable_fuzz {

struct model_result {
    bool complete = false;
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> name;  // the name block's 12 bytes
};

/// What a correct PC receives from `card` within the tool's ready budget.
model_result model_transfer(const vmu_sim& card);

/// The file name a name block gives: it ends at a NUL or at a space after the
/// first byte; '/' and control bytes become '_', and so does a leading '.'.
std::string name_from_block(const std::vector<std::uint8_t>& block);

}  // namespace cable_fuzz
