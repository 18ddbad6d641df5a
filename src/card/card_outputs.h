// The files an entry of a card becomes on disk: the bytes as on the card, a
// .DCI, or a .VMS with its .VMI, converted as vmurx-save convert converts
// the card's file with its entry. vmurx-card extract and vmurx-backup -o
// write them so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "card/card_names.h"
#include "save/save_files.h"

/// The files of `entry` with `content` (its chain's bytes), ready to write
/// under `path`, which is the stem: ".DCI" or ".VMS" (and its ".VMI") is
/// added for those forms. False with the reason when the entry cannot be
/// converted: a stamp that is no date, or a type the content cannot tell.
bool card_entry_outputs(card_name_form form, const std::string& path, const card_file& entry,
                        const std::vector<std::uint8_t>& content, std::vector<output_file>& outputs,
                        std::string& reason);

/// Whether the folder `dir` holds a file that `stem` would write in `form`
/// (the .VMI too, for a .VMS), a symbolic link or a folder of that name
/// included.
bool card_stem_taken(const std::string& dir, const std::string& stem, card_name_form form);
