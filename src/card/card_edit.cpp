// Formatting, adding, removing and packing, on a card in memory.
#include "card/card_edit.h"

#include <algorithm>

#include "card/card_check.h"
#include "card/card_place.h"
#include "save/save_header.h"

namespace {

// The root's media fields from 0x40 on, as the console writes them; the icon
// shape goes into byte 0x0E of them.
constexpr std::uint8_t MEDIA_INFO[24] = {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFE, 0x00,
                                         0x01, 0x00, 0xFD, 0x00, 0x0D, 0x00, 0x00, 0x00,
                                         0xC8, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x80, 0x00};

std::size_t blocks_for(std::size_t bytes) {
    return (bytes + CARD_BLOCK_SIZE - 1) / CARD_BLOCK_SIZE;
}

std::string needs(std::size_t blocks, std::size_t free) {
    return "needs " + std::to_string(blocks) + " blocks, " + std::to_string(free) +
           (free == 1 ? " is" : " are") + " free";
}

// The blocks for a file, or false with why none fit: where the card itself
// would put it, after the checks of a game the card does not make itself
// (one game, at most the root's largest game), with the reason in words.
bool choose_blocks(const card_image& card, const card_layout& layout, bool game, std::size_t count,
                   std::vector<std::uint16_t>& blocks, card_add_error& error) {
    std::string& reason = error.reason;
    const std::size_t free = card_free_user_blocks(card, layout);
    if (game) {
        for (const card_file& file : card_files(card, layout)) {
            if (file.type == CARD_TYPE_GAME) {
                reason = "the card holds a game already (" + card_entry_label(file) + ")";
                return false;
            }
        }
        const std::size_t max = std::min<std::size_t>(layout.max_game, layout.user_end);
        if (count > max) {
            reason = "the game has " + std::to_string(count) +
                     " blocks, the card takes games of at most " + std::to_string(max);
            return false;
        }
    }
    if (count > free) {
        reason = needs(count, free);
        return false;
    }
    blocks = card_choose_blocks(card, layout, game, count);
    if (!blocks.empty())
        return true;
    std::size_t taken = 0;
    while (card_fat(card, layout, taken) == FAT_FREE)
        ++taken;
    reason = "a game needs blocks 0 to " + std::to_string(count - 1) + ", but block " +
             std::to_string(taken) + " is taken";
    error.defrag_helps = true;
    return false;
}

}  // namespace

card_image card_new(const std::array<std::uint8_t, 4>& colour, std::uint8_t icon_shape,
                    const save_stamp& stamp, card_order order) {
    card_image card;
    card.bytes.assign(CARD_SIZE, 0);
    card.order = order;
    const auto root = card_block(card, CARD_ROOT_BLOCK);
    std::fill_n(root.begin(), 16, 0x55);
    root[0x10] = 1;
    root[0x11] = colour[2];
    root[0x12] = colour[1];
    root[0x13] = colour[0];
    root[0x14] = colour[3];
    const auto stamp_bytes = card_stamp_bytes(stamp);
    std::copy(stamp_bytes.begin(), stamp_bytes.end(), root.begin() + 0x30);
    std::copy(std::begin(MEDIA_INFO), std::end(MEDIA_INFO), root.begin() + 0x40);
    root[0x4E] = icon_shape;

    card_layout layout;  // the standard one: the FAT in block 254
    for (std::size_t block = 0; block <= 240; ++block)
        card_set_fat(card, layout, block, FAT_FREE);
    card_set_fat(card, layout, 241, FAT_END);
    for (std::size_t block = 242; block <= 253; ++block)
        card_set_fat(card, layout, block, static_cast<std::uint16_t>(block - 1));
    card_set_fat(card, layout, 254, FAT_END);
    card_set_fat(card, layout, 255, FAT_END);
    return card;
}

bool card_add(card_image& card, const card_new_file& file, std::size_t& slot,
              card_add_error& error) {
    error = {};
    std::string& reason = error.reason;
    card_layout layout;
    if (!card_read_layout_to_write(card, layout, reason))
        return false;
    if (file.name.empty() || file.name.size() > CARD_NAME_SIZE) {
        reason = "a card name has 1 to 12 bytes";
        return false;
    }
    if (file.content.empty()) {
        reason = "the file is empty";
        return false;
    }
    std::optional<std::size_t> free_slot;
    for (std::size_t s = 0; s < card_slot_count(layout); ++s) {
        const card_file entry = card_read_entry(card, layout, s);
        if (entry.type == CARD_TYPE_NONE) {
            free_slot = free_slot.value_or(s);
        } else if (card_file_name(entry) == file.name) {
            reason = "the name is on the card already (" + card_entry_label(entry) + ")";
            return false;
        }
    }
    if (!free_slot) {
        reason = "the directory is full (" + std::to_string(card_slot_count(layout)) + " entries)";
        return false;
    }
    const std::size_t count = blocks_for(file.content.size());
    std::vector<std::uint16_t> blocks;
    if (!choose_blocks(card, layout, file.game, count, blocks, error))
        return false;
    card_write_chain(card, layout, blocks, file.content);

    card_file entry;
    entry.slot = *free_slot;
    entry.type = file.game ? CARD_TYPE_GAME : CARD_TYPE_DATA;
    entry.protection = file.protect ? CARD_PROTECTED : 0x00;
    entry.first_block = blocks.front();
    std::copy(file.name.begin(), file.name.end(), entry.name.begin());
    entry.stamp = card_stamp_bytes(file.stamp);
    entry.blocks = static_cast<std::uint16_t>(count);
    entry.header_block = file.game ? 1 : 0;
    card_put_entry(card, layout, entry);
    slot = entry.slot;
    return true;
}

