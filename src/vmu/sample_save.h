// The save the software VMU sends when it is given no file.
#pragma once

#include <cstdint>
#include <vector>

/// A genuine two-block data save: a valid header, one drawn 32x32 icon with
/// its palette, a payload and a correct CRC.
std::vector<std::uint8_t> vmu_sample_save();
