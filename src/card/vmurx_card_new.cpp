// vmurx-card new: a blank card as the console formats it, stamped now in
// local standard time; never over an existing file.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "card/vmurx_card.h"
#include "cli/cli.h"
#include "files/text.h"

int card_new_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("new takes one CARD");
    std::vector<std::uint8_t> colour{0xFF, 0xFF, 0xFF, 0xFF};
    if (cl.colour && !cli_parse_hex_bytes(*cl.colour, colour.size(), colour))
        return card_usage_error("bad color '" + *cl.colour + "' (RRGGBBAA, eight hex digits)");
    std::uint64_t icon = 0;
    if (cl.icon && !cli_parse_uint(*cl.icon, 0, 123, icon))
        return card_usage_error("bad icon '" + *cl.icon + "' (0 to 123)");
    const std::string& path = cl.operands.front();
    if (struct stat st{}; lstat(path.c_str(), &st) == 0)
        return card_fail(path, "File exists (new never replaces a file)");
    const card_image card =
        card_new({colour[0], colour[1], colour[2], colour[3]}, static_cast<std::uint8_t>(icon),
                 standard_time_stamp(std::time(nullptr)),
                 ascii_lower(path).ends_with(".dcm") ? card_order::dcm : card_order::raw);
    // The formatter's card is one every command may write; it is written
    // only so.
    card_layout layout;
    if (std::string reason; !card_read_layout_to_write(card, layout, reason))
        return card_fail(path,
                         "the new card would not be usable (" + reason + "); nothing written");
    file_error error;
    if (!card_store(path, card, false, error))
        return card_fail_write(error);
    if (!cl.quiet) {
        std::printf("new card %s: %zu blocks free\n", printable(path).c_str(),
                    card_free_user_blocks(card, layout));
    }
    return 0;
}
