// Finding a game in a whole card image: run --card takes the flash from the
// image, and FILE names the game it must hold.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

/// The card's flash in its own byte order, when the image (raw or Nexus
/// order) holds a game named `name` (trailing spaces and NULs of the entry
/// ignored); false with the reason when it does not, or is no card.
bool card_game_flash(std::span<const std::uint8_t> file, const std::string& name,
                     std::vector<std::uint8_t>& flash, std::string& reason);
