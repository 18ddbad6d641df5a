// vmurx-card defrag: packs the game at block 0 and the data files at the top
// of the user area, so that a game finds the contiguous room it needs.
#include "card/card_edit.h"
#include "card/vmurx_card.h"

int card_defrag_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("defrag takes one CARD");
    const std::string& path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(path, card, layout))
        return 2;
    std::string reason;
    if (!card_defrag(card, reason))
        return card_fail(path, "not packed: " + reason);
    return card_write_changed(path, card);
}
