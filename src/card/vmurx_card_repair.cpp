// vmurx-card repair: mends what can be mended without guessing (see
// card_repair.h), says each change and what it leaves to the user, and
// writes the card as every change is written; with --dry-run it only reads
// the card and says.
#include <cstdio>

#include "card/card_check.h"
#include "card/card_repair.h"
#include "card/vmurx_card.h"
#include "files/text.h"

namespace {

// Mends `card` in memory and fills in what the frame prints and writes.
int mend(const card_command_line& cl, card_image& card, card_changes& changes) {
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
}

}  // namespace

int card_repair_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("repair takes one CARD");
    if (!cl.dry_run) {
        return card_change(
            cl,
            [&](card_image& card, const card_layout&, card_changes& changes) {
                return mend(cl, card, changes);
            },
            true);
    }
    // A dry run writes nothing: it reads the card as check does, without
    // its lock and whoever may write it.
    card_image card;
    card_layout layout;
    if (!card_open(cl.operands.front(), card, layout))
        return 2;
    card_changes changes;
    if (const int status = mend(cl, card, changes); status != 0)
        return status;
    for (const std::string& line : cl.quiet ? std::vector<std::string>{} : changes.lines)
        std::printf("%s\n", printable(line).c_str());
    return changes.status;
}
