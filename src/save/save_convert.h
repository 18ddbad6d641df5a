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

/// Texts of the VMI that the save itself does not carry.
struct convert_texts {
    std::optional<std::string> description;  // default: the VMU menu's description
    std::optional<std::string> copyright;
};

/// The files of `in` converted to `out_path`: a DCI when it names one, else
/// a .vms with its .vmi. False with the object (`in_path` or the name) and the
/// reason when the card name, stamp or type is unknown, or the .vms's name
/// does not fit the VMI.
bool save_card_outputs(const std::string& in_path, const save_input& in,
                       const save_analysis& analysis, const std::string& out_path,
                       const convert_texts& texts, std::vector<output_file>& outputs,
                       file_error& error);
