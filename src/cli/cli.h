// The companions' command line: one table of options per program, read by
// GNU getopt_long (argument permutation, "--", values attached or separate,
// abbreviated long options), with the messages in the style of the GNU
// tools, one help layout, one number parser and one exit status for a bad
// command line. vmurx's own command line is not read here: it keeps its
// getopt and its texts.
//
// A program lists its options as rows, reads its command line with
// cli_read (or cli_command first, for a program whose first word is a
// command), then takes the values given in order with a switch on each
// row's id. --help, -h and --version are every program's own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/// The exit status of a bad command line, with the usage on standard error.
inline constexpr int CLI_USAGE = 2;

/// One option of a program: a row of its table.
struct cli_option {
    int id;                // what the parse reports for it: the program's own name for the option
    const char* name;      // the long name, without "--"; null: the letter alone
    char letter;           // the short form ('o' for -o), or '\0'
    const char* value;     // the value's name in the help ("DIR"); null for a switch
    const char* help;      // '\n' begins a new line; longer lines are wrapped
    const char* commands;  // a program with commands: those that take it ("list check"); null: all
};

/// What a parse accepts.
struct cli_syntax {
    std::span<const cli_option> options = {};
    const char* command = nullptr;  // whose options apply, for a program with commands
    bool operands = true;           // false: a word that is no option is refused
    const char* hint = nullptr;  // after an unknown option or word: "the vmurx options follow '--'"
};

/// An option as given: its row's id and its value ("" for a switch).
struct cli_given {
    int id;
    std::string value;
};

/// A command line as read, in the order given.
struct cli_parsed {
    std::vector<cli_given> options;
    std::vector<std::string> operands;
    bool help = false;     // -h or --help
    bool version = false;  // --version
};

/// Reads argv[1] to argv[argc - 1] (argv[0] is the program or the command).
/// False with a one-line message (without the program's name) for an
/// unknown, ambiguous or incomplete option, or a word where none may be.
/// argv itself is not reordered, and the next getopt user starts afresh.
bool cli_parse(const cli_syntax& syntax, int argc, char* const argv[], cli_parsed& parsed,
               std::string& error);

/// A program as its messages name it.
struct cli_program {
    const char* name;   // "vmurx-card": the first word of every message, and of --version
    std::string usage;  // the whole help text
    std::string (*shown)(const std::string&) = nullptr;  // makes a message safe for a terminal
};

/// Prints "NAME: MESSAGE" (unless empty) and the usage on `err`; returns
/// CLI_USAGE.
int cli_usage_error(const cli_program& program, const std::string& message,
                    std::FILE* err = stderr);

/// cli_parse, then what every program does with the result: returns -1 to
/// go on with `parsed`, 0 after printing the usage (--help) or the version
/// on `out`, or CLI_USAGE after a bad command line.
int cli_read(const cli_program& program, const cli_syntax& syntax, int argc, char* const argv[],
             cli_parsed& parsed, std::FILE* out = stdout, std::FILE* err = stderr);

/// For a program whose first word is a command (git's way): returns -1 with
/// the index of argv[1] in `commands` in `which`, or the status after
/// --help or --version before any command (0), or no or an unknown command
/// (CLI_USAGE).
int cli_command(const cli_program& program, std::span<const char* const> commands, int argc,
                char* const argv[], std::size_t& which, std::FILE* out = stdout,
                std::FILE* err = stderr);

/// For a program that takes a tool's options among its own: the options in
/// `parsed` whose ids are `first_id` plus the index of a row of
/// `tool_rows`, taken out of it and given back as the tool's words in their
/// order: "--name=value" ("--name" for a switch), or for a row with no long
/// name "-x" and its value as a word of its own.
std::vector<std::string> cli_take_tool_words(cli_parsed& parsed, int first_id,
                                             std::span<const cli_option> tool_rows);

/// For `program [own options] [-- tool options]`: the number of words
/// before the first "--" (the program's name counted), and the tool's
/// command line in `tool_argv`: the program's name, what follows "--", a
/// null pointer.
int cli_split(int argc, char* argv[], std::vector<char*>& tool_argv);

/// The option lines of a help text: a line or more per row, "-h, --help"
/// and "--version" last, every text from one column and no line over 80
/// characters where the words allow it. A row with commands begins with
/// them ("list, check: ...").
std::string cli_options_help(std::span<const cli_option> options);

/// A whole number from `minimum` to `maximum`: decimal digits, or "0x" and
/// hexadecimal digits. No sign, space or suffix; false for anything else,
/// or for a number out of range.
bool cli_parse_uint(std::string_view text, std::uint64_t minimum, std::uint64_t maximum,
                    std::uint64_t& value);

/// Exactly `count` bytes, as 2 * `count` hexadecimal digits in either case.
bool cli_parse_hex_bytes(std::string_view text, std::size_t count,
                         std::vector<std::uint8_t>& bytes);
