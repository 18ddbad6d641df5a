// vmurx-save convert: a save into the format its output's extension names
// (a DCI, a .vms with its .vmi, or the bytes alone), with what the options
// say about it.
#include "save/containers.h"
#include "save/stamp.h"
#include "save/vmurx_save.h"

namespace {

std::string out_base(const std::string& path) {
    const auto slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

// What the options say about the save, checked before any file is read.
struct convert_values {
    std::optional<save_stamp> stamp;
    std::optional<save_kind> kind;
};

// 0, or the status after the message on a value that is not acceptable.
int read_values(const command_line& cl, convert_values& values) {
    if (cl.name && (cl.name->empty() || cl.name->size() > 12))
        return fail(*cl.name, "a card name has 1 to 12 bytes");
    if (cl.stamp) {
        values.stamp = parse_stamp_text(*cl.stamp);
        if (!values.stamp) {
            return fail(*cl.stamp,
                        "not a time stamp YYYYMMDDhhmmss between the years 1900 and 9999");
        }
    }
    if (cl.type) {
        if (*cl.type != "game" && *cl.type != "data")
            return fail(*cl.type, "the type is game or data");
        values.kind = *cl.type == "game" ? save_kind::game : save_kind::data;
    }
    if (cl.description && cl.description->size() > 32)
        return fail("--description", "at most 32 bytes");
    if (cl.copyright && cl.copyright->size() > 32)
        return fail("--copyright", "at most 32 bytes");
    return 0;
}

// The .vms and the .vmi beside it, in the letter case of the .vms.
int vms_outputs(const std::string& out_path, const examined& f, const command_line& cl, bool game,
                bool protect, std::vector<output_file>& outputs) {
    const save_input& in = f.input;
    vmi_record vmi;
    vmi.resource_name = out_base(out_path);
    if (vmi.resource_name.empty() || vmi.resource_name.size() > 8) {
        return fail(out_path, "the VMI's resource name '" + vmi.resource_name +
                                  "' (the name without .vms) must have 1 to 8 bytes");
    }
    if (cl.description) {
        vmi.description = *cl.description;
    } else if (f.analysis.header) {
        vmi.description = trim_field(f.analysis.header->description);
    } else if (const auto icon = read_icondata_header(in.content);
               icon && f.analysis.kind == save_kind::icondata) {
        vmi.description = trim_field(icon->description);
    }
    vmi.copyright = cl.copyright.value_or("");
    vmi.stamp = *in.stamp;
    vmi.card_name = *in.name;
    vmi.mode =
        static_cast<std::uint16_t>((protect ? VMI_MODE_PROTECTED : 0) | (game ? VMI_MODE_GAME : 0));
    vmi.file_size = static_cast<std::uint32_t>(in.content.size());
    std::string vmi_path = out_path;
    vmi_path.back() = vmi_path.back() == 'S' ? 'I' : 'i';
    outputs.push_back({out_path, in.content, in.stamp});
    outputs.push_back({vmi_path, build_vmi(vmi), in.stamp});
    return 0;
}

// A DCI, or a .vms with its .vmi: both need the card's name, stamp and type.
int card_outputs(const std::string& in_path, const std::string& out_path, const examined& f,
                 const command_line& cl, std::vector<output_file>& outputs) {
    const save_input& in = f.input;
    if (!in.name)
        return fail(in_path, "the card name is unknown (give --name)");
    if (in.name->size() > 12)
        return fail(*in.name, "a card name has 1 to 12 bytes");
    if (!in.stamp)
        return fail(in_path, "the time stamp is unknown (give --stamp)");
    if (!stamp_is_valid(*in.stamp))
        return fail(in_path, "the time stamp " + stamp_iso(*in.stamp) +
                                 " is not a date between the years 1900 and 9999");
    std::optional<save_kind> type = in.kind ? in.kind : f.analysis.kind;
    if (!type) {
        return fail(in_path, "not a save, so its type is unknown (give --type)");
    }
    const bool game = type == save_kind::game;
    const bool protect = in.protect.value_or(false);
    if (format_of(out_path) != file_format::dci)
        return vms_outputs(out_path, f, cl, game, protect, outputs);
    card_entry entry;
    entry.type = game ? DCI_TYPE_GAME : DCI_TYPE_DATA;
    entry.protection = protect ? 0xFF : 0x00;
    entry.name = *in.name;
    entry.stamp = in.stamp;
    entry.header_block = game ? 1 : 0;
    outputs.push_back({out_path, build_dci(entry, in.content), in.stamp});
    return 0;
}

}  // namespace

int run_convert(const command_line& cl) {
    if (cl.operands.size() != 2)
        return usage_error("expected IN and OUT");
    const std::string& in_path = cl.operands[0];
    std::string out_path = cl.operands[1];
    if (format_of(out_path) == file_format::vmi) {
        // A .vmi names the pair: the .vms beside it is written with it.
        out_path.back() = out_path.back() == 'I' ? 'S' : 's';
    }
    convert_values values;
    if (const int status = read_values(cl, values); status != 0)
        return status;

    examined f;
    file_error error;
    if (!load_save(in_path, f.input, error))
        return fail(error.object, error.reason);
    save_input& in = f.input;
    if (cl.name)
        in.name = cl.name;
    if (values.stamp)
        in.stamp = values.stamp;
    if (values.kind)
        in.kind = values.kind;
    if (cl.protect)
        in.protect = true;
    f.analysis = analyse_save(in.content, in.kind, in.name.value_or(""));

    std::vector<output_file> outputs;
    if (format_of(out_path) == file_format::bytes) {
        outputs.push_back({out_path, in.content, in.stamp});
    } else if (const int status = card_outputs(in_path, out_path, f, cl, outputs); status != 0) {
        return status;
    }
    if (!write_outputs(outputs, cl.force, error))
        return fail(error.object, error.reason);
    return 0;
}
