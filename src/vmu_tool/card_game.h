// Finding a game in a whole card image: run --card takes the flash from the
// image, and FILE names the game it must hold, by name or #SLOT.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

/// The card's flash in its own byte order, when the entry that `entry` names
/// on the image (raw or Nexus order) is a game: a name or #SLOT, as
/// card_find_entry takes it. False with the reason when it is not, or the
/// image is no card.
bool card_game_flash(std::span<const std::uint8_t> file, const std::string& entry,
                     std::vector<std::uint8_t>& flash, std::string& reason);
