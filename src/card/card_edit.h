// Changing a card in memory the way the console does: formatting a blank
// card, placing a file (data from the highest free user block downward, a
// game contiguously from block 0), removing one, and packing the files.
// Each function either does all of its work or leaves the card as it was and
// says why; none writes through a root the card contradicts
// (card_layout_sound).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "card/card_image.h"

/// A blank card as the console formats it; `colour` is red, green, blue,
/// alpha.
card_image card_new(const std::array<std::uint8_t, 4>& colour, std::uint8_t icon_shape,
                    const save_stamp& stamp, card_order order);

/// A file to put on the card.
struct card_new_file {
    std::string name;  // 1 to 12 bytes
    bool game = false;
    bool protect = false;
    save_stamp stamp;
    std::vector<std::uint8_t> content;  // padded to whole blocks when placed
};

/// Why card_add refused a file: the reason in words, and whether packing the
/// data files (card_defrag) would make room for it.
struct card_add_error {
    std::string reason;
    bool defrag_helps = false;
};

/// Places the file in the first free slot; the slot taken, or false with
/// what is needed.
bool card_add(card_image& card, const card_new_file& file, std::size_t& slot,
              card_add_error& error);

/// The same, with the reason alone.
bool card_add(card_image& card, const card_new_file& file, std::size_t& slot, std::string& reason);

/// Frees the entry's chain and clears its 32 bytes; the blocks keep their
/// contents. Of a broken chain only the blocks no other chain and no system
/// block holds are freed.
bool card_remove(card_image& card, std::size_t slot, std::string& reason);

/// Packs the game at block 0 and every data file contiguously from the top
/// of the user area downward, in slot order. Only the user area changes:
/// what lies past it (blocks some tools and games mark taken, a file of an
/// unlocked user area) stays as it is. Refuses a card with errors or lost
/// blocks.
bool card_defrag(card_image& card, std::string& reason);
