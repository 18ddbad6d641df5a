// The file vmurx-send puts on the card: read from a save in any format
// vmurx-save reads or from an entry of a card image, with what the options
// say on top, and refused before anything moves when the card would refuse
// it anyway (a name over 12 bytes, a file over 200 blocks, a type neither
// game nor data), a game over the 128 blocks a card's root allows, which the
// card would take all the same, a --type the save's header contradicts and
// bytes that are no save at all (unless --force-type). Then its frames, as
// the card's own Copy sends them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cable/cable.h"
#include "card/card_image.h"
#include "send/send_options.h"

struct send_item {
    std::string label;  // the source in messages: FILE, or IMAGE:ENTRY
    std::array<std::uint8_t, NAME_BLOCK_SIZE> name{};  // as the name frame carries it
    bool game = false;
    std::vector<std::uint8_t> content;  // whole 512-byte blocks
    directory_tail directory{};
    std::vector<std::string> warnings;  // what was decided against what the source tells
};

/// The file's size in blocks.
std::size_t send_blocks(const send_item& item);

/// The card name as text for messages: trailing NULs cut, made printable.
std::string send_name_text(const send_item& item);

/// Reads what `cl` names and checks it as the card would. False with a
/// one-line message in `error`, its first word the file or image.
bool send_load_item(const send_command_line& cl, send_item& item, std::string& error);

/// Reads every file `cl` names (its FILEs, its --entry's, or with --all
/// every file of --card in slot order), each as send_load_item does. False
/// with the first file's message in `error` that cannot be read or that the
/// card would refuse on its own.
bool send_load_items(const send_command_line& cl, std::vector<send_item>& items,
                     std::vector<std::string>& warnings, std::string& error);

/// Puts `items` in the order the card takes them, the game first (it must
/// sit at block 0) and the rest as given, and tries each in turn on a copy
/// of `target` as the card would place it: the card the files go to when
/// the program knows it (a software card), else null for a blank card, whose
/// limits a real card has at best. Returns a line for each file the card
/// would refuse: a second game, no room left for it, a data file's name
/// already on the card or sent before it, no free entry left among the 16
/// of the directory's first block, the only ones the card looks at.
std::vector<std::string> send_plan(std::vector<send_item>& items, const card_image* target);

/// Frame `index` of the transfer, from 0: header, block code, payload,
/// trailer.
std::vector<std::uint8_t> send_frame(const send_item& item, std::size_t index);
