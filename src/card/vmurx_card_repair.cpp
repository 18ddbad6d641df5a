// vmurx-card repair: mends what can be mended without guessing (see
// card_repair.h), says each change and what it leaves to the user, and
// writes the card as every change is written; with --dry-run it only says.
#include "card/card_check.h"
#include "card/card_repair.h"
#include "card/vmurx_card.h"

int card_repair_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("repair takes one CARD");
    return card_change(cl, [&](card_image& card, const card_layout&, card_changes& changes) {
        const std::string& path = cl.operands.front();
        card_repair_report report;
        std::string reason;
        // It adds no error of its own: card_repair sees to that.
        if (!card_repair(card, report, reason))
            return card_fail(path, reason, 2);
        const std::string verb = cl.dry_run ? "would mend" : "mended";
        for (const std::string& line : report.mended)
            changes.lines.push_back(path + ": " + verb + ": " + line);
        for (const std::string& line : report.left)
            changes.lines.push_back(path + ": left: " + line);
        if (report.mended.empty() && report.left.empty())
            changes.lines.push_back(path + ": nothing to repair");
        changes.keep_errors = true;
        changes.write = !report.mended.empty() && !cl.dry_run;
        changes.status = card_check(card).errors.empty() ? 0 : 1;
        return 0;
    });
}
