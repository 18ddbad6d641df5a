// The companions' command-line layer on its own: the forms getopt_long
// takes and the messages for the ones it refuses, the number parser, the
// help's columns, and a program's first word as its command.
#include "cli/cli.h"

#include <getopt.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "text_lines.h"

namespace {

enum { OUTPUT = 1, FORCE, FORCE_TYPE, NAME, JSON, STAMP, SEED };

const cli_option ROWS[] = {
    {OUTPUT, "output", 'o', "DIR", "write into DIR", nullptr},
    {FORCE, "force", '\0', nullptr, "replace", nullptr},
    {FORCE_TYPE, "force-type", '\0', nullptr, "write the type", nullptr},
    {NAME, "name", 'n', "NAME", "the name", "add"},
    {JSON, "json", '\0', nullptr, "print JSON", "list check"},
    {STAMP, "stamp", '\0', "STAMP", "the stamp", nullptr},
    {SEED, "seed", '\0', "N", "the seed", nullptr},
};

std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words{"prog"};
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

struct parse_outcome {
    bool ok;
    std::string error;
    std::string given;  // "id=value " for each option
    std::string operands;
    bool help, version;
};

parse_outcome parse(const cli_syntax& syntax, const std::string& line) {
    std::vector<std::string> words = words_of(line);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    const std::vector<char*> before = argv;
    cli_parsed parsed;
    parse_outcome o{};
    o.ok = cli_parse(syntax, static_cast<int>(argv.size()), argv.data(), parsed, o.error);
    EXPECT_EQ(argv, before) << "the caller's words were reordered";
    for (const cli_given& g : parsed.options)
        o.given += std::to_string(g.id) + "=" + g.value + " ";
    for (const std::string& w : parsed.operands)
        o.operands += w + " ";
    o.help = parsed.help;
    o.version = parsed.version;
    return o;
}

TEST(CliParse, TakesTheGnuFormsAndNamesWhatItRefuses) {
    const struct {
        const char* line;
        const char* command;
        std::string given, operands, error;
    } cases[] = {
        // Values attached or separate, short or long, abbreviated.
        {"-o dir", nullptr, "1=dir ", "", ""},
        {"-odir", nullptr, "1=dir ", "", ""},
        {"--output dir", nullptr, "1=dir ", "", ""},
        {"--output=dir", nullptr, "1=dir ", "", ""},
        {"--out=dir", nullptr, "1=dir ", "", ""},
        {"--output=", nullptr, "1= ", "", ""},
        {"-o -x", nullptr, "1=-x ", "", ""},
        // Operands anywhere; "--" ends the options; "-" is an operand.
        {"a -o d b", nullptr, "1=d ", "a b ", ""},
        {"-- -o x", nullptr, "", "-o x ", ""},
        {"- --force", nullptr, "2= ", "- ", ""},
        // Repeated options, each in its turn; an exact name before a longer one.
        {"-o a --seed 3 -o b", nullptr, "1=a 7=3 1=b ", "", ""},
        {"--force --force-type", nullptr, "2= 3= ", "", ""},
        // A command's own options, and no other's.
        {"--json x", "list", "5= ", "x ", ""},
        {"-n A x", "add", "4=A ", "x ", ""},
        {"--name A", "list", "", "", "unrecognized option '--name'"},
        {"--json", "add", "", "", "unrecognized option '--json'"},
        // Refusals, worded as the GNU tools word them.
        {"--frob", nullptr, "", "", "unrecognized option '--frob'"},
        {"--frob=1", nullptr, "", "", "unrecognized option '--frob=1'"},
        {"-x", nullptr, "", "", "invalid option -- 'x'"},
        {"-fo", nullptr, "", "", "invalid option -- 'f'"},
        {"-o", nullptr, "", "", "option requires an argument -- 'o'"},
        {"--output", nullptr, "", "", "option '--output' requires an argument"},
        {"--outp", nullptr, "", "", "option '--output' requires an argument"},
        {"--force=yes", nullptr, "", "", "option '--force' doesn't allow an argument"},
        {"--forc", nullptr, "", "",
         "option '--forc' is ambiguous; possibilities: '--force' '--force-type'"},
        {"--s=1", nullptr, "", "", "option '--s' is ambiguous; possibilities: '--stamp' '--seed'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const parse_outcome o = parse({.options = ROWS, .command = c.command}, c.line);
        EXPECT_EQ(o.ok, c.error.empty());
        EXPECT_EQ(o.error, c.error);
        if (o.ok) {
            EXPECT_EQ(o.given, c.given);
            EXPECT_EQ(o.operands, c.operands);
        }
    }
}

TEST(CliParse, HelpAndVersionEndTheReadingAndOperandsMayBeRefused) {
    const struct {
        const char* line;
        bool operands;
        const char* hint;
        bool ok, help, version;
        std::string error;
    } cases[] = {
        {"-h", true, nullptr, true, true, false, ""},
        {"--he", true, nullptr, true, true, false, ""},
        {"--help -x", true, nullptr, true, true, false, ""},
        {"-o d --version --frob", true, nullptr, true, false, true, ""},
        {"-x --help", true, nullptr, false, false, false, "invalid option -- 'x'"},
        {"word", false, nullptr, false, false, false, "unexpected argument 'word'"},
        {"-o d word", false, "the tool's options follow '--'", false, false, false,
         "unexpected argument 'word' (the tool's options follow '--')"},
        {"-v", false, "the tool's options follow '--'", false, false, false,
         "invalid option -- 'v' (the tool's options follow '--')"},
        {"--frob", false, "hint", false, false, false, "unrecognized option '--frob' (hint)"},
        // Not an unknown option: no hint.
        {"--output", false, "hint", false, false, false, "option '--output' requires an argument"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const parse_outcome o =
            parse({.options = ROWS, .operands = c.operands, .hint = c.hint}, c.line);
        EXPECT_EQ(o.ok, c.ok);
        EXPECT_EQ(o.help, c.help);
        EXPECT_EQ(o.version, c.version);
        EXPECT_EQ(o.error, c.error);
    }
}

// vmurx_main reads the tool's options with getopt after a companion read its
// own: it must start from its first word, with its own messages on.
TEST(CliParse, LeavesGetoptToTheNextParserFromTheStart) {
    for (const char* line : {"-o d", "-xq", "--output", "a b -- c"}) {
        SCOPED_TRACE(line);
        opterr = 1;
        parse({.options = ROWS}, line);
        EXPECT_EQ(opterr, 1);
        std::vector<std::string> words{"vmurx", "-v", "out", "-d", "LPT2"};
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        std::string seen;
        for (int c; (c = getopt(static_cast<int>(argv.size()), argv.data(), "d:hn:v")) != -1;)
            seen += static_cast<char>(c) + std::string(optarg != nullptr ? optarg : "") + " ";
        EXPECT_EQ(seen, "v dLPT2 ");
        EXPECT_EQ(optind, 4);
        EXPECT_STREQ(argv[static_cast<std::size_t>(optind)], "out");
        optind = 0;
    }
}

TEST(CliParseUint, TakesDecimalAndHexDigitsOnlyWithinTheBounds) {
    const struct {
        const char* text;
        std::uint64_t minimum, maximum;
        bool ok;
        std::uint64_t value;
    } cases[] = {
        {"0", 0, 10, true, 0},
        {"42", 0, 100, true, 42},
        {"0x2A", 0, 100, true, 42},
        {"0X2a", 0, 100, true, 42},
        {"010", 0, 100, true, 10},  // decimal, never octal
        {"100", 1, 100, true, 100},
        {"101", 1, 100, false, 0},
        {"0", 1, 100, false, 0},
        {"", 0, 100, false, 0},
        {" 5", 0, 100, false, 0},
        {"5 ", 0, 100, false, 0},
        {"+5", 0, 100, false, 0},
        {"-0", 0, 100, false, 0},
        {"-1", 0, UINT64_MAX, false, 0},
        {"5x", 0, 100, false, 0},
        {"1e3", 0, 10000, false, 0},
        {"0x", 0, 100, false, 0},
        {"0x-1", 0, 100, false, 0},
        {"0xg", 0, 100, false, 0},
        {"0b1", 0, 100, false, 0},
        {"60.5", 0, 600, false, 0},
        {"18446744073709551615", 0, UINT64_MAX, true, UINT64_MAX},
        {"18446744073709551616", 0, UINT64_MAX, false, 0},
        {"99999999999999999999", 0, UINT64_MAX, false, 0},
        {"0xFFFFFFFFFFFFFFFF", 0, UINT64_MAX, true, UINT64_MAX},
        {"0x10000000000000000", 0, UINT64_MAX, false, 0},
        {"2147483648", 0, 2147483647, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::uint64_t value = 7;
        EXPECT_EQ(cli_parse_uint(c.text, c.minimum, c.maximum, value), c.ok);
        EXPECT_EQ(value, c.ok ? c.value : 7) << "a refused text leaves the value";
    }
}

TEST(CliParseHexBytes, TakesExactlyTwoDigitsPerByte) {
    const struct {
        const char* text;
        std::size_t count;
        std::vector<std::uint8_t> bytes;  // empty: refused
    } cases[] = {
        {"00ff7F", 3, {0x00, 0xFF, 0x7F}},
        {"00ff7", 3, {}},
        {"00ff7F00", 3, {}},
        {"0g0000", 3, {}},
        {" 10000", 3, {}},
        {"+10000", 3, {}},
        {"0x0000", 3, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<std::uint8_t> bytes{9};
        EXPECT_EQ(cli_parse_hex_bytes(c.text, c.count, bytes), !c.bytes.empty());
        EXPECT_EQ(bytes, c.bytes.empty() ? std::vector<std::uint8_t>{9} : c.bytes);
    }
}

TEST(CliOptionsHelp, OneTextColumnAndNoLineOverEighty) {
    const cli_option rows[] = {
        {1, "file", '\0', "PATH", "the file to send", nullptr},
        {2, "cycles-per-read", '\0', "N", "with --cpu: the card's cycles per status read", nullptr},
        {3, "output", 'o', "DIR", "write into DIR", "extract"},
        {4, "json", '\0', nullptr, "print JSON", "list check"},
        {5, "a-name-far-too-long-for-the-column", '\0', "VALUE", "stands alone", nullptr},
        {6, "fault", '\0', "FAULT",
         "a fault of the card:\n"
         "  stall=N        stop clocking before the first bit of the Nth byte the card sends "
         "(counted from 0)\n"
         "Frames count from 1: start, name, then data and flash blocks alternately, then the "
         "directory.",
         nullptr},
    };
    const std::vector<std::string> lines = lines_of(cli_options_help(rows));
    const std::string expected[] = {
        "      --file=PATH          the file to send",
        "      --cycles-per-read=N  with --cpu: the card's cycles per status read",
        "  -o, --output=DIR         extract: write into DIR",
        "      --json               list, check: print JSON",
        "      --a-name-far-too-long-for-the-column=VALUE",
        "                           stands alone",
        "      --fault=FAULT        a fault of the card:",
        "                             stall=N        stop clocking before the first bit",
        "                                            of the Nth byte the card sends",
        "                                            (counted from 0)",
        "                           Frames count from 1: start, name, then data and flash",
        "                           blocks alternately, then the directory.",
        "  -h, --help               display this help and exit",
        "      --version            output version information and exit",
    };
    ASSERT_EQ(lines.size(), std::size(expected));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i], expected[i]);
        EXPECT_LE(lines[i].size(), 80U) << lines[i];
    }
}

// What a program prints, captured.
struct printed {
    int status;
    std::string out, err;
};

std::string contents(std::FILE* file) {
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

template <typename Call>
printed capture(Call call) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = call(out, err);
    return {status, contents(out), contents(err)};
}

TEST(CliCommand, TheFirstWordIsTheCommandOrHelpOrVersion) {
    const char* const commands[] = {"list", "add"};
    const cli_program program{"prog", "Usage: prog COMMAND\n",
                              [](const std::string& s) { return "<" + s + ">"; }};
    const struct {
        const char* line;
        int status;
        std::size_t which;
        std::string out, err;
    } cases[] = {
        {"", 2, 0, "", "prog: <missing command>\nUsage: prog COMMAND\n"},
        {"add x", -1, 1, "", ""},
        {"list", -1, 0, "", ""},
        {"--help", 0, 0, "Usage: prog COMMAND\n", ""},
        {"-h list", 0, 0, "Usage: prog COMMAND\n", ""},
        {"--version", 0, 0, "prog (vmurx) " VMURX_VERSION "\n", ""},
        {"frob", 2, 0, "", "prog: <unknown command 'frob'>\nUsage: prog COMMAND\n"},
        {"--json list", 2, 0, "", "prog: <unrecognized option '--json'>\nUsage: prog COMMAND\n"},
        {"--", 2, 0, "", "prog: <missing command>\nUsage: prog COMMAND\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> words = words_of(c.line);
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        std::size_t which = 0;
        const printed p = capture([&](std::FILE* out, std::FILE* err) {
            return cli_command(program, commands, static_cast<int>(argv.size()), argv.data(), which,
                               out, err);
        });
        EXPECT_EQ(p.status, c.status);
        EXPECT_EQ(p.out, c.out);
        EXPECT_EQ(p.err, c.err);
        EXPECT_EQ(which, c.which);
    }
}

TEST(CliSplit, GivesTheToolTheWordsAfterTheFirstSeparator) {
    const struct {
        const char* line;
        int own;
        std::string tool;
    } cases[] = {
        {"", 1, "prog "},
        {"--hold 3", 3, "prog "},
        {"--hold 3 -- -v -- x", 3, "prog -v -- x "},
        {"-- --", 1, "prog -- "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> words = words_of(c.line);
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        std::vector<char*> tool;
        EXPECT_EQ(cli_split(static_cast<int>(argv.size()), argv.data(), tool), c.own);
        ASSERT_FALSE(tool.empty());
        EXPECT_EQ(tool.back(), nullptr);
        std::string joined;
        for (std::size_t i = 0; i + 1 < tool.size(); ++i)
            joined += std::string(tool[i]) + " ";
        EXPECT_EQ(joined, c.tool);
    }
}

}  // namespace
