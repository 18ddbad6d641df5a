// vmurx-card remove: frees each ENTRY's chain and clears its directory entry;
// the only change made to a card that has errors, so that a damaged file can
// be taken off.
#include <algorithm>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/vmurx_card.h"

int card_remove_command(const card_command_line& cl) {
    if (cl.operands.size() < 2)
        return card_usage_error("remove takes a CARD and at least one ENTRY");
    const std::string& path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(path, card, layout))
        return 2;
    const bool was_broken = !card_check(card).errors.empty();
    // Every ENTRY is found before anything changes: slots stay as they are.
    std::vector<std::size_t> slots;
    for (std::size_t i = 1; i < cl.operands.size(); ++i) {
        std::size_t slot = 0;
        std::string reason;
        if (!card_find_entry(card, layout, cl.operands[i], slot, reason))
            return card_fail(path + ": " + cl.operands[i], reason + "; the card is unchanged");
        if (std::find(slots.begin(), slots.end(), slot) == slots.end())
            slots.push_back(slot);
    }
    for (const std::size_t slot : slots) {
        std::string reason;
        if (!card_remove(card, slot, reason))
            return card_fail(path, reason + "; the card is unchanged");
    }
    return card_write_changed(path, card, was_broken);
}
