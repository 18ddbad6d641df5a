// Cards for the tests: blank ones from the library's own formatter, files
// put on them, and hand-made bytes for the FAT and the root.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/card_edit.h"
#include "card/card_image.h"
#include "save_files.h"

inline const save_stamp TEST_STAMP{2002, 3, 4, 5, 6, 7};

inline card_image blank_card(card_order order = card_order::raw) {
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, TEST_STAMP, order);
}

inline card_layout layout_of(const card_image& card) {
    card_layout layout;
    std::string reason;
    card_read_layout(card, layout, reason);
    return layout;
}

/// A data file or game of `blocks` blocks whose every byte tells its file
/// and place (so that moved or mixed-up blocks show).
inline card_new_file test_file(const std::string& name, std::size_t blocks, bool game = false) {
    card_new_file file{name, game, false, TEST_STAMP, {}};
    file.content.resize(blocks * IMAGE_BLOCK_SIZE);
    for (std::size_t i = 0; i < file.content.size(); ++i)
        file.content[i] = static_cast<std::uint8_t>(i * 31 + name.size() * 7 + name[0]);
    return file;
}

/// Puts the file on the card, or fails the test; the slot taken.
inline std::size_t put(card_image& card, const card_new_file& file) {
    std::size_t slot = 0;
    std::string reason;
    if (!card_add(card, file, slot, reason))
        ADD_FAILURE() << file.name << ": " << reason;
    return slot;
}

inline std::uint16_t fat_of(const card_image& card, std::size_t block) {
    return static_cast<std::uint16_t>(card.bytes[254 * 512 + 2 * block] |
                                      card.bytes[254 * 512 + 2 * block + 1] << 8);
}

inline void set_fat(card_image& card, std::size_t block, std::uint16_t value) {
    card.bytes[254 * 512 + 2 * block] = static_cast<std::uint8_t>(value);
    card.bytes[254 * 512 + 2 * block + 1] = static_cast<std::uint8_t>(value >> 8);
}

/// The byte at `offset` of the root.
inline std::uint8_t& root_byte(card_image& card, std::size_t offset) {
    return card.bytes[255 * 512 + offset];
}

/// The byte at `offset` of directory slot `slot` on a standard card.
inline std::uint8_t& entry_byte(card_image& card, std::size_t slot, std::size_t offset) {
    return card.bytes[(253 - slot / 16) * 512 + slot % 16 * 32 + offset];
}
