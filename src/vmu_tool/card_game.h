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

/// The whole card's flash in its own byte order, for the system ROM to
/// boot on (run --bios --card); false with the reason when it is no card.
bool card_whole_flash(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& flash,
                      std::string& reason);

/// A card as the console formats it, stamped 2000-01-01 00:00, for a ROM
/// booted without --card.
std::vector<std::uint8_t> card_blank_flash();
