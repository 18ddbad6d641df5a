// Building the DCI, or the .vms and its .vmi, of a conversion.
#include "save/save_convert.h"

#include "files/paths.h"
#include "save/containers.h"
#include "save/stamp.h"

namespace {

// The .vms and the .vmi beside it, in the letter case of the .vms.
bool vms_outputs(const std::string& out_path, const save_input& in, const save_analysis& analysis,
                 const convert_options& options, bool game, bool protect,
                 std::vector<output_file>& outputs, convert_error& error) {
    vmi_record vmi;
    vmi.resource_name = without_extension(base_name(out_path));
    if (vmi.resource_name.empty() || vmi.resource_name.size() > 8) {
        error = {out_path, "the VMI's resource name '" + vmi.resource_name +
                               "' (the name without .vms) must have 1 to 8 bytes"};
        return false;
    }
    if (options.description) {
        vmi.description = *options.description;
    } else if (analysis.header) {
        vmi.description = trim_field(analysis.header->description);
    } else if (const auto icon = read_icondata_header(in.content);
               icon && analysis.kind == save_kind::icondata) {
        vmi.description = trim_field(icon->description);
    }
    vmi.copyright = options.copyright.value_or("");
    vmi.stamp = *in.stamp;
    vmi.card_name = *in.name;
    vmi.mode =
        static_cast<std::uint16_t>((protect ? VMI_MODE_PROTECTED : 0) | (game ? VMI_MODE_GAME : 0));
    vmi.file_size = static_cast<std::uint32_t>(in.content.size());
    std::string vmi_path = out_path;
    vmi_path.back() = vmi_path.back() == 'S' ? 'I' : 'i';
    outputs.push_back({out_path, in.content, in.stamp});
    outputs.push_back({vmi_path, build_vmi(vmi), in.stamp});
    return true;
}

}  // namespace

std::optional<save_kind> save_kind_contradicted(const save_input& in,
                                                const save_analysis& analysis) {
    // Declared data or game, the analysis follows the header where the two
    // disagree.
    if (in.kind && analysis.kind && *analysis.kind != *in.kind)
        return analysis.kind;
    return std::nullopt;
}

card_type_choice save_card_type(const save_input& in, std::optional<save_kind> given, bool force) {
    card_type_choice choice;
    const std::optional<save_kind> declared = given ? given : in.kind;
    const std::string name = in.name.value_or("");
    const save_analysis analysis = analyse_save(in.content, declared, name);
    // Where the header stands, whatever anyone declared: a declared kind
    // alone also calls a file too short for a header a cut save.
    const save_analysis plain = declared ? analyse_save(in.content, std::nullopt, name) : analysis;
    choice.is_save =
        plain.kind && (plain.kind != save_kind::icondata || plain.verdict == save_verdict::intact);
    if (declared && analysis.kind && *analysis.kind != *declared)
        choice.header_kind = analysis.kind;
    if (choice.header_kind && given && !force) {
        choice.refusal = card_type_refusal::contradicted;
        return choice;
    }
    choice.descriptor_overruled = choice.header_kind && !given;
    const std::optional<save_kind> chosen =
        force || !choice.header_kind ? declared : choice.header_kind;
    if (!chosen && !analysis.kind) {
        choice.refusal = card_type_refusal::unknown;
        return choice;
    }
    choice.kind = chosen ? chosen : analysis.kind;
    return choice;
}

bool save_card_outputs(const std::string& in_path, const save_input& in,
                       const save_analysis& analysis, const std::string& out_path,
                       const convert_options& options, std::vector<output_file>& outputs,
                       convert_error& error) {
    const auto refuse = [&](const std::string& object, const std::string& reason,
                            convert_missing missing = convert_missing::nothing) {
        error = {object, reason, missing};
        return false;
    };
    if (!in.name && !in.long_name.empty()) {
        return refuse(
            in_path, "the file's name '" + in.long_name + "' is longer than a card name's 12 bytes",
            convert_missing::name);
    }
    if (!in.name)
        return refuse(in_path, "the card name is unknown", convert_missing::name);
    if (in.name->size() > 12)
        return refuse(*in.name, "a card name has 1 to 12 bytes");
    if (!in.stamp)
        return refuse(in_path, "the time stamp is unknown", convert_missing::stamp);
    if (!stamp_is_valid(*in.stamp))
        return refuse(in_path, "the time stamp " + stamp_iso(*in.stamp) +
                                   " is not a date between the years 1900 and 9999");
    // The analysis has followed the header where a declared type contradicts
    // it; the type written is the header's, unless `force_type` insists.
    std::optional<save_kind> type = analysis.kind ? analysis.kind : in.kind;
    if (options.force_type && in.kind)
        type = in.kind;
    if (!type)
        return refuse(in_path, "not a save, so its type is unknown", convert_missing::type);
    const bool game = type == save_kind::game;
    const bool protect = in.protect.value_or(false);
    if (format_of(out_path) != file_format::dci)
        return vms_outputs(out_path, in, analysis, options, game, protect, outputs, error);
    card_entry entry;
    entry.type = game ? DCI_TYPE_GAME : DCI_TYPE_DATA;
    entry.protection = protect ? 0xFF : 0x00;
    entry.name = *in.name;
    entry.stamp = in.stamp;
    entry.header_block = game ? 1 : 0;
    outputs.push_back({out_path, build_dci(entry, in.content), in.stamp});
    return true;
}
