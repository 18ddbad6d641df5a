// vmurx-save convert: a save into the format its output's extension names
// (a DCI, a .vms with its .vmi, or the bytes alone), with what the options
// say about it.
#include "save/containers.h"
#include "save/save_convert.h"
#include "save/stamp.h"
#include "save/vmurx_save.h"

namespace {

// What the options say about the save, checked before any file is read.
struct convert_values {
    std::optional<save_stamp> stamp;
    std::optional<save_kind> kind;
};

// 0, or the status after the message on a value that is not acceptable.
int read_values(const command_line& cl, convert_values& values) {
    if (cl.name && (cl.name->empty() || cl.name->size() > 12))
        return usage_error(*cl.name + ": a card name has 1 to 12 bytes");
    if (cl.stamp) {
        values.stamp = parse_stamp_text(*cl.stamp);
        if (!values.stamp) {
            return usage_error("bad stamp '" + *cl.stamp +
                               "' (YYYYMMDDhhmmss between the years 1900 and 9999)");
        }
    }
    if (cl.type) {
        if (*cl.type != "game" && *cl.type != "data")
            return usage_error("bad type '" + *cl.type + "' (game or data)");
        values.kind = *cl.type == "game" ? save_kind::game : save_kind::data;
    }
    if (cl.description && cl.description->size() > 32)
        return usage_error("--description: at most 32 bytes");
    if (cl.copyright && cl.copyright->size() > 32)
        return usage_error("--copyright: at most 32 bytes");
    return 0;
}

// The refusal, with the option that gives what is missing.
int fail_convert(const convert_error& error) {
    std::string reason = error.reason;
    switch (error.missing) {
        case convert_missing::name:
            reason += " (give --name)";
            break;
        case convert_missing::stamp:
            reason += " (give --stamp)";
            break;
        case convert_missing::type:
            reason += " (give --type)";
            break;
        case convert_missing::nothing:
            break;
    }
    return fail(error.object, reason);
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
    if (const auto header_kind = save_kind_contradicted(in, f.analysis);
        header_kind && !cl.force_type) {
        const std::string said = kind_name(*in.kind);
        const std::string header = kind_name(*header_kind);
        if (values.kind) {
            return fail(in_path, "--type " + said + " contradicts the save's header, a " + header +
                                     " file's (--force-type writes it all the same)");
        }
        warn(in_path, "the descriptor says " + said + ", but the header is a " + header +
                          " file's: written as " + header);
    }

    if ((cl.description || cl.copyright) && format_of(out_path) != file_format::vms) {
        warn(out_path, std::string(cl.description ? "--description" : "--copyright") +
                           " is written only into a .vmi, and this output has none");
    }
    std::vector<output_file> outputs;
    if (format_of(out_path) == file_format::bytes) {
        outputs.push_back({out_path, in.content, in.stamp});
    } else {
        convert_error refusal;
        if (!save_card_outputs(in_path, in, f.analysis, out_path,
                               {cl.description, cl.copyright, cl.force_type}, outputs, refusal)) {
            return fail_convert(refusal);
        }
    }
    // No output replaces the save or its companion, whatever its name.
    input_files inputs;
    for (const std::string& read : in.files_read)
        add_input(inputs, read);
    if (!write_outputs(outputs, cl.force, error, &inputs))
        return fail_write(error);
    return 0;
}
