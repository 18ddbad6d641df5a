// What a conversion into one of the exchange formats writes: a DCI, or a .vms
// with the .vmi beside it, from a save as read and analysed. Shared by
// vmurx-save convert and vmurx-card extract, so that both write the same
// bytes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "save/save_files.h"
#include "save/save_header.h"

/// What a conversion takes besides the save: texts of the VMI that the save
/// itself does not carry, and whether a declared type wins over the header.
struct convert_options {
    std::optional<std::string> description;  // default: the VMU menu's description
    std::optional<std::string> copyright;
    bool force_type = false;  // the declared type even where the header is another's
};

/// The files of `in` converted to `out_path`: a DCI when it names one, else
/// a .vms with its .vmi. The type is the header's where the analysis found
/// one, else the declared one (with `force_type`: the declared one). False
/// with the object (`in_path` or the name) and the reason when the card name,
/// stamp or type is unknown, or the .vms's name does not fit the VMI.
bool save_card_outputs(const std::string& in_path, const save_input& in,
                       const save_analysis& analysis, const std::string& out_path,
                       const convert_options& options, std::vector<output_file>& outputs,
                       file_error& error);
