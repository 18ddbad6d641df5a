// The card's own placement of a new file, on a card in memory.
#include "card/card_place.h"

#include <algorithm>

#include "cable/cable.h"

std::vector<std::uint16_t> card_choose_blocks(const card_image& card, const card_layout& layout,
                                              bool game, std::size_t count) {
    std::vector<std::uint16_t> blocks;
    if (count == 0)
        return blocks;
    if (game) {
        // A game runs from block 0, so it needs exactly those blocks free.
        if (count > layout.user_end)
            return blocks;
        for (std::size_t block = 0; block < count; ++block) {
            if (card_fat(card, layout, block) != FAT_FREE)
                return {};
            blocks.push_back(static_cast<std::uint16_t>(block));
        }
        return blocks;
    }
    for (std::size_t block = layout.user_end; block-- > 0 && blocks.size() < count;) {
        if (card_fat(card, layout, block) == FAT_FREE)
            blocks.push_back(static_cast<std::uint16_t>(block));
    }
    if (blocks.size() < count)
        blocks.clear();
    return blocks;
}

std::size_t card_free_user_blocks(const card_image& card, const card_layout& layout) {
    std::size_t free = 0;
    for (std::size_t block = 0; block < layout.user_end; ++block)
        free += card_fat(card, layout, block) == FAT_FREE ? 1 : 0;
    return free;
}

std::optional<std::size_t> card_free_slot(const card_image& card, const card_layout& layout) {
    for (std::size_t slot = 0; slot < card_slot_count(layout); ++slot) {
        if (card_read_entry(card, layout, slot).type == CARD_TYPE_NONE)
            return slot;
    }
    return std::nullopt;
}

void card_write_chain(card_image& card, const card_layout& layout,
                      const std::vector<std::uint16_t>& blocks,
                      std::span<const std::uint8_t> content) {
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto block = card_block(card, blocks[i]);
        std::fill(block.begin(), block.end(), 0);
        const std::size_t from = std::min(i * IMAGE_BLOCK_SIZE, content.size());
        const std::size_t length = std::min(IMAGE_BLOCK_SIZE, content.size() - from);
        std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(from), length, block.begin());
        card_set_fat(card, layout, blocks[i], i + 1 < blocks.size() ? blocks[i + 1] : FAT_END);
    }
}

directory_tail card_entry_tail(const card_file& file) {
    directory_tail tail{};
    std::copy(file.stamp.begin(), file.stamp.end(), tail.begin());
    tail[CABLE_DIRECTORY_BLOCKS] = static_cast<std::uint8_t>(file.blocks & 0xFF);
    tail[CABLE_DIRECTORY_BLOCKS + 1] = static_cast<std::uint8_t>(file.blocks >> 8);
    tail[CABLE_DIRECTORY_HEADER] = static_cast<std::uint8_t>(file.header_block & 0xFF);
    tail[CABLE_DIRECTORY_HEADER + 1] = static_cast<std::uint8_t>(file.header_block >> 8);
    return tail;
}

void card_set_entry_tail(card_file& file, const directory_tail& tail) {
    std::copy_n(tail.begin(), file.stamp.size(), file.stamp.begin());
    file.blocks = static_cast<std::uint16_t>(tail[CABLE_DIRECTORY_BLOCKS] |
                                             tail[CABLE_DIRECTORY_BLOCKS + 1] << 8);
    file.header_block = static_cast<std::uint16_t>(tail[CABLE_DIRECTORY_HEADER] |
                                                   tail[CABLE_DIRECTORY_HEADER + 1] << 8);
}
