// vmurx-card defrag: packs the game at block 0 and the data files at the top
// of the user area, so that a game finds the contiguous room it needs.
#include "card/card_edit.h"
#include "card/card_place.h"
#include "card/vmurx_card.h"

int card_defrag_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("defrag takes one CARD");
    return card_change(cl, [&](card_image& card, const card_layout& layout, card_changes& changes) {
        std::string reason;
        if (!card_defrag(card, reason))
            return card_fail(cl.operands.front(), "not packed: " + reason);
        // The free blocks now lie together below the data files.
        const std::size_t files = card_files(card, layout).size();
        changes.lines.push_back(
            "packed " + std::to_string(files) + (files == 1 ? " file" : " files") + "; " +
            std::to_string(card_free_user_blocks(card, layout)) + " blocks free");
        return 0;
    });
}
