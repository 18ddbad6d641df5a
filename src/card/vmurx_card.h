// vmurx-card's commands and what they share: the parsed command line, the
// messages, opening a card for a command and writing a changed one. Each
// command lives in a file of its own (vmurx_card_COMMAND.cpp).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "card/card_disk.h"
#include "card/card_image.h"
#include "files/file_error.h"

inline constexpr char CARD_PROGRAM[] = "vmurx-card";

/// One command's options and operands.
struct card_command_line {
    bool json = false;
    bool force = false;
    bool protect = false;
    bool defrag = false;
    bool quiet = false;
    bool dry_run = false;
    bool force_type = false;
    std::optional<std::string> output_dir, as, name, type, stamp, colour, icon;
    std::vector<std::string> operands;
};

/// Prints "vmurx-card: OBJECT: REASON" on standard error; returns `status`.
int card_fail(const std::string& object, const std::string& reason, int status = 1);

/// card_fail() for files that could not be written or a card that could not
/// be changed: where --force helps (an existing file, a read-only or
/// hard-linked card), the reason says so.
int card_fail_write(const file_error& error);

/// Prints the usage, after a message if any, on standard error; returns 2.
int card_usage_error(const std::string& message);

/// Reads a card for list, extract, add, remove and defrag: false (after the
/// message) when it cannot be read or is not a usable card.
bool card_open(const std::string& path, card_image& card, card_layout& layout);

/// Reads a card for add, remove, defrag and repair and holds it until the
/// change is written (card_hold): false (after the message) when it cannot
/// be read or is not a usable card (status 2 in `status`), or may not be
/// changed (status 1).
bool card_open_held(const std::string& path, bool force, card_held& held, card_layout& layout,
                    int& status);

/// Writes a changed card over the held one, after checking the new image: a
/// card with errors is only written by `remove` and `repair`
/// (`was_broken`: the card had errors before, so the new one may still have
/// some). The exit status.
int card_write_changed(const card_held& held, const card_image& card, bool was_broken = false);

/// The card's name of an entry as UTF-8 text safe for a terminal.
std::string card_shown_name(const card_file& file);

int card_list_command(const card_command_line& cl);
int card_check_command(const card_command_line& cl);
int card_extract_command(const card_command_line& cl);
int card_add_command(const card_command_line& cl);
int card_remove_command(const card_command_line& cl);
int card_defrag_command(const card_command_line& cl);
int card_new_command(const card_command_line& cl);
int card_repair_command(const card_command_line& cl);
