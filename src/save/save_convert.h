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

/// A value a conversion needs that neither the save nor its descriptor
/// tells: the user can give it (vmurx-save convert's --name, --stamp, --type).
enum class convert_missing { nothing, name, stamp, type };

/// Why a conversion was refused: the object (the input or the name), the
/// reason, and the value whose absence is the reason, if any.
struct convert_error {
    std::string object;
    std::string reason;
    convert_missing missing = convert_missing::nothing;
};

/// The kind the save's header gives, where it contradicts the kind declared
/// for the save (by the user, or by a descriptor: a DCI's entry, a VMI's
/// mode); nothing where they agree or either is unknown. What goes onto a
/// card is then the header's kind unless the user insists: a program
/// refuses a user's contradicting type and warns of a descriptor's.
std::optional<save_kind> save_kind_contradicted(const save_input& in,
                                                const save_analysis& analysis);

/// Why no type was decided for a card.
enum class card_type_refusal {
    none,
    contradicted,  // the type given contradicts the header (`header_kind`), without `force`
    unknown,       // neither given, declared nor told by a header
};

/// The type a save goes onto a card as, decided one way by every program
/// that puts one there.
struct card_type_choice {
    std::optional<save_kind> kind;  // nothing when refused
    card_type_refusal refusal = card_type_refusal::none;
    std::optional<save_kind> header_kind;  // where it contradicts the type given or declared
    bool descriptor_overruled = false;     // the descriptor's type gave way to the header's
    bool is_save = false;  // a save's header (or the card's icon file) is there, of either kind
};

/// The type of `in` on a card: `given` (the user's) or else the
/// descriptor's (`in.kind`), unless the header says otherwise. A given type
/// that contradicts the header is refused unless `force`; a descriptor's
/// gives way to the header (`descriptor_overruled`, for a warning); with
/// neither, the header's. `is_save` tells whether anything in the bytes
/// confirms a save at all, for a program that refuses bytes that are none.
card_type_choice save_card_type(const save_input& in, std::optional<save_kind> given, bool force);

/// The files of `in` converted to `out_path`: a DCI when it names one, else
/// a .vms with its .vmi. The type is the header's where the analysis found
/// one, else the declared one (with `force_type`: the declared one). False
/// with the error when the card name, stamp or type is unknown or not
/// acceptable, or the .vms's name does not fit the VMI.
bool save_card_outputs(const std::string& in_path, const save_input& in,
                       const save_analysis& analysis, const std::string& out_path,
                       const convert_options& options, std::vector<output_file>& outputs,
                       convert_error& error);
