// Fuzz target for the .VMI descriptor: read leniently from any bytes, and
// what is read can be written and read back to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "save/containers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> problems;
    const auto vmi = parse_vmi(std::span<const std::uint8_t>(data, size), problems);
    if (!vmi)
        return 0;
    // Writing is exact and reading it back is too: a second round trip
    // changes nothing.
    const std::vector<std::uint8_t> once = build_vmi(*vmi);
    std::vector<std::string> again_problems;
    const auto again = parse_vmi(once, again_problems);
    if (!again || build_vmi(*again) != once) {
        std::fprintf(stderr, "broken rule: a written VMI reads back to itself\n");
        std::abort();
    }
    return 0;
}
