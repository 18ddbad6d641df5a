// vmurx-backup's own command line: the port, where the files go (a card
// image or a folder, and in which form), how many, and the log. The
// programs on the GPIO header and the software card hand it the words that
// are the tool's, after their own.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <span>
#include <string>

#include "card/card_names.h"
#include "cli/cli.h"

/// The tool's name in its messages and its --version, whatever the program.
inline constexpr const char* BACKUP_TOOL = "vmurx-backup";

/// What the command line asks for, its values checked.
struct backup_command_line {
    std::string device = "LPT1";                // -d: as vmurx's
    std::string card;                           // --card IMAGE: every file into this card image
    std::string folder;                         // -o DIR: a file on disk per file
    card_name_form form = card_name_form::dci;  // --as, with -o
    std::optional<std::size_t> count;           // --count N: end after N files stored
    std::string log;  // --log FILE: the link's log of every file; empty: none
};

/// The tool's option rows, for a program that takes some of them among its
/// own.
std::span<const cli_option> backup_option_rows();

/// The tool's help. `program` is the program the user ran, `before` what
/// goes in front of the tool's words on its command line (for
/// vmurx-backup-emu: "--card SOURCE [card options] --").
std::string backup_usage(const std::string& program, const std::string& before = "");

/// Reads argv[1] to argv[argc - 1]. Returns -1 to go on with `cl`, 0 after
/// --help or --version (on `out`), or 2 after a wrong command line (the
/// message and the usage on `err`).
int backup_read_command_line(int argc, char* argv[], const std::string& usage,
                             backup_command_line& cl, std::FILE* out = stdout,
                             std::FILE* err = stderr);
