// The game of a whole card image for run --card, found through the card
// library, so that the image may be raw or in the Nexus order and its
// directory is read as vmurx-card reads it.
#include "vmu_tool/card_game.h"

#include "card/card_image.h"

bool card_game_flash(std::span<const std::uint8_t> file, const std::string& name,
                     std::vector<std::uint8_t>& flash, std::string& reason) {
    card_image card;
    card_layout layout;
    if (!card_from_file(file, card, reason) || !card_read_layout(card, layout, reason))
        return false;
    for (const card_file& entry : card_files(card, layout)) {
        std::string entry_name = card_file_name(entry);
        while (!entry_name.empty() && entry_name.back() == ' ')
            entry_name.pop_back();
        if (entry.type == CARD_TYPE_GAME && entry_name == name) {
            flash = std::move(card.bytes);
            return true;
        }
    }
    reason = "the card holds no game named " + name;
    return false;
}
