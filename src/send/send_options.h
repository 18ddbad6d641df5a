// vmurx-send's own command line: the port, the file to send and what the
// options say about it, the echo check and the quiet switch. The programs
// on the GPIO header and the software card hand it the words that are the
// tool's, after their own.
#pragma once

#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "save/stamp.h"

/// The tool's name in its messages and its --version, whatever the program.
inline constexpr const char* SEND_TOOL = "vmurx-send";

/// What the command line asks for, its values checked.
struct send_command_line {
    std::string device = "LPT1";  // -d: as vmurx's
    bool quiet = false;           // -q: no progress, no closing line
    bool echo_check = true;       // --no-echo-check turns it off
    std::optional<std::string> name;
    std::optional<bool> game;  // --type
    bool force_type = false;   // the --type given, whatever the header says or lacks
    std::optional<save_stamp> stamp;
    std::string card;                  // --card IMAGE: send entries of a card image
    std::string entry;                 // --entry ENTRY: the one being read (send_load_item)
    std::string file;                  // FILE, unless --card: the one being read
    std::vector<std::string> entries;  // every --entry, in order
    std::vector<std::string> files;    // every FILE, in order
    bool all = false;                  // --all: every file of --card
};

/// The tool's option rows, for a program that takes some of them among its
/// own (vmurx-send-emu).
std::span<const cli_option> send_option_rows();

/// The tool's help: usage, options, exit statuses. `program` is the program
/// the user ran, `before` what goes in front of the tool's words on its
/// command line (for vmurx-send-emu: "[card options] --").
std::string send_usage(const std::string& program, const std::string& before = "");

/// Reads argv[1] to argv[argc - 1]. Returns -1 to go on with `cl`, 0 after
/// --help or --version (on `out`), or 2 after a wrong command line (the
/// message and the usage on `err`).
int send_read_command_line(int argc, char* argv[], const std::string& usage, send_command_line& cl,
                           std::FILE* out = stdout, std::FILE* err = stderr);
