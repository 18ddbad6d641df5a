// vmurx-card check: a line per finding, a verdict per card and whether
// repair would help, or one JSON array; the status tells whether any card
// has errors or cannot be read.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_repair.h"
#include "card/vmurx_card.h"
#include "files/text.h"

int card_check_command(const card_command_line& cl) {
    using json = nlohmann::ordered_json;
    json all = json::array();
    bool errors = false;
    bool unreadable = false;
    for (const std::string& path : cl.operands) {
        card_image card;
        file_error error;
        if (!card_load(path, card, error)) {
            card_fail(error.object, error.reason, 2);
            unreadable = true;
            continue;
        }
        const card_report report = card_check(card);
        errors = errors || !report.errors.empty();
        // Whether repair would change anything: it is tried on a copy.
        card_image copy = card;
        card_repair_report mending;
        std::string reason;
        const bool repairable = card_repair(copy, mending, reason) && !mending.mended.empty();
        if (cl.json) {
            json one;
            one["card"] = path;
            one["errors"] = report.errors;
            one["warnings"] = report.warnings;
            one["ok"] = report.errors.empty();
            one["repairable"] = repairable;
            all.push_back(one);
            continue;
        }
        const std::string shown = printable(path);
        for (const std::string& e : report.errors)
            std::printf("%s: error: %s\n", shown.c_str(), e.c_str());
        for (const std::string& w : report.warnings)
            std::printf("%s: warning: %s\n", shown.c_str(), w.c_str());
        if (report.errors.empty() && report.warnings.empty()) {
            std::printf("%s: OK\n", shown.c_str());
        } else {
            std::printf("%s: %zu error%s, %zu warning%s\n", shown.c_str(), report.errors.size(),
                        report.errors.size() == 1 ? "" : "s", report.warnings.size(),
                        report.warnings.size() == 1 ? "" : "s");
        }
        if (repairable)
            std::printf("%s: vmurx-card repair can mend some of this (--dry-run shows what)\n",
                        shown.c_str());
        if (!report.unwritable.empty())
            std::printf(
                "%s: vmurx-card repair mends nothing on this card, and no command changes it, "
                "while its root names the FAT and the directory so (mend the root or the FAT by "
                "hand)\n",
                shown.c_str());
    }
    if (cl.json)
        std::printf(
            "%s\n",
            json_escape_c1(all.dump(2, ' ', false, json::error_handler_t::replace)).c_str());
    return unreadable ? 2 : errors ? 1 : 0;
}
