// An entry's files on disk, in each form.
#include "card/card_outputs.h"

#include <sys/stat.h>

#include "save/save_convert.h"

bool card_entry_outputs(card_name_form form, const std::string& path, const card_file& entry,
                        const std::vector<std::uint8_t>& content, std::vector<output_file>& outputs,
                        std::string& reason) {
    const std::optional<save_stamp> stamp = card_file_stamp(entry);
    if (form == card_name_form::raw) {
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
    if (entry.type == TYPE_GAME)
        in.kind = save_kind::game;
    else if (entry.type == TYPE_DATA)
        in.kind = save_kind::data;
    in.protect = entry.protection == CARD_PROTECTED;
    const save_analysis analysis = analyse_save(in.content, in.kind, *in.name);
    convert_error error;
    const std::string out_path = path + (form == card_name_form::dci ? ".DCI" : ".VMS");
    if (!save_card_outputs(path, in, analysis, out_path, {}, outputs, error)) {
        reason = error.reason;
        // The entry gives the name and the stamp; only the type can be
        // missing, of an entry of an unknown type whose content is no save.
        // The words are vmurx-save convert's, as they have always been.
        if (error.missing == convert_missing::type)
            reason += " (give --type)";
        return false;
    }
    return true;
}

bool card_stem_taken(const std::string& dir, const std::string& stem, card_name_form form) {
    struct stat st {};
    const auto exists = [&](const std::string& name) {
        return lstat((dir + "/" + name).c_str(), &st) == 0;
    };
    if (form == card_name_form::raw)
        return exists(stem);
    if (form == card_name_form::dci)
        return exists(stem + ".DCI");
    return exists(stem + ".VMS") || exists(stem + ".VMI");
}
