// Reading a command line through a program's table of options with
// getopt_long, the messages of a bad one, and the help's option lines.
#include "cli/cli.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>

#ifndef VMURX_VERSION
#define VMURX_VERSION "unknown"
#endif

namespace {

// The options every program has, last in the help.
enum { HELP_ID = -1, VERSION_ID = -2 };
const cli_option BUILT_IN[] = {
    {HELP_ID, "help", 'h', nullptr, "display this help and exit", nullptr},
    {VERSION_ID, "version", '\0', nullptr, "output version information and exit", nullptr},
};

// getopt_long reports a long option by this plus its index in the rows, so
// that a short letter (below 256) never stands for one.
constexpr int LONG_BASE = 256;

bool takes(const cli_option& row, const char* command) {
    if (row.commands == nullptr || command == nullptr)
        return true;
    const std::string_view list = row.commands;
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(' ', at), list.size());
        if (list.substr(at, end - at) == command)
            return true;
        at = end + 1;
    }
    return false;
}

// The rows this parse accepts: the program's for the command, then ours.
std::vector<cli_option> accepted(const cli_syntax& syntax) {
    std::vector<cli_option> rows;
    for (const cli_option& row : syntax.options) {
        if (takes(row, syntax.command))
            rows.push_back(row);
    }
    rows.insert(rows.end(), std::begin(BUILT_IN), std::end(BUILT_IN));
    return rows;
}

std::string with_hint(const std::string& message, const cli_syntax& syntax) {
    return syntax.hint == nullptr ? message : message + " (" + syntax.hint + ")";
}

// "--frob" that no row takes, or that several rows begin with.
std::string unknown_long(const std::vector<cli_option>& rows, const std::string& word,
                         const cli_syntax& syntax) {
    const std::string typed = word.starts_with("--") ? word.substr(2, word.find('=') - 2) : word;
    std::string possible;
    int matches = 0;
    for (const cli_option& row : rows) {
        if (row.name != nullptr && std::string_view(row.name).starts_with(typed)) {
            possible += std::string(" '--") + row.name + "'";
            ++matches;
        }
    }
    if (matches > 1)
        return "option '--" + typed + "' is ambiguous; possibilities:" + possible;
    return with_hint("unrecognized option '" + word + "'", syntax);
}

// The message for what getopt_long refused, as the GNU tools word it.
// `fault` is ':' for a missing value, '?' for the rest; `word` the
// command-line word it was in.
std::string refusal(int fault, int option, const std::vector<cli_option>& rows,
                    const std::string& word, const cli_syntax& syntax) {
    const bool is_long = option >= LONG_BASE;
    const std::string name = is_long ? rows[static_cast<std::size_t>(option - LONG_BASE)].name : "";
    if (fault == ':') {
        return is_long ? "option '--" + name + "' requires an argument"
                       : std::string("option requires an argument -- '") +
                             static_cast<char>(option) + "'";
    }
    if (is_long)
        return "option '--" + name + "' doesn't allow an argument";
    if (option != 0)
        return with_hint(std::string("invalid option -- '") + static_cast<char>(option) + "'",
                         syntax);
    return unknown_long(rows, word, syntax);
}

// getopt's own state, which the program's other parsers share.
struct getopt_state {
    int error_messages = opterr;
    ~getopt_state() {
        opterr = error_messages;
        optind = 0;  // whoever parses next starts from the beginning
    }
};

}  // namespace

