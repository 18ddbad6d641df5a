// vmurx-card add: saves in any format vmurx-save reads onto a card, placed as
// the console places them, all in one write or none, with a line per file
// on success.
#include "card/card_check.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "card/vmurx_card.h"
#include "files/text.h"
#include "save/save_convert.h"
#include "save/save_files.h"

namespace {

// The type a save goes onto the card as, decided as vmurx-send and
// vmurx-save convert decide it. False after the message when it is unknown
// or the given one contradicts the header.
bool kind_to_add(const std::string& path, const save_input& in, const card_command_line& cl,
                 save_kind& kind) {
    std::optional<save_kind> given;
    if (cl.type)
        given = *cl.type == "game" ? save_kind::game : save_kind::data;
    const card_type_choice choice = save_card_type(in, given, cl.force_type);
    if (choice.refusal == card_type_refusal::contradicted) {
        card_fail(path, "--type " + *cl.type + " contradicts the save's header, a " +
                            kind_name(*choice.header_kind) +
                            " file's (--force-type adds it all the same)");
        return false;
    }
    if (choice.refusal == card_type_refusal::unknown) {
        card_fail(path, "not a save, so its type is unknown (give --type)");
        return false;
    }
    if (choice.descriptor_overruled) {
        card_fail("warning: " + path,
                  std::string("the descriptor says ") + kind_name(*in.kind) +
                      ", but the header is a " + kind_name(*choice.header_kind) +
                      " file's: added as " + kind_name(*choice.header_kind),
                  0);
    }
    kind = *choice.kind;
    return true;
}

// The card's file of a save as read, with the command line's overrides;
// false after the message when something it needs is unknown.
bool file_to_add(const std::string& path, const card_command_line& cl, card_new_file& file) {
    save_input in;
    file_error error;
    if (!load_save(path, in, error)) {
        if (error.cause == file_failure::too_large && card_is_image(path)) {
            card_fail(path, "a whole card image, not a save: 'vmurx-card extract " + path +
                                " ENTRY' writes one of its files out to add");
        } else {
            card_fail(error.object, error.reason);
        }
        return false;
    }
    if (cl.name)
        in.name = cl.name;
    if (cl.stamp)
        in.stamp = parse_stamp_text(*cl.stamp);
    if (cl.protect)
        in.protect = true;
    save_kind kind = save_kind::data;
    if (!kind_to_add(path, in, cl, kind))
        return false;
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

// "added NAME: 2 blocks from 199, slot 3; 156 blocks free".
std::string added_line(const card_image& card, const card_layout& layout, std::size_t slot) {
    const card_file entry = card_read_entry(card, layout, slot);
    return "added " + card_shown_name(entry) + ": " + std::to_string(entry.blocks) +
           (entry.blocks == 1 ? " block" : " blocks") + " from " +
           std::to_string(entry.first_block) + ", slot " + std::to_string(slot) + "; " +
           std::to_string(card_free_user_blocks(card, layout)) + " blocks free";
}

// Puts every FILE on the card, or says why not.
// (Packing and adding keep the root, so `layout` stays the card's.)
int add_files(const card_command_line& cl, card_image& card, const card_layout& layout,
              card_changes& changes) {
    const std::string& path = cl.operands.front();
    if (const card_report report = card_check(card); !report.errors.empty()) {
        return card_fail(path,
                         "the card has errors (vmurx-card check lists them); only remove and "
                         "repair change such a card");
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
            return card_fail(path, cl.operands[i] + " (" + printable(card_name_text(file.name)) +
                                       "): " + error.reason + hint + "; the card is unchanged");
        }
        changes.lines.push_back(added_line(card, layout, slot));
    }
    return 0;
}

int check_options(const card_command_line& cl) {
    if (cl.operands.size() < 2)
        return card_usage_error("add takes a CARD and at least one FILE");
    if ((cl.name || cl.type || cl.stamp || cl.protect) && cl.operands.size() != 2)
        return card_usage_error("--name, --type, --stamp and --protect need exactly one FILE");
    if (cl.type && *cl.type != "game" && *cl.type != "data")
        return card_usage_error("bad type '" + *cl.type + "' (game or data)");
    if (cl.force_type && !cl.type)
        return card_usage_error("--force-type needs --type");
    if (cl.stamp && !parse_stamp_text(*cl.stamp)) {
        return card_usage_error("bad stamp '" + *cl.stamp +
                                "' (YYYYMMDDhhmmss between the years 1900 and 9999)");
    }
    if (cl.name && (cl.name->empty() || cl.name->size() > CARD_NAME_SIZE))
        return card_usage_error("bad name '" + *cl.name + "' (1 to 12 bytes)");
    return 0;
}

}  // namespace

int card_add_command(const card_command_line& cl) {
    if (const int status = check_options(cl); status != 0)
        return status;
    return card_change(cl, [&](card_image& card, const card_layout& layout, card_changes& changes) {
        return add_files(cl, card, layout, changes);
    });
}
