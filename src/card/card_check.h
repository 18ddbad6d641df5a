// The thorough look at a card: its system chain, every file's chain, blocks
// claimed twice or by no file, the rules for games, and the saves' own
// checksums. Real cards bend some rules and still play; those are warnings,
// what would lose or mix up data is an error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "card/card_image.h"

struct card_report {
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
    // Allocated in the FAT, in the user area, in no chain.
    std::vector<std::uint16_t> lost_blocks;
    // Why no writer may write through the root (card_layout_sound), also
    // among the errors; empty when one may.
    std::string unwritable;
};

/// Everything found on the card. A card whose root cannot be read gives that
/// reason as its only error.
card_report card_check(const card_image& card);

/// Blocks in ascending order as ranges: "3, 100-198".
std::string card_block_ranges(const std::vector<std::uint16_t>& blocks);

/// How an entry is shown in messages: "#3 NAME".
std::string card_entry_label(const card_file& file);

/// The entry's name as UTF-8 text, each byte read as Latin-1.
std::string card_name_text(const std::string& name);
