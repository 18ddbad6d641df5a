// Finding a game in a whole card image: run --card takes the flash from the
// image, and FILE names the game it must hold.
#pragma once

#include <cstdint>
#include <span>
#include <string>

/// Whether the image's directory holds a game named `name` (trailing spaces
/// and NULs of the entry ignored); false with the reason when it does not or
/// the root names no directory inside the card.
bool card_holds_game(std::span<const std::uint8_t> card, const std::string& name,
                     std::string& reason);
