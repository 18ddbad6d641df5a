// vmurx-card defrag: packs the game at block 0 and the data files at the top
// of the user area, so that a game finds the contiguous room it needs.
#include <cstdio>

#include "card/card_edit.h"
#include "card/vmurx_card.h"

int card_defrag_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("defrag takes one CARD");
    const std::string& path = cl.operands.front();
    card_held held;
    card_layout layout;
    if (int status = 0; !card_open_held(path, cl.force, held, layout, status))
        return status;
    card_image card = held.card;
    std::string reason;
    if (!card_defrag(card, reason))
        return card_fail(path, "not packed: " + reason);
    const int status = card_write_changed(held, card);
    if (status == 0 && !cl.quiet) {
        // The free blocks now lie together below the data files.
        const std::size_t files = card_files(card, layout).size();
        std::printf("packed %zu file%s; %zu blocks free\n", files, files == 1 ? "" : "s",
                    card_free_blocks(card, layout));
    }
    return status;
}
