// The rule every writer of a card keeps, whatever its root says: judged
// against the card's true layout (read from the card before its root was
// made to lie), the bytes of every block that is no system block and that
// the change does not own stay as they were, and so do the entries and the
// bytes of every file the change does not own. Shared by the card tests and
// the card fuzz target; no test framework.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card/card_image.h"

/// What a change may write: the blocks it owns (add: those free in the true
/// FAT; defrag: those of the files it moves as well), the slot of the file
/// it owns (remove, which takes it off), if any, and whether it moves files
/// keeping their bytes (defrag) or mends their chains and sizes (repair).
struct card_change_owns {
    std::array<bool, CARD_BLOCKS> blocks{};
    std::optional<std::size_t> slot;
    bool moves = false;
    bool mends = false;
};

/// The blocks free in the card's FAT, which an added file may take.
inline std::array<bool, CARD_BLOCKS> card_free_blocks(const card_image& card,
                                                      const card_layout& layout) {
    std::array<bool, CARD_BLOCKS> free{};
    for (std::size_t block = 0; block < CARD_BLOCKS; ++block)
        free[block] = card_fat(card, layout, block) == FAT_FREE;
    return free;
}

/// The blocks of every file's chain, which defrag may move.
inline std::array<bool, CARD_BLOCKS> card_file_blocks(const card_image& card,
                                                      const card_layout& layout) {
    std::array<bool, CARD_BLOCKS> held{};
    for (const card_file& file : card_files(card, layout)) {
        for (const std::uint16_t block :
             card_follow_chain(card, layout, file.first_block, file.blocks).blocks)
            held[block] = true;
    }
    return held;
}

/// Where `after` broke the rule against `before`, read through `truth`
/// (before's true layout), in words; empty when it kept it.
inline std::string card_untouched_fault(const card_image& before, const card_layout& truth,
                                        const card_image& after, const card_change_owns& owns) {
    std::array<bool, CARD_BLOCKS> system{};
    for (const std::uint16_t block : card_system_blocks(truth))
        system[block] = true;
    for (std::size_t block = 0; block < CARD_BLOCKS; ++block) {
        if (system[block] || owns.blocks[block])
            continue;
        if (!std::equal(card_block(before, block).begin(), card_block(before, block).end(),
                        card_block(after, block).begin()))
            return "block " + std::to_string(block) + " changed, which the change does not own";
    }
    // A broken chain may run into a system block, whose bytes every writer
    // may change (removing a file rewrites the FAT): a file's bytes are those
    // of its chain's other blocks.
    const auto user_bytes = [&](const card_image& card, card_chain chain) {
        std::erase_if(chain.blocks, [&](std::uint16_t block) { return system[block]; });
        return card_chain_bytes(card, chain);
    };
    for (const card_file& file : card_files(before, truth)) {
        if (owns.slot == file.slot || owns.mends)
            continue;
        const card_chain was = card_follow_chain(before, truth, file.first_block, file.blocks);
        card_file now = card_read_entry(after, truth, file.slot);
        const card_chain is = card_follow_chain(after, truth, now.first_block, now.blocks);
        if (owns.moves)
            now.first_block = file.first_block;
        const bool same_entry = now.type == file.type && now.name == file.name &&
                                now.first_block == file.first_block && now.blocks == file.blocks;
        if (!same_entry || user_bytes(before, was) != user_bytes(after, is) ||
            was.kind != is.kind)
            return "the file in slot #" + std::to_string(file.slot) + " changed";
    }
    return "";
}
