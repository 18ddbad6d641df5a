// vmurx-card new: a blank card as the console formats it, stamped now in
// local standard time; never over an existing file.
#include <sys/stat.h>

#include <ctime>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/vmurx_card.h"
#include "files/text.h"

namespace {

bool parse_colour(const std::string& text, std::array<std::uint8_t, 4>& colour) {
    if (text.size() != 8 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i)
        colour[i] = static_cast<std::uint8_t>(std::stoul(text.substr(2 * i, 2), nullptr, 16));
    return true;
}

}  // namespace

int card_new_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("new takes one CARD");
    std::array<std::uint8_t, 4> colour{0xFF, 0xFF, 0xFF, 0xFF};
    if (cl.colour && !parse_colour(*cl.colour, colour))
        return card_usage_error("bad color '" + *cl.colour + "' (RRGGBBAA, eight hex digits)");
    unsigned long icon = 0;
    if (cl.icon) {
        const std::string& text = *cl.icon;
        if (text.empty() || text.size() > 3 ||
            text.find_first_not_of("0123456789") != std::string::npos ||
            (icon = std::stoul(text)) > 123) {
            return card_usage_error("bad icon '" + text + "' (0 to 123)");
        }
    }
    const std::string& path = cl.operands.front();
    if (struct stat st{}; lstat(path.c_str(), &st) == 0)
        return card_fail(path, "File exists (new never replaces a file)");
    const card_image card =
        card_new(colour, static_cast<std::uint8_t>(icon), standard_time_stamp(std::time(nullptr)),
                 ascii_lower(path).ends_with(".dcm") ? card_order::dcm : card_order::raw);
    file_error error;
    if (!card_store(path, card, false, error))
        return card_fail_write(error);
    return 0;
}
