// vmurx-card's command line: the usage on standard output for each way of
// asking for it, and each bad command, option or value refused with status
// 2, the message and the usage, before any card is touched.
#include <filesystem>

#include <gtest/gtest.h>

#include "run_program.h"

namespace {

// vmurx-card with `args` in `dir`.
run_result card_program(const temp_dir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{VMURX_CARD_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
}

TEST(CommandLine, HelpBeforeOrAfterACommandOnStandardOutput) {
    temp_dir dir;
    const std::vector<std::string> helps[] = {
        {"--help"}, {"-h"}, {"list", "-h"}, {"new", "--help", "c.bin"}, {"extract", "--he"},
    };
    for (const auto& args : helps) {
        SCOPED_TRACE(testing::PrintToString(args));
        const run_result r = card_program(dir, args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.rfind("Usage: vmurx-card COMMAND", 0), 0u);
        EXPECT_EQ(r.err, "");
    }
    const run_result r = card_program(dir, {"--version"});
    EXPECT_EQ(r.out.rfind("vmurx-card (vmurx) ", 0), 0u);
}

TEST(CommandLine, BadOptionsAndValuesAreStatusTwoWithTheUsage) {
    temp_dir dir;
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{"list", "--force", "c.bin"}, "unrecognized option '--force'"},
        {{"extract", "c.bin", "-o"}, "option requires an argument -- 'o'"},
        {{"frobnicate", "c.bin"}, "unknown command 'frobnicate'"},
        {{"add", "--type", "toy", "c.bin", "F"}, "bad type 'toy' (game or data)"},
        {{"add", "--stamp", "20020230000000", "c.bin", "F"},
         "bad stamp '20020230000000' (YYYYMMDDhhmmss between the years 1900 and 9999)"},
        {{"add", "--name", "THIRTEEN_LONG", "c.bin", "F"},
         "bad name 'THIRTEEN_LONG' (1 to 12 bytes)"},
        {{"add", "--name", "A", "c.bin", "F", "G"},
         "--name, --type, --stamp and --protect need exactly one FILE"},
        {{"new", "--color", "fff", "c.bin"}, "bad color 'fff' (RRGGBBAA, eight hex digits)"},
        {{"new", "--color", "ffffffff0", "c.bin"},
         "bad color 'ffffffff0' (RRGGBBAA, eight hex digits)"},
        {{"new", "--color", "0xffffff", "c.bin"},
         "bad color '0xffffff' (RRGGBBAA, eight hex digits)"},
        {{"new", "--icon", "124", "c.bin"}, "bad icon '124' (0 to 123)"},
        {{"new", "--icon=-1", "c.bin"}, "bad icon '-1' (0 to 123)"},
        {{"new", "--icon", " 1", "c.bin"}, "bad icon ' 1' (0 to 123)"},
        {{"extract", "--as", "vmu", "c.bin"}, "--as takes raw, dci or vms"},
        {{"list"}, "no CARD given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const run_result r = card_program(dir, c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("vmurx-card: " + std::string(c.message) + "\nUsage:", 0), 0u)
            << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("c.bin")));
}

}  // namespace
