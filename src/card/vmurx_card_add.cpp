// vmurx-card add: saves in any format vmurx-save reads onto a card, placed as
// the console places them, all in one write or none.
#include "card/card_check.h"
#include "card/card_edit.h"
#include "card/vmurx_card.h"
#include "save/save_files.h"

namespace {

// The card's file of a save as read, with the command line's overrides;
// false after the message when something it needs is unknown.
bool file_to_add(const std::string& path, const card_command_line& cl, card_new_file& file) {
    save_input in;
    file_error error;
    if (!load_save(path, in, error)) {
        card_fail(error.object, error.reason);
        return false;
    }
    if (cl.name)
        in.name = cl.name;
    if (cl.type)
        in.kind = *cl.type == "game" ? save_kind::game : save_kind::data;
    if (cl.stamp)
        in.stamp = parse_stamp_text(*cl.stamp);
    if (cl.protect)
        in.protect = true;
    std::optional<save_kind> kind = in.kind;
    if (!kind)
        kind = analyse_save(in.content, std::nullopt, in.name.value_or("")).kind;
    if (!kind) {
        card_fail(path, "not a save, so its type is unknown (give --type)");
        return false;
    }
    if (!in.name || in.name->empty() || in.name->size() > CARD_NAME_SIZE) {
        card_fail(path, "the card name is unknown or longer than 12 bytes (give --name)");
        return false;
    }
    if (!in.stamp || !stamp_is_valid(*in.stamp)) {
        card_fail(path, "the time stamp is unknown or not a date (give --stamp)");
        return false;
    }
    file.name = *in.name;
    file.game = kind == save_kind::game;
    file.protect = in.protect.value_or(false);
    file.stamp = *in.stamp;
    file.content = std::move(in.content);
    return true;
}

}  // namespace

int card_add_command(const card_command_line& cl) {
    if (cl.operands.size() < 2)
        return card_usage_error("add takes a CARD and at least one FILE");
    if ((cl.name || cl.type || cl.stamp || cl.protect) && cl.operands.size() != 2)
        return card_usage_error("--name, --type, --stamp and --protect need exactly one FILE");
    if (cl.type && *cl.type != "game" && *cl.type != "data")
        return card_usage_error("bad type '" + *cl.type + "' (game or data)");
    if (cl.stamp && !parse_stamp_text(*cl.stamp)) {
        return card_usage_error("bad stamp '" + *cl.stamp +
                                "' (YYYYMMDDhhmmss between the years 1900 and 9999)");
    }
    if (cl.name && (cl.name->empty() || cl.name->size() > CARD_NAME_SIZE))
        return card_usage_error("bad name '" + *cl.name + "' (1 to 12 bytes)");

    const std::string& path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(path, card, layout))
        return 2;
    if (const card_report report = card_check(card); !report.errors.empty()) {
        return card_fail(path,
                         "the card has errors (vmurx-card check lists them); only remove "
                         "changes such a card");
    }
    std::string reason;
    if (cl.defrag && !card_defrag(card, reason))
        return card_fail(path, "cannot pack the card: " + reason);
    for (std::size_t i = 1; i < cl.operands.size(); ++i) {
        card_new_file file;
        if (!file_to_add(cl.operands[i], cl, file))
            return 1;
        std::size_t slot = 0;
        card_add_error error;
        if (!card_add(card, file, slot, error)) {
            const std::string hint =
                error.defrag_helps ? " (--defrag packs the data files to the top)" : "";
            return card_fail(path, cl.operands[i] + " (" + file.name + "): " + error.reason + hint +
                                       "; the card is unchanged");
        }
    }
    return card_write_changed(path, card);
}
