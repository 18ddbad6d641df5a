// Fuzz target for the card reader: any bytes are refused or read as a card;
// the input cut or padded to a card's size is then read, listed and checked,
// which must terminate and never crash, and its changes must keep what
// holds: a card writes back to its own bytes, a removed file leaves a
// readable card, and a packed card is clean with every file's bytes kept.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_image.h"
#include "save/save_header.h"

namespace {

void require(bool condition, const char* rule) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

// What list reads of every file: its chain, its bytes and their analysis.
std::map<std::size_t, std::vector<std::uint8_t>> list_files(const card_image& card,
                                                            const card_layout& layout) {
    std::map<std::size_t, std::vector<std::uint8_t>> contents;
    for (const card_file& file : card_files(card, layout)) {
        const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
        require(chain.blocks.size() <= CARD_BLOCKS, "a chain visits each block once at most");
        contents[file.slot] = card_chain_bytes(card, chain);
        analyse_save(contents[file.slot], std::nullopt, card_file_name(file));
        std::size_t slot = 0;
        std::string reason;
        if (card_find_entry(card, layout, "#" + std::to_string(file.slot), slot, reason))
            require(slot == file.slot, "#N names slot N");
        card_output_name(card_file_name(file));
    }
    return contents;
}

void try_changes(const card_image& card, const card_layout& layout, const card_report& report,
                 const std::map<std::size_t, std::vector<std::uint8_t>>& contents) {
    std::string reason;
    if (!contents.empty()) {
        card_image removed = card;
        require(card_remove(removed, contents.begin()->first, reason), "a file can be removed");
        card_layout again;
        require(card_read_layout(removed, again, reason), "a card stays a card after remove");
        card_check(removed);
    }
    card_image packed = card;
    if (!card_defrag(packed, reason))
        return;
    require(report.errors.empty() && report.lost_blocks.empty(), "only a clean card is packed");
    const card_report after = card_check(packed);
    require(after.errors.empty() && after.lost_blocks.empty(), "a packed card is clean");
    for (const auto& [slot, bytes] : contents) {
        const card_file file = card_read_entry(packed, layout, slot);
        require(card_chain_bytes(packed, card_follow_chain(packed, layout, file.first_block,
                                                           file.blocks)) == bytes,
                "packing keeps every file's bytes");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    card_image card;
    std::string reason;
    if (!card_from_file(std::span<const std::uint8_t>(data, size), card, reason))
        require(!reason.empty(), "a refusal says why");

    std::vector<std::uint8_t> bytes(data, data + std::min(size, CARD_SIZE));
    bytes.resize(CARD_SIZE, 0);
    if (!card_from_file(bytes, card, reason))
        return 0;  // the compressed container's mark
    require(card_to_file(card) == bytes, "a card writes back to its own bytes");

    const card_report report = card_check(card);
    card_layout layout;
    if (!card_read_layout(card, layout, reason)) {
        require(report.errors.size() == 1 && report.errors.front() == reason,
                "an unreadable root is check's only error");
        return 0;
    }
    require(layout.user_end <= CARD_ROOT_BLOCK, "the user area lies below the root");
    try_changes(card, layout, report, list_files(card, layout));
    return 0;
}
