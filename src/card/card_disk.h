// Card images on disk and the names a user gives: reading a card file,
// writing a changed card so that a failure never damages it, finding an
// ENTRY by name or slot, and the file name an extracted file gets.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "card/card_image.h"
#include "files/file_error.h"

/// Reads the card file at `path` (no more than one byte past a card's size).
bool card_load(const std::string& path, card_image& card, file_error& error);

/// Writes the card to `path` in its byte order through a temporary file in
/// the same directory, then reads it back and compares. With `replace` an
/// existing card is replaced; without it an existing file is refused.
bool card_store(const std::string& path, const card_image& card, bool replace, file_error& error);

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
