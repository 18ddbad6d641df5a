// The save the software cards send when they are given no file.
#pragma once

#include <cstdint>
#include <vector>

/// A genuine two-block data save: a valid header, one drawn 32x32 icon with
/// its palette, a payload and a correct CRC.
std::vector<std::uint8_t> sample_save();
