// vmurx-card remove: frees each ENTRY's chain and clears its directory entry;
// with repair the only change made to a card that has errors, so that a
// damaged file can be taken off.
#include <algorithm>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "card/vmurx_card.h"

namespace {

// Takes the ENTRYs off the card: all are found before anything changes, so
// that slots stay as they are.
int remove_entries(const card_command_line& cl, card_image& card, const card_layout& layout,
                   card_changes& changes) {
    const std::string& path = cl.operands.front();
    changes.keep_errors = !card_check(card).errors.empty();
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
        const card_file entry = card_read_entry(card, layout, slot);
        const std::size_t free_before = card_free_user_blocks(card, layout);
        std::string reason;
        if (!card_remove(card, slot, reason))
            return card_fail(path, reason + "; the card is unchanged");
        const std::size_t freed = card_free_user_blocks(card, layout) - free_before;
        changes.lines.push_back(
            "removed " + card_shown_name(entry) + ": " + std::to_string(freed) +
            (freed == 1 ? " block" : " blocks") + " freed, slot " + std::to_string(slot) + "; " +
            std::to_string(card_free_user_blocks(card, layout)) + " blocks free");
    }
    return 0;
}

}  // namespace

int card_remove_command(const card_command_line& cl) {
    if (cl.operands.size() < 2)
        return card_usage_error("remove takes a CARD and at least one ENTRY");
    return card_change(cl, [&](card_image& card, const card_layout& layout, card_changes& changes) {
        return remove_entries(cl, card, layout, changes);
    });
}