bool card_add(card_image& card, const card_new_file& file, std::size_t& slot, std::string& reason) {
    card_add_error error;
    const bool added = card_add(card, file, slot, error);
    reason = error.reason;
    return added;
}

bool card_remove(card_image& card, std::size_t slot, std::string& reason) {
    card_layout layout;
    if (!card_read_layout_to_write(card, layout, reason))
        return false;
    if (slot >= card_slot_count(layout) ||
        card_read_entry(card, layout, slot).type == CARD_TYPE_NONE) {
        reason = "no file in slot #" + std::to_string(slot);
        return false;
    }
    // Blocks another entry's chain or the system holds stay as they are, so
    // that taking off a cross-linked file damages nothing else.
    std::array<bool, CARD_BLOCKS> kept{};
    for (const std::uint16_t block : card_system_blocks(layout))
        kept[block] = true;
    for (const card_file& other : card_files(card, layout)) {
        if (other.slot == slot)
            continue;
        for (const std::uint16_t block :
             card_follow_chain(card, layout, other.first_block, other.blocks).blocks)
            kept[block] = true;
    }
    const card_file file = card_read_entry(card, layout, slot);
    for (const std::uint16_t block :
         card_follow_chain(card, layout, file.first_block, file.blocks).blocks) {
        if (!kept[block])
            card_set_fat(card, layout, block, FAT_FREE);
    }
    card_clear_entry(card, layout, slot);
    return true;
}

bool card_defrag(card_image& card, std::string& reason) {
    const card_report report = card_check(card);
    if (!report.errors.empty()) {
        reason = "the card has errors (vmurx-card check lists them)";
        return false;
    }
    if (!report.lost_blocks.empty()) {
        const std::size_t lost = report.lost_blocks.size();
        reason = std::to_string(lost) + (lost == 1 ? " block is" : " blocks are") +
                 " allocated but in no file; packing would overwrite " +
                 (lost == 1 ? "it" : "them");
        return false;
    }
    card_layout layout;
    if (!card_read_layout_to_write(card, layout, reason))
        return false;
    struct moved {
        card_file entry;
        std::vector<std::uint8_t> content;
    };
    std::vector<moved> files;
    card_image packed = card;
    for (const card_file& file : card_files(card, layout)) {
        const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
        // Packing moves files within the user area only: a file with blocks
        // past it (on a card whose user area was unlocked once) stays.
        if (std::any_of(chain.blocks.begin(), chain.blocks.end(),
                        [&](std::uint16_t block) { return block >= layout.user_end; }))
            continue;
        files.push_back({file, card_chain_bytes(card, chain)});
        for (const std::uint16_t block : chain.blocks)
            card_set_fat(packed, layout, block, FAT_FREE);
    }
    // The game first, so that no data file slides into its blocks.
    std::stable_partition(files.begin(), files.end(),
                          [](const moved& f) { return f.entry.type == CARD_TYPE_GAME; });
    std::size_t top = layout.user_end;
    for (moved& file : files) {
        std::vector<std::uint16_t> blocks;
        if (file.entry.type == CARD_TYPE_GAME) {
            for (std::size_t block = 0; block < file.entry.blocks; ++block)
                blocks.push_back(static_cast<std::uint16_t>(block));
        } else {
            while (blocks.size() < file.entry.blocks && top-- > 0) {
                if (card_fat(packed, layout, top) == FAT_FREE)
                    blocks.push_back(static_cast<std::uint16_t>(top));
            }
        }
        if (blocks.size() < file.entry.blocks) {
            reason = card_entry_label(file.entry) + " does not fit into the user area";
            return false;
        }
        card_write_chain(packed, layout, blocks, file.content);
        file.entry.first_block = blocks.front();
        card_put_entry(packed, layout, file.entry);
    }
    card = std::move(packed);
    return true;
}
