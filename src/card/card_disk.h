// Card images on disk and the names a user gives: reading a card file,
// holding one under its lock while it is changed and writing it back so that
// neither a failure nor another writer ever loses it, finding an ENTRY by
// name or slot, and the file name an extracted file gets.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "files/file_error.h"
#include "files/held_file.h"

/// Reads the card file at `path` (no more than one byte past a card's size).
bool card_load(const std::string& path, card_image& card, file_error& error);

/// Writes the card to `path` in its byte order through a temporary file in
/// the same directory, then reads it back and compares. With `replace` an
/// existing card is replaced; without it an existing file is refused.
bool card_store(const std::string& path, const card_image& card, bool replace, file_error& error);

/// A card read to be changed: the card file, held under its lock until this
/// goes (hold_file), and its image as read.
struct card_held {
    held_file file;
    card_image card;
};

/// Reads the card at `path` to change it, and holds it. Refused, with
/// nothing changed: a card another program is changing
/// (file_failure::in_use); unless `force`, a card this user may not write,
/// or that has no write bit at all for root (file_failure::read_only), and
/// one with other names (hard links) from which a new image would part it
/// (file_failure::linked); whatever `force` says, a symbolic link, which
/// the new image would never replace (file_failure::not_regular); and what
/// card_load refuses.
bool card_hold(const std::string& path, bool force, card_held& held, file_error& error);

/// Writes the changed card over the held one as card_store does, and only
/// while it is still the card read: a card another program changed or
/// replaced meanwhile is left as that program left it
/// (file_failure::changed).
bool card_store_held(const card_held& held, const card_image& card, file_error& error);

/// The slot an ENTRY names: "#N", that slot whatever the names; or a name
/// (the 12 bytes, trailing NULs ignored, compared exactly; when no name
/// matches so, trailing spaces are ignored too). False with the reason when
/// nothing or several entries match. Every program that takes an ENTRY
/// finds it here.
bool card_find_entry(const card_image& card, const card_layout& layout, const std::string& entry,
                     std::size_t& slot, std::string& reason);

/// Whether `path` holds a readable card image.
bool card_is_image(const std::string& path);

/// The entry an ENTRY names on the card at `path` and its whole chain of
/// blocks; false with a one-line reason ("PATH: reason") when the card
/// cannot be read or the entry not found or its chain is damaged.
bool card_take_file(const std::string& path, const std::string& entry, card_file& file,
                    std::vector<std::uint8_t>& content, std::string& error);

/// The name an extracted file gets: a '/' or a control character becomes
/// '_', as does a leading '.'; trailing NULs and spaces are dropped, inner
/// spaces kept. A name that is left empty becomes "_".
std::string card_output_name(const std::string& card_name);
