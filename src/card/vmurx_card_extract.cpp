// vmurx-card extract: each file of a card as vmurx would have stored it, or
// as a DCI or a VMS with its VMI, under names chosen for the whole run
// (card_names.h), never over an existing file unasked and never over the
// card itself.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_names.h"
#include "card/card_outputs.h"
#include "card/vmurx_card.h"
#include "files/input_files.h"
#include "files/text.h"
#include "save/save_files.h"

namespace {

// The folder to write into, checked once before anything is written.
bool folder_exists(const std::string& dir) {
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0) {
        card_fail(dir, std::string(std::strerror(errno)) + "; nothing was extracted");
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        card_fail(dir, "not a folder; nothing was extracted");
        return false;
    }
    return true;
}

// The slots to extract: the ENTRYs named, else every file. An ENTRY not
// found is said and makes the status 1.
std::vector<std::size_t> chosen_slots(const card_command_line& cl, const card_image& card,
                                      const card_layout& layout, int& status) {
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
            status = card_fail(cl.operands.front() + ": " + cl.operands[i], reason);
    }
    return slots;
}

// Why an entry is written under a name its card name does not give as it is.
std::string why_chosen(const std::string& own, const card_disk_name& name, card_name_form form,
                       bool twin) {
    const std::string shown = form == card_name_form::vms   ? name.stem + ".VMS"
                              : form == card_name_form::dci ? name.stem + ".DCI"
                                                            : name.stem;
    if (twin)
        return "a name met before in this run; written as " + shown;
    if (own != name.stem)
        return own + ".VMS is in the folder already; written as " + shown;
    return "a .VMS name has at most 8 letters, digits, '_' or '-'; written as " + shown;
}

// An entry to write, and the name it is written as.
struct named_entry {
    card_file entry;
    card_chain chain;
    std::string own;      // the name its card name gives
    card_disk_name name;  // the name it gets (card_names.h)
    bool twin = false;    // an earlier entry of the run gives `own` too
};

// The chosen entries whose chains are whole, each with its name, chosen for
// all of them together; damaged entries are said and take no name.
std::vector<named_entry> name_entries(const card_command_line& cl, const card_image& card,
                                      const card_layout& layout, card_name_form form,
                                      const std::string& dir, int& status) {
    const std::string& card_path = cl.operands.front();
    std::vector<named_entry> whole;
    std::vector<std::string> card_names;
    for (const std::size_t slot : chosen_slots(cl, card, layout, status)) {
        const card_file entry = card_read_entry(card, layout, slot);
        card_chain chain = card_follow_chain(card, layout, entry.first_block, entry.blocks);
        if (!chain.fault.empty()) {
            status = card_fail(card_path + ": " + card_entry_label(entry),
                               chain.fault + "; not extracted");
            continue;
        }
        card_names.push_back(card_file_name(entry));
        whole.push_back({entry, std::move(chain), {}, {}, false});
    }
    const std::vector<card_disk_name> names =
        card_disk_names(card_names, form,
                        [&](const std::string& stem) { return card_stem_taken(dir, stem, form); });
    std::set<std::string> met;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        named_entry& e = whole[i];
        e.own = form == card_name_form::vms ? card_vms_stem(card_names[i])
                                            : card_output_name(card_names[i]);
        e.name = names[i];
        e.twin = !met.insert(ascii_lower(e.own)).second;
    }
    return whole;
}

}  // namespace

int card_extract_command(const card_command_line& cl) {
    const std::string as = cl.as.value_or("raw");
    if (as != "raw" && as != "dci" && as != "vms")
        return card_usage_error("--as takes raw, dci or vms");
    const card_name_form form = as == "raw"   ? card_name_form::raw
                                : as == "dci" ? card_name_form::dci
                                              : card_name_form::vms;
    const std::string& card_path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(card_path, card, layout))
        return 2;
    const std::string dir = cl.output_dir.value_or(".");
    if (!folder_exists(dir))
        return 1;
    int status = 0;
    const std::vector<named_entry> entries = name_entries(cl, card, layout, form, dir, status);
    // Nothing of the run may replace the card it reads, whatever its name.
    input_files inputs;
    add_input(inputs, card_path);
    for (const named_entry& e : entries) {
        const std::string label = card_path + ": " + card_entry_label(e.entry);
        if (e.name.stem.empty()) {
            status = card_fail(label, "no name of it is free in the folder; not extracted");
            continue;
        }
        std::vector<output_file> outputs;
        std::string reason;
        if (!card_entry_outputs(form, dir + "/" + e.name.stem, e.entry,
                                card_chain_bytes(card, e.chain), outputs, reason)) {
            status = card_fail(label, reason + "; not extracted");
            continue;
        }
        file_error error;
        if (!write_outputs(outputs, cl.force, error, &inputs)) {
            status = card_fail_write(error);
            continue;
        }
        if (e.name.chosen && !cl.quiet)
            card_fail(label, why_chosen(e.own, e.name, form, e.twin), 0);
    }
    return status;
}
