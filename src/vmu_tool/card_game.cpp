// The game of a whole card image for run --card, found through the card
// library, so that the image may be raw or in the Nexus order and its
// entry is named as every program names one: a card name or #SLOT.
#include "vmu_tool/card_game.h"

#include "card/card_disk.h"
#include "card/card_edit.h"

bool card_game_flash(std::span<const std::uint8_t> file, const std::string& entry,
                     std::vector<std::uint8_t>& flash, std::string& reason) {
    card_image card;
    card_layout layout;
    std::size_t slot = 0;
    if (!card_from_file(file, card, reason) || !card_read_layout(card, layout, reason))
        return false;
    if (!card_find_entry(card, layout, entry, slot, reason)) {
        reason = entry + ": " + reason;
        return false;
    }
    if (card_read_entry(card, layout, slot).type != TYPE_GAME) {
        reason = "the card holds no game " +
                 (entry.starts_with('#') ? "in slot " + entry : "named " + entry);
        return false;
    }
    flash = std::move(card.bytes);
    return true;
}

bool card_whole_flash(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& flash,
                      std::string& reason) {
    card_image card;
    if (!card_from_file(file, card, reason))
        return false;
    flash = std::move(card.bytes);
    return true;
}

std::vector<std::uint8_t> card_blank_flash() {
    const save_stamp stamp{.year = 2000, .month = 1, .day = 1};
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, stamp, card_order::raw).bytes;
}
