// vmurx-card extract: each file of a card as vmurx would have stored it, or
// as a DCI or a VMS with its VMI, never over an existing file unasked.
#include <map>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/vmurx_card.h"
#include "save/save_convert.h"
#include "save/save_files.h"

namespace {

// The files of one entry, ready to write: as on the card, or converted as
// vmurx-save convert converts the card's file with its entry. False with the
// reason when the entry cannot be converted.
bool outputs_of(const std::string& as, const std::string& path, const card_file& entry,
                const std::vector<std::uint8_t>& content, std::vector<output_file>& outputs,
                std::string& reason) {
    const std::optional<save_stamp> stamp = card_file_stamp(entry);
    if (as == "raw") {
        outputs.push_back({path, content, stamp});
        return true;
    }
    if (!stamp) {
        reason =
            "its time stamp is not a date, which a DCI or VMI must carry (extract it --as raw)";
        return false;
    }
    save_input in;
    in.format = "dci";
    in.content = content;
    in.name = card_file_name(entry);
    in.stamp = stamp;
    if (entry.type == CARD_TYPE_GAME)
        in.kind = save_kind::game;
    else if (entry.type == CARD_TYPE_DATA)
        in.kind = save_kind::data;
    in.protect = entry.protection == CARD_PROTECTED;
    const save_analysis analysis = analyse_save(in.content, in.kind, *in.name);
    convert_error error;
    const std::string out_path = path + (as == "dci" ? ".DCI" : ".VMS");
    if (!save_card_outputs(path, in, analysis, out_path, {}, outputs, error)) {
        reason = error.reason;
        // The entry gives the name and the stamp; only the type can be
        // missing, of an entry of an unknown type whose content is no save.
        // The words are vmurx-save convert's, as they have always been.
        if (error.missing == convert_missing::type)
            reason += " (give --type)";
        // Most card names have 12 bytes, more than a VMI can name its .vms
        // by (the refusal names the .vms); the user chooses a shorter name.
        if (error.object == out_path && as == "vms")
            reason +=
                " (extract it --as dci, or --as raw and give vmurx-save convert a shorter "
                ".vms name)";
        return false;
    }
    return true;
}

}  // namespace

int card_extract_command(const card_command_line& cl) {
    const std::string as = cl.as.value_or("raw");
    if (as != "raw" && as != "dci" && as != "vms")
        return card_usage_error("--as takes raw, dci or vms");
    const std::string& card_path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(card_path, card, layout))
        return 2;
    int status = 0;
    std::vector<std::size_t> slots;
    if (cl.operands.size() == 1) {
        for (const card_file& file : card_files(card, layout))
            slots.push_back(file.slot);
    }
    for (std::size_t i = 1; i < cl.operands.size(); ++i) {
        std::size_t slot = 0;
        std::string reason;
        if (card_find_entry(card, layout, cl.operands[i], slot, reason))
            slots.push_back(slot);
        else
            status = card_fail(card_path + ": " + cl.operands[i], reason);
    }
    const std::string dir = cl.output_dir.value_or(".");
    std::map<std::string, unsigned> seen;
    for (const std::size_t slot : slots) {
        const card_file entry = card_read_entry(card, layout, slot);
        const std::string label = card_path + ": " + card_entry_label(entry);
        const card_chain chain = card_follow_chain(card, layout, entry.first_block, entry.blocks);
        if (!chain.fault.empty()) {
            status = card_fail(label, chain.fault + "; not extracted");
            continue;
        }
        std::string name = card_output_name(card_file_name(entry));
        if (const unsigned count = ++seen[name]; count > 1) {
            const std::string renamed = name + "~" + std::to_string(count);
            card_fail(label, "a name met before in this run; written as " + renamed, 0);
            name = renamed;
        }
        std::vector<output_file> outputs;
        std::string reason;
        if (!outputs_of(as, dir + "/" + name, entry, card_chain_bytes(card, chain), outputs,
                        reason)) {
            status = card_fail(label, reason + "; not extracted");
            continue;
        }
        file_error error;
        if (!write_outputs(outputs, cl.force, error))
            status = card_fail_write(error);
    }
    return status;
}
