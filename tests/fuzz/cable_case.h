// What one input of the cable fuzz target asks for: the tool's command line,
// what stands in the way of its output, and the software card with its
// script, timing, faults and glitches.
//
// Input layout, read front to back (missing bytes read as 0):
//   options   bit 0 -v; bit 1 -n out.bin; bits 2-4 what stands in the way of
//             the output name (1 file, 2 link to a file outside, 3 dangling
//             link, 4 directory); bit 5 a -d argument follows; bit 6 raw
//             status glitches follow; bit 7 the port is refused
//   [-d]      length (mod 16), then the characters
//   [refused] errno - 1 (mod 133)
//   ready     0-249 reads before ready; 250 the last read of the budget; 251
//             one read too late; 252 never; else 3 bytes little-endian
//   timing    hold 1 + t % 3, jitter t / 3 % 3; then the jitter's seed
//   stall     0 none, else bit s % 8 of the byte given by 2 bytes, with Ack
//             low when s & 8
//   file      type; size (below 0xF0: size % 4 blocks, else (size - 0xF0) x
//             17); 12 name bytes; 7 stamp bytes; the image's seed
//   [glitches] count (mod 9), then per glitch 3 bytes read number and the
//             raw status value
//   edits     5 bytes each until the end: frame (2 bytes), kind, a, b
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cable_port.h"
#include "lpt/byte_exchange.h"
#include "vmu/vmu_sim.h"

namespace cable_fuzz {

enum class obstacle { none, file, link_to_file, dangling_link, directory };

struct cable_case {
    std::vector<std::string> arguments;  // after the program name
    bool named = false;                  // -n out.bin
    obstacle in_the_way = obstacle::none;
    vmu_sim card;
    std::vector<glitch> glitches;
};

constexpr std::int64_t READY_BUDGET = std::int64_t{READY_TIMEOUT} * POLLS_PER_UNIT;

/// Reads one input, front to back; missing bytes read as 0.
cable_case decode(const std::uint8_t* data, std::size_t size);

}  // namespace cable_fuzz