bool cli_parse(const cli_syntax& syntax, int argc, char* const argv[], cli_parsed& parsed,
               std::string& error) {
    const std::vector<cli_option> rows = accepted(syntax);
    std::vector<option> longs;
    std::string shorts = ":";  // a missing value is told from an unknown option
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const int has_value = rows[i].value != nullptr ? required_argument : no_argument;
        if (rows[i].name != nullptr)
            longs.push_back({rows[i].name, has_value, nullptr, LONG_BASE + static_cast<int>(i)});
        if (rows[i].letter != '\0')
            shorts += std::string(1, rows[i].letter) + (rows[i].value != nullptr ? ":" : "");
    }
    longs.push_back({nullptr, 0, nullptr, 0});
    // getopt_long reorders the words it reads: a copy, not the caller's.
    std::vector<char*> words(argv, argv + argc);
    words.push_back(nullptr);

    const getopt_state saved;
    opterr = 0;  // the messages are ours
    optind = 0;  // from the start, whoever parsed before
    int got = 0;
    while ((got = getopt_long(argc, words.data(), shorts.c_str(), longs.data(), nullptr)) != -1) {
        if (got == '?' || got == ':') {
            error = refusal(got, optopt, rows, words[static_cast<std::size_t>(optind - 1)], syntax);
            return false;
        }
        const auto row = got >= LONG_BASE
                             ? rows.begin() + (got - LONG_BASE)
                             : std::find_if(rows.begin(), rows.end(),
                                            [got](const cli_option& r) { return r.letter == got; });
        parsed.help = parsed.help || row->id == HELP_ID;
        parsed.version = parsed.version || row->id == VERSION_ID;
        if (parsed.help || parsed.version)
            return true;  // what follows is not read, as with the GNU tools
        parsed.options.push_back({row->id, optarg != nullptr ? optarg : ""});
    }
    for (int i = optind; i < argc; ++i)
        parsed.operands.emplace_back(words[static_cast<std::size_t>(i)]);
    if (!syntax.operands && !parsed.operands.empty()) {
        error = with_hint("unexpected argument '" + parsed.operands.front() + "'", syntax);
        return false;
    }
    return true;
}

int cli_usage_error(const cli_program& program, const std::string& message, std::FILE* err) {
    if (!message.empty()) {
        std::fprintf(err, "%s: %s\n", program.name,
                     (program.shown != nullptr ? program.shown(message) : message).c_str());
    }
    std::fputs(program.usage.c_str(), err);
    return CLI_USAGE;
}

int cli_read(const cli_program& program, const cli_syntax& syntax, int argc, char* const argv[],
             cli_parsed& parsed, std::FILE* out, std::FILE* err) {
    std::string error;
    if (!cli_parse(syntax, argc, argv, parsed, error))
        return cli_usage_error(program, error, err);
    if (parsed.help) {
        std::fputs(program.usage.c_str(), out);
        return 0;
    }
    if (parsed.version) {
        std::fprintf(out, "%s (vmurx) %s\n", program.name, VMURX_VERSION);
        return 0;
    }
    return -1;
}

int cli_command(const cli_program& program, std::span<const char* const> commands, int argc,
                char* const argv[], std::size_t& which, std::FILE* out, std::FILE* err) {
    if (argc < 2)
        return cli_usage_error(program, "missing command", err);
    const std::string word = argv[1];
    if (word.starts_with('-')) {
        // Only --help and --version come before a command.
        cli_parsed parsed;
        const int status = cli_read(program, {.operands = false}, argc, argv, parsed, out, err);
        return status >= 0 ? status : cli_usage_error(program, "missing command", err);
    }
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (word == commands[i]) {
            which = i;
            return -1;
        }
    }
    return cli_usage_error(program, "unknown command '" + word + "'", err);
}

std::vector<std::string> cli_take_tool_words(cli_parsed& parsed, int first_id,
                                             std::span<const cli_option> tool_rows) {
    std::vector<std::string> words;
    std::vector<cli_given> own;
    for (cli_given& given : parsed.options) {
        const auto index = static_cast<std::size_t>(given.id - first_id);
        if (given.id < first_id || index >= tool_rows.size()) {
            own.push_back(std::move(given));
            continue;
        }
        const cli_option& row = tool_rows[index];
        if (row.name == nullptr) {
            words.push_back(std::string("-") + row.letter);
            if (row.value != nullptr)
                words.push_back(given.value);
        } else {
            words.push_back("--" + std::string(row.name) +
                            (row.value != nullptr ? "=" + given.value : ""));
        }
    }
    parsed.options = std::move(own);
    return words;
}

