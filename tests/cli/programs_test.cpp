// Every companion's command line from outside, a row per program: a wrong
// option is status 2 with the message and the usage on standard error,
// --help and -h print the usage on standard output with status 0, --version
// the name and version; and every help keeps its option texts in one column
// within 80 characters.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "run_program.h"
#include "text_lines.h"

namespace {

struct program_row {
    const char* name;
    std::string path;
    std::vector<std::string> bad;  // a wrong command line
    std::string message;           // its first line on standard error
};

const program_row PROGRAMS[] = {
    {"vmurx-emu",
     VMURX_EMU_PATH,
     {"--frob"},
     "unrecognized option '--frob' (the vmurx options follow '--')"},
    {"vmurx-probe-emu",
     VMURX_PROBE_EMU_PATH,
     {"-x"},
     "invalid option -- 'x' (the vmurx-probe options follow '--')"},
    {"vmurx-probe", VMURX_PROBE_PATH, {"--time"}, "option '--time' requires an argument"},
    {"vmurx-gpio", VMURX_GPIO_PATH, {"--bias=up"}, "invalid bias 'up': pull-up or none"},
    {"vmurx-probe-gpio", VMURX_PROBE_GPIO_PATH, {"--chip"}, "option '--chip' requires an argument"},
    {"vmurx-save",
     VMURX_SAVE_PATH,
     {"icon", "--json", "f", "o.png"},
     "unrecognized option '--json'"},
    {"vmurx-card", VMURX_CARD_PATH, {"--frob"}, "unrecognized option '--frob'"},
    {"vmurx-vmu", VMURX_VMU_PATH, {"run", "--ms=0", "f.vms"}, "bad --ms '0'"},
    {"vmurx-send", VMURX_SEND_PATH, {"--type=both", "f.vms"}, "bad type 'both' (game or data)"},
    {"vmurx-send-gpio", VMURX_SEND_GPIO_PATH, {"--lines"}, "option '--lines' requires an argument"},
    {"vmurx-send-emu",
     VMURX_SEND_EMU_PATH,
     {"-x"},
     "invalid option -- 'x' (the vmurx-send options follow '--')"},
    {"vmurx-backup", VMURX_BACKUP_PATH, {"--count=0", "-o", "."}, "bad count '0' (1 to 200)"},
    {"vmurx-backup-gpio",
     VMURX_BACKUP_GPIO_PATH,
     {"--chip"},
     "option '--chip' requires an argument"},
    {"vmurx-backup-emu",
     VMURX_BACKUP_EMU_PATH,
     {"-x"},
     "invalid option -- 'x' (the vmurx-backup options follow '--')"},
};

TEST(Companions, AWrongCommandLineIsStatusTwoWithTheUsageOnStandardError) {
    for (const program_row& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        std::vector<std::string> argv{p.path};
        argv.insert(argv.end(), p.bad.begin(), p.bad.end());
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), std::string(p.name) + ": " + p.message);
        EXPECT_EQ(r.err.find("\nUsage: " + std::string(p.name) + " "), r.err.find('\n')) << r.err;
    }
}

// A word of terminal escapes comes back in the message as U+FFFD, in
// every program alike.
TEST(Companions, AWrongWordOfEscapesReachesTheTerminalEscaped) {
    for (const program_row& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        const std::string name = p.name;
        std::vector<std::string> argv{p.path};
        if (name == "vmurx-save" || name == "vmurx-card" || name == "vmurx-vmu")
            argv.emplace_back(name == "vmurx-save"   ? "info"
                              : name == "vmurx-card" ? "list"
                                                     : "run");
        argv.emplace_back("--\x1b]0;t\a");
        const run_result r = run_program(argv);
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(
            r.err.starts_with(name + ": unrecognized option '--\xEF\xBF\xBD]0;t\xEF\xBF\xBD'"))
            << r.err;
        EXPECT_EQ(r.err.find_first_of("\x1b\a"), std::string::npos) << r.err;
    }
}

TEST(Companions, HelpAndVersionOnStandardOutputWithStatusZero) {
    for (const program_row& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        for (const char* help : {"--help", "-h"}) {
            const run_result r = run_program({p.path, help});
            EXPECT_EQ(r.status, 0) << help;
            EXPECT_TRUE(r.out.starts_with("Usage: " + std::string(p.name) + " ")) << r.out;
            EXPECT_EQ(r.err, "");
        }
        const run_result version = run_program({p.path, "--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, std::string(p.name) + " (vmurx) " VMURX_VERSION "\n");
        EXPECT_EQ(version.err, "");
    }
}

// Where the text of an option line of a help begins ("  -o, --output=DIR   text"
// or "      --json   text"), and the spaces before it; nothing for another
// line. Read by hand: GCC's <regex> draws false warnings under the sanitizers.
struct option_text {
    std::size_t column;
    std::size_t spaces;
};
std::optional<option_text> option_text_of(const std::string& line) {
    std::size_t at = 0;
    if (line.starts_with("  -") && line.size() > 7 && line.compare(4, 4, ", --") == 0)
        at = 8;
    else if (line.starts_with("      --"))
        at = 8;
    else
        return std::nullopt;
    const std::size_t name_end = line.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at);
    if (name_end == at || name_end == std::string::npos)
        return std::nullopt;
    std::size_t value_end = name_end;
    if (line[name_end] == '=')
        value_end = line.find(' ', name_end);
    if (value_end == std::string::npos || line[value_end] != ' ')
        return std::nullopt;
    const std::size_t text = line.find_first_not_of(' ', value_end);
    if (text == std::string::npos)
        return std::nullopt;
    return option_text{text, text - value_end};
}

TEST(Companions, HelpKeepsTheOptionTextsInOneColumnWithinEightyCharacters) {
    for (const program_row& p : PROGRAMS) {
        SCOPED_TRACE(p.name);
        std::set<std::size_t> columns;
        std::size_t options = 0;
        for (const std::string& line : lines_of(run_program({p.path, "--help"}).out)) {
            EXPECT_LE(line.size(), 80U) << line;
            const std::optional<option_text> text = option_text_of(line);
            if (!text)
                continue;
            ++options;
            EXPECT_GE(text->spaces, 2U) << "an option runs into its text: " << line;
            columns.insert(text->column);
        }
        EXPECT_GE(options, 3U);
        EXPECT_EQ(columns.size(), 1U);
    }
}

}  // namespace
