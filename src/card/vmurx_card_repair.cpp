// vmurx-card repair: mends what can be mended without guessing (see
// card_repair.h), says each change and what it leaves to the user, and
// writes the card as every change is written; with --dry-run it only says.
#include <cstdio>

#include "card/card_check.h"
#include "card/card_repair.h"
#include "card/vmurx_card.h"
#include "files/text.h"

int card_repair_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("repair takes one CARD");
    const std::string& path = cl.operands.front();
    card_held held;
    card_layout layout;
    if (int status = 0; !card_open_held(path, cl.force, held, layout, status))
        return status;
    card_image card = held.card;
    card_repair_report report;
    std::string reason;
    // It adds no error of its own: card_repair sees to that.
    if (!card_repair(card, report, reason))
        return card_fail(path, reason, 2);
    const card_report after = card_check(card);
    int status = 0;
    if (!report.mended.empty() && !cl.dry_run)
        status = card_write_changed(held, card, true);
    if (status != 0)
        return status;
    const std::string shown = printable(path);
    const char* verb = cl.dry_run ? "would mend" : "mended";
    if (!cl.quiet || cl.dry_run) {
        for (const std::string& line : report.mended)
            std::printf("%s: %s: %s\n", shown.c_str(), verb, printable(line).c_str());
        for (const std::string& line : report.left)
            std::printf("%s: left: %s\n", shown.c_str(), printable(line).c_str());
        if (report.mended.empty() && report.left.empty())
            std::printf("%s: nothing to repair\n", shown.c_str());
    }
    return after.errors.empty() ? 0 : 1;
}
