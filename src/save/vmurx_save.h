// vmurx-save's commands and what they share: the parsed command line, a file
// read and analysed, and the output helpers (the usage, the messages that
// name the program and the object). One file per command: info, check,
// icon/eyecatch, convert; vmurx_save_main.cpp reads the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "save/save_files.h"
#include "save/save_header.h"

/// The program's name in its messages.
inline constexpr const char* PROGRAM = "vmurx-save";

/// The program, with its whole help text, for the command-line layer.
const cli_program& save_program();

/// The command line of one command: its options and its operands.
struct command_line {
    bool json = false;
    bool force = false;
    bool protect = false;
    bool force_type = false;
    unsigned frame = 0;
    std::size_t scale = 1;
    std::optional<std::string> name, stamp, type, description, copyright;
    std::vector<std::string> operands;
};

/// A file read and looked at.
struct examined {
    save_input input;
    save_analysis analysis;
};

/// Reads `path` and analyses its content.
bool examine(const std::string& path, examined& file, file_error& error);

/// Prints "vmurx-save: MESSAGE" (unless empty) and the usage to standard
/// error; returns 2.
int usage_error(const std::string& message);

/// Prints "vmurx-save: OBJECT: REASON" to standard error; returns 1.
int fail(const std::string& object, const std::string& reason);

/// fail() for files that could not be written: an existing file's reason
/// says that --force replaces it.
int fail_write(const file_error& error);

/// Prints "vmurx-save: warning: OBJECT: REASON" to standard error.
void warn(const std::string& object, const std::string& reason);

/// Prints "vmurx-save: OBJECT: REASON" to standard error after what is on
/// standard output, without ending anything.
void report(const std::string& object, const std::string& reason);

/// The commands; each returns the program's exit status.
int run_info(const command_line& cl);
int run_check(const command_line& cl);
int run_picture(const command_line& cl, bool eyecatch);  // icon, or eyecatch
int run_convert(const command_line& cl);
