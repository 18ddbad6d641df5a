// The command line as a user meets it: the usage text, getopt's own
// diagnostics, refused operands (wherever they stand, and in strict POSIX
// order), a device name that cannot be opened, and which option value counts
// when an option repeats. Failures before the port is opened run the real
// program; the rest run against the software VMU.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

using args = std::vector<std::string>;

std::string usage(const std::string& program) {
    return "Usage: " + program +
           " [OPTIONS]\n"
           "Receive a file from a Sega Dreamcast VM\n"
           "Version 1.1\n"
           "\n"
           "  -d device  set device where the VMU is connected\n"
           "  -n name    filename to use\n"
           "  -v         verbose\n"
           "  -h         This help text\n";
}

const std::string PROGRAM = VMURX_PATH;
const std::string USAGE = usage(PROGRAM);
const std::string OPERAND = "Error: Additional file parameter\n";
const std::string INVALID_X = PROGRAM + ": invalid option -- 'x'\n";
const std::string BAD_FLOOR =
    "Error: VMURX_DELAY_US must be a whole number of microseconds from 0 to 10000\n";
const std::string UNKNOWN_COM1 =
    "Unknown parallel port: com1\nTry a hex base address if necessary (ie. 0x378)\n";

const struct {
    args arguments;
    std::vector<std::string> env;
    std::string out, err;  // an `err` ending in ": " is a prefix (the rest is strerror)
} START_UP_FAILURES[] = {
    {{"-h"}, {}, "", USAGE},
    {{"-v", "-d", "lpt2", "-h"}, {}, "", USAGE},
    {{"-h", "-v", "-n", "x"}, {}, "", USAGE},
    {{"-vh"}, {}, "", USAGE},
    {{"-x"}, {}, "", INVALID_X},
    {{"-x", "-h"}, {}, "", INVALID_X},
    {{"-h", "-x"}, {}, "", USAGE},
    {{"-d"}, {}, "", PROGRAM + ": option requires an argument -- 'd'\n"},
    {{"-v", "-n"}, {}, "", PROGRAM + ": option requires an argument -- 'n'\n"},
    {{"x"}, {}, "", OPERAND},
    {{"x", "-v"}, {}, "", OPERAND},
    {{"-v", "x"}, {}, "", OPERAND},
    {{"--", "-v"}, {}, "", OPERAND},
    {{"x", "-h"}, {}, "", USAGE},
    {{"x", "-x"}, {}, "", INVALID_X},
    {{"x", "-h"}, {"POSIXLY_CORRECT=1"}, "", OPERAND},
    {{"x", "-x"}, {"POSIXLY_CORRECT=1"}, "", OPERAND},
    {{"-d", "com1"},
     {},
     "Unknown parallel port: com1\nTry a hex base address if necessary (ie. 0x378)\n",
     "Can't open serial port: No such device\n"},
    {{"-v", "-dlpt0"},
     {},
     "Unknown parallel port: lpt0\nTry a hex base address if necessary (ie. 0x378)\n",
     "Can't open serial port: No such device\n"},
    // The delay floor's variable: taken values let the run go on to the port,
    // anything else ends it after the command line and before the port.
    {{"-d", "com1"},
     {"VMURX_DELAY_US=0"},
     UNKNOWN_COM1,
     "Can't open serial port: No such device\n"},
    {{"-d", "com1"},
     {"VMURX_DELAY_US=10000"},
     UNKNOWN_COM1,
     "Can't open serial port: No such device\n"},
    {{"-d", "com1"}, {"VMURX_DELAY_US=10001"}, "", BAD_FLOOR},
    {{"-d", "com1"}, {"VMURX_DELAY_US=-1"}, "", BAD_FLOOR},
    {{"-d", "com1"}, {"VMURX_DELAY_US="}, "", BAD_FLOOR},
    {{"-d", "com1"}, {"VMURX_DELAY_US=50us"}, "", BAD_FLOOR},
    {{"-d", "com1"}, {"VMURX_DELAY_US= 50"}, "", BAD_FLOOR},
    {{"-d", "com1"}, {"VMURX_DELAY_US=+50"}, "", BAD_FLOOR},
    {{"-h"}, {"VMURX_DELAY_US=50us"}, "", USAGE},
    {{"x"}, {"VMURX_DELAY_US=50us"}, "", OPERAND},
    {{}, {"VMURX_DELAY_US=50us"}, "", BAD_FLOOR},
};

TEST(command_line, start_up_failures_exit_1_before_the_port_opens) {
    for (const auto& c : START_UP_FAILURES) {
        args argv{PROGRAM};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(testing::PrintToString(c.arguments) + testing::PrintToString(c.env));
        run_options options;
        options.env = c.env;
        options.unset = {"POSIXLY_CORRECT", "VMURX_DELAY_US"};
        const run_result r = run_program(argv, options);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        if (c.err.ends_with(": ")) {
            EXPECT_TRUE(r.err.starts_with(c.err) && r.err.ends_with("\n")) << r.err;
        } else {
            EXPECT_EQ(r.err, c.err);
        }
    }
}

// With the software VMU a run completes; the file it writes and the port line
// show which option values counted.
const struct {
    args arguments;
    std::string open_line, file;
    bool progress;
} OPTION_VALUES[] = {
    {{}, "open \"LPT1:\" @ $378\n", "VMURX_DEMO", false},
    {{"-n", "-v"}, "open \"LPT1:\" @ $378\n", "-v", false},
    {{"-n", "a", "-n", "b"}, "open \"LPT1:\" @ $378\n", "b", false},
    {{"-nfoo", "-v", "-v"}, "open \"LPT1:\" @ $378\n", "foo", true},
    {{"-d", "lpt2", "-dlpt3"}, "open \"lpt3\" @ $3bc\n", "VMURX_DEMO", false},
    {{"-d", "0x3bc", "-v", "-d", "888"}, "open \"888\" @ $378\n", "VMURX_DEMO", true},
    // The user's own name is kept as given, a leading '.' too.
    {{"-n", ".hidden"}, "open \"LPT1:\" @ $378\n", ".hidden", false},
};

TEST(command_line, last_option_value_counts) {
    for (const auto& c : OPTION_VALUES) {
        temp_dir dir;
        args argv{VMURX_EMU_PATH, "--"};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        run_options options;
        options.cwd = dir.path();
        const run_result r = run_program(argv, options);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(r.out.starts_with(c.open_line)) << r.out;
        EXPECT_EQ(r.out.find("Waiting for VM ready") != std::string::npos, c.progress);
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            files.push_back(entry.path().filename().string());
        EXPECT_EQ(files, std::vector<std::string>{c.file});
    }
}

}  // namespace
