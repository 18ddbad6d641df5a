// The names that files taken off a card get on disk, chosen for all the
// entries of one run together: each entry keeps the name its card name gives
// where it can; a second entry of that name, or a .VMS name the card name
// does not fit, gets one chosen against every name of the run and every file
// already in the folder, so that no file of the run replaces another and no
// chosen name replaces a file that was there.
#pragma once

#include <functional>
#include <string>
#include <vector>

/// What an entry is written as: the bytes alone, a .DCI, or a .VMS and .VMI.
enum class card_name_form { raw, dci, vms };

/// An entry's name on disk, without the .DCI or .VMS: `chosen` when it is
/// not the one its card name gives as it is (a twin's, or a .VMS name made
/// to fit).
struct card_disk_name {
    std::string stem;
    bool chosen = false;
};

/// The name a .VMS gets from a card name, as the console's copier makes
/// one: at most 8 bytes (a VMI names its .VMS by at most 8), trailing NULs
/// and spaces dropped, what is not an ASCII letter, digit, '_' or '-' made
/// '_'; "_" when nothing is left.
std::string card_vms_stem(const std::string& card_name);

/// The names for entries of the card names `card_names`, in their order.
/// `exists(stem)` tells whether the folder holds a file that the name would
/// write (the .VMI too, for a .VMS). A name the card name gives unchanged is
/// kept even where a file of that name exists (whether to replace it is
/// the caller's); a twin's gets "~2", "~3" ... (within 8 bytes for a .VMS;
/// the '~' is outside card_vms_stem's rule, so no own name has one).
/// Names are compared without regard to letter case, as some file systems
/// compare them. A stem left empty: no variant is free.
std::vector<card_disk_name> card_disk_names(const std::vector<std::string>& card_names,
                                            card_name_form form,
                                            const std::function<bool(const std::string&)>& exists);
