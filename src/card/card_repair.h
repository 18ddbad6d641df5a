// Mending a damaged card where that can be done without guessing: a chain
// that loops or leaves the card within its entry's size ends at its last
// good block, an entry whose chain is shorter than it says is shortened to
// match, and blocks allocated in the user area but in no file are freed.
// Whatever needs a choice (two files sharing a block, a chain that runs into
// a free block or past its entry's size) is listed and left to the user, and
// while anything is left no lost block is freed: it may be the rest of that
// file. Nor is one freed in a run that cut a file short, whose rest it may
// hold: a second run frees it, once the user has kept a copy of the card.
// Nothing but the FAT and the sizes in directory entries changes; every
// block keeps its bytes. A root that the card contradicts (card_layout_sound)
// is said and nothing is mended: its FAT or its directory may be any block.
#pragma once

#include <string>
#include <vector>

#include "card/card_image.h"

struct card_repair_report {
    std::vector<std::string> mended;  // each change made, a line each
    std::vector<std::string> left;    // what is left to the user, a line each
};

/// Mends `card` in memory. False with the reason when its root cannot be
/// read (nothing changes); true otherwise, with the report (which may be
/// empty: nothing to mend). A repair that would add an error of its own to
/// the check's changes nothing, and the report says so.
bool card_repair(card_image& card, card_repair_report& report, std::string& reason);
