// vmurx-card's commands and what they share: the parsed command line, the
// messages, opening a card for a command and writing a changed one. Each
// command lives in a file of its own (vmurx_card_COMMAND.cpp).
#pragma once

#include <functional>
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

/// What a command that changes a card leaves for the frame to do.
struct card_changes {
    std::vector<std::string> lines;  // printed on success, unless -q
    bool keep_errors = false;  // the card had errors, so the new one may have some (remove, repair)
    bool write = true;         // false: nothing to write (a dry run, nothing to mend)
    int status = 0;            // the exit status when all went well
};

/// The change of a card in memory, `layout` its layout as read: 0 to go on,
/// or the exit status after the message of a refusal.
using card_change_fn =
    std::function<int(card_image& card, const card_layout& layout, card_changes& changes)>;

/// The frame of add, remove, defrag and repair: holds the CARD of the
/// command line under its lock (card_hold, --force as given; status 2 for a
/// card that cannot be read or is not one), refuses a card whose root it
/// contradicts (card_layout_sound; status 1) unless `any_root` (repair,
/// which says so itself), lets `change` change it, checks the new image (no
/// new error unless changes.keep_errors), writes it back and prints the
/// lines. The exit status.
int card_change(const card_command_line& cl, const card_change_fn& change, bool any_root = false);

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
