// Where the card's own system software puts a new file, and writing it
// there: a game contiguously from block 0 upward, a data file in the free
// user blocks from the top of the user area (block 199 on a standard card)
// downward, its entry in the first free directory slot. The console's file
// manager and the card's own when it receives a file place files so;
// card_add and the software receiving card both place through here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "card/card_image.h"

/// The blocks a file of `count` blocks gets, in chain order: for a game
/// blocks 0 to count - 1, every one of them free and within the user area;
/// for a data file the free user blocks from the highest downward. Empty
/// when there are not enough such blocks (or `count` is 0).
std::vector<std::uint16_t> card_choose_blocks(const card_image& card, const card_layout& layout,
                                              bool game, std::size_t count);

/// The free blocks of the user area.
std::size_t card_free_user_blocks(const card_image& card, const card_layout& layout);

/// The entries of the directory's first block: the only ones the card
/// looks at for a free entry when it receives a file.
inline constexpr std::size_t CARD_SLOTS_LOOKED_AT = 16;

/// The first directory slot without a file, if any.
std::optional<std::size_t> card_free_slot(const card_image& card, const card_layout& layout);

/// Writes `content` into `blocks`, each zero-padded to a whole block, and
/// links them in that order in the FAT, the last one ending the chain.
void card_write_chain(card_image& card, const card_layout& layout,
                      const std::vector<std::uint16_t>& blocks,
                      std::span<const std::uint8_t> content);

/// An entry's bytes 0x10 to 0x1B, as the cable's directory frame carries
/// them: the stamp with its weekday, the size and the header's block offset.
directory_tail card_entry_tail(const card_file& file);

/// Sets the fields of those bytes from the frame's 12 bytes, as they come.
void card_set_entry_tail(card_file& file, const directory_tail& tail);
