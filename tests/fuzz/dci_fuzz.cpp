// Fuzz target for the .DCI container: read leniently from any bytes; the
// content is whole blocks, and writing what was read and reading it back
// gives the same entry and content.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "save/containers.h"
#include "save/save_header.h"

namespace {

void require(bool condition, const char* rule) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> problems;
    const auto dci = parse_dci(std::span<const std::uint8_t>(data, size), problems);
    if (!dci)
        return 0;
    require(dci->content.size() % IMAGE_BLOCK_SIZE == 0, "a DCI holds whole blocks");

    const std::vector<std::uint8_t> once = build_dci(dci->entry, dci->content);
    std::vector<std::string> again_problems;
    const auto again = parse_dci(once, again_problems);
    require(again.has_value(), "a written DCI can be read");
    require(again->content == dci->content, "a DCI's content survives writing and reading");
    require(build_dci(again->entry, again->content) == once, "a written DCI reads back to itself");
    return 0;
}