int cli_split(int argc, char* argv[], std::vector<char*>& tool_argv) {
    int separator = 1;
    while (separator < argc && std::strcmp(argv[separator], "--") != 0)
        ++separator;
    tool_argv.assign({argv[0]});
    for (int i = separator + 1; i < argc; ++i)
        tool_argv.push_back(argv[i]);
    tool_argv.push_back(nullptr);
    return separator;
}

// ---- The help's option lines ----

namespace {

constexpr std::size_t HELP_WIDTH = 80;
// A longer head ("  -o, --output=DIR") stands on a line of its own, so that
// one long option does not push every text to the right.
constexpr std::size_t HEAD_MAX = 30;

std::string head_of(const cli_option& row) {
    if (row.name == nullptr)
        return std::string("  -") + row.letter +
               (row.value != nullptr ? std::string(" ") + row.value : "");
    std::string head = row.letter != '\0' ? std::string("  -") + row.letter + ", --" : "      --";
    head += row.name;
    if (row.value != nullptr)
        head += std::string("=") + row.value;
    return head;
}

// "list, check: " for a row of some commands.
std::string commands_of(const cli_option& row) {
    std::string text = row.commands != nullptr ? row.commands : "";
    for (std::size_t at = text.find(' '); at != std::string::npos; at = text.find(' ', at + 2))
        text.replace(at, 1, ", ");
    return text.empty() ? text : text + ": ";
}

// One line of a help text from `column` on, broken at spaces before the
// margin. The continuation of an indented line ("  stall=N   stop ...")
// hangs under that line's own text. `first`: the line goes on after the
// option's head.
void append_line(std::string& help, std::string_view line, std::size_t column, bool& first) {
    const std::size_t lead = std::min(line.find_first_not_of(' '), line.size());
    std::size_t hang = 0;
    if (lead != 0) {
        const std::size_t gap = line.find("  ", lead);
        hang = gap == std::string_view::npos ? lead : line.find_first_not_of(' ', gap);
    }
    std::size_t indent = 0;
    while (true) {
        std::string_view piece = line;
        const std::size_t used = column + indent;
        const std::size_t room = HELP_WIDTH > used ? HELP_WIDTH - used : 1;
        if (line.size() > room) {
            const std::size_t cut = line.rfind(' ', room);
            if (cut != std::string_view::npos && cut > (indent == 0 ? lead : 0))
                piece = line.substr(0, cut);
        }
        const std::size_t rest = piece.size();
        while (!piece.empty() && piece.back() == ' ')
            piece.remove_suffix(1);
        if (!first && !piece.empty())
            help.append(column + indent, ' ');
        first = false;
        help += piece;
        help += '\n';
        line.remove_prefix(rest);
        line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        if (line.empty())
            return;
        indent = hang;
    }
}

}  // namespace

std::string cli_options_help(std::span<const cli_option> options) {
    std::vector<cli_option> rows(options.begin(), options.end());
    rows.insert(rows.end(), std::begin(BUILT_IN), std::end(BUILT_IN));
    std::size_t column = 0;
    for (const cli_option& row : rows) {
        if (head_of(row).size() <= HEAD_MAX)
            column = std::max(column, head_of(row).size() + 2);
    }
    std::string help;
    for (const cli_option& row : rows) {
        const std::string head = head_of(row);
        bool first = head.size() + 2 <= column;
        help += head;
        if (first)
            help.append(column - head.size(), ' ');
        else
            help += '\n';
        const std::string text = commands_of(row) + row.help;
        for (std::size_t at = 0; at <= text.size();) {
            const std::size_t end = std::min(text.find('\n', at), text.size());
            append_line(help, std::string_view(text).substr(at, end - at), column, first);
            at = end + 1;
        }
    }
    return help;
}
