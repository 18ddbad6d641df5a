// vmurx-emu's own options, run as a user runs it: every wrong option, value
// or combination refused with status 2 before the tool runs (with the usage,
// or alone after a file that cannot be sent), the help and the version, the
// values taken in any letter case and up to the largest int; and the
// combinations that no card reads refused alike by each program on a
// software card.
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "emu/emu_options.h"
#include "run_program.h"

namespace {

// A wrong option is followed by the usage; a file the options name that
// cannot be sent, or a fault the transfer cannot show, by nothing more.
TEST(VmuOptions, AreRefusedWithStatusTwoBeforeTheToolRuns) {
    temp_dir cwd;
    write_file(cwd.file("big"), std::string(255 * 512 + 1, 'x'));
    write_file(cwd.file("short.dci"), "12345");
    const struct {
        std::string args, message;
        bool usage;
    } cases[] = {
        {"-x", "invalid option -- 'x' (the vmurx options follow '--')", true},
        {"--verbose", "unrecognized option '--verbose' (the vmurx options follow '--')", true},
        {"out.bin", "unexpected argument 'out.bin' (the vmurx options follow '--')", true},
        {"--file", "option '--file' requires an argument", true},
        {"--realtime=yes", "option '--realtime' doesn't allow an argument", true},
        {"--se 1", "option '--se' is ambiguous; possibilities: '--seed' '--sender'", true},
        {"--hol 1", "option '--hol' is ambiguous; possibilities: '--hold' '--hold-us'", true},
        {"--raw-name 41424344", "bad value for --raw-name: '41424344' (24 hex digits)", true},
        {"--type=0x100", "bad value for --type: '0x100' (game, data or a byte value)", true},
        {"--type=-1", "bad value for --type: '-1' (game, data or a byte value)", true},
        {"--hold 0", "bad value for --hold: '0'", true},
        {"--hold=+1", "bad value for --hold: '+1'", true},
        {"--ready=1x", "bad value for --ready-after: '1x'", true},
        {"--seed 2147483648", "bad value for --seed: '2147483648'", true},
        {"--fault stall", "unknown fault 'stall' (see --help)", true},
        {"--fault stop=0", "unknown fault 'stop=0' (see --help)", true},
        {"--realtime --hold-us 0", "bad value for --hold-us: '0' (1 to 100000)", true},
        {"--realtime --sample-us=100001", "bad value for --sample-us: '100001' (0 to 100000)",
         true},
        {"--scripted --sample-us 50", "--sample-us needs --realtime", true},
        {"--no-raise", "--no-raise needs --realtime", true},
        {"--scripted --force", "--force needs --realtime", true},
        {"--scripted --hold 3 --realtime",
         "--hold counts status reads; with --realtime use --hold-us", true},
        {"--hold 3", "--hold is for the scripted card: add --scripted", true},
        {"--cpu --report r", "--report is for the scripted card: add --scripted", true},
        {"--scripted --rc-khz 900",
         "--rc-khz is for the card's own Copy, not for --scripted or "
         "--cpu",
         true},
        {"--cpu --scripted", "--cpu and --scripted choose two cards", true},
        {"--rc-khz 599", "bad value for --rc-khz: '599' (600 to 1200)", true},
        {"--read-us 0", "bad value for --read-us: '0' (1 to 1000)", true},
        {"--pc-pause 50", "bad value for --pc-pause: '50' (LEN@EVERY in µs, such as 50@1000)",
         true},
        // Options no card of the combination reads.
        {"--realtime --pc-pause 50@1000", "--pc-pause counts the PC's time; not with --realtime",
         true},
        {"--cpu --pc-pause 50@1000 --realtime",
         "--pc-pause counts the PC's time; not with --realtime", true},
        {"--scripted --docked", "--docked is for the card's own Copy or --cpu, not for --scripted",
         true},
        {"--scripted --fault no-peer",
         "--fault no-peer is for the card's own Copy, not for --scripted or --cpu", true},
        {"--fault no-peer --cpu",
         "--fault no-peer is for the card's own Copy, not for --scripted or --cpu", true},
        // Stamps read as vmurx-card and vmurx-save read them.
        {"--stamp 20021301000000", "bad value for --stamp: '20021301000000' (YYYYMMDDhhmmss", true},
        {"--stamp 20029901000000", "bad value for --stamp: '20029901000000' (YYYYMMDDhhmmss", true},
        {"--stamp 20020230000000", "bad value for --stamp: '20020230000000' (YYYYMMDDhhmmss", true},
        {"--stamp 18991231235959", "bad value for --stamp: '18991231235959' (YYYYMMDDhhmmss", true},
        {"--stamp 2002030405060", "bad value for --stamp: '2002030405060' (YYYYMMDDhhmmss", true},
        {"--cpu --sender " + cwd.file("big"), cwd.file("big") + " is no game the card can hold",
         false},
        {"--cpu --sender /dev/zero",
         "cannot read /dev/zero: it is a character device, not a regular file", false},
        {"--file " + cwd.file("absent"), "cannot read " + cwd.file("absent") + ": No such file",
         false},
        {"--file " + cwd.file("big"), cwd.file("big") + " is larger than 255 blocks of 512 bytes",
         false},
        {"--file " + cwd.path(), "cannot read " + cwd.path() + ": Is a directory", false},
        {"--file /dev/zero", "cannot read /dev/zero: it is a character device, not a regular file",
         false},
        {"--file " + cwd.file("short.dci"),
         "cannot read " + cwd.file("short.dci") + ": too short for a DCI (5 bytes)", false},
        {"--fault wrong-code=21", "--fault wrong-code=21: the transfer has only 20 frames", false},
        // A name of terminal escapes reaches the terminal as U+FFFD.
        {"--file \x1b[2Jgone.dci", "cannot read \xEF\xBF\xBD[2Jgone.dci: No such file or directory",
         false},
        {"--seed \x1b]0;t\a", "bad value for --seed: '\xEF\xBF\xBD]0;t\xEF\xBF\xBD'", true},
    };
    const std::string program = VMURX_EMU_PATH;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::vector<std::string> argv = split_words(program + " " + c.args + " -- -v");
        run_result run = run_program(argv, {.cwd = cwd.path(), .env = {}, .unset = {}});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("vmurx-emu: " + c.message)) << run.err;
        EXPECT_EQ(run.err.find_first_of("\x1b\a"), std::string::npos) << run.err;
        const std::size_t first_end = run.err.find('\n') + 1;
        EXPECT_EQ(run.err.substr(first_end).starts_with("Usage: vmurx-emu [VMU options]"), c.usage)
            << run.err;
        if (!c.usage) {
            EXPECT_EQ(first_end, run.err.size()) << run.err;
        }
    }
}

TEST(VmuOptions, HelpAndVersionLikeEveryCompanionAndTheToolsOwnHelpUnchanged) {
    const std::string program = VMURX_EMU_PATH;
    const struct {
        std::string args;
        int status;
        std::string out, err;  // prefixes
    } cases[] = {
        {"-h", 0, "Usage: vmurx-emu [VMU options] [-- vmurx options]\n", ""},
        {"--help", 0, "Usage: vmurx-emu [VMU options] [-- vmurx options]\n", ""},
        {"--hold 0 --help", 0, "Usage: vmurx-emu [VMU options] [-- vmurx options]\n", ""},
        {"--version", 0, "vmurx-emu (vmurx) 1.1\n", ""},
        {"-- -h", 1, "", "Usage: " + program + " [OPTIONS]\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        const run_result run = run_program(split_words(program + " " + c.args));
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.out.starts_with(c.out)) << run.out;
        EXPECT_TRUE(run.err.starts_with(c.err)) << run.err;
        if (c.out.empty()) {
            EXPECT_EQ(run.out, "");
        }
    }
}

TEST(VmuOptions, AreTakenInAnyCaseAndUpToTheLargestInt) {
    const struct {
        std::vector<std::string> args;
        std::uint8_t type;
        int level_min, level_max;  // reads left in the first level after two reads
    } cases[] = {
        {{"--type", "GAME"}, 0xCC, 0, 0},
        {{"--type=Data"}, 0x33, 0, 0},
        {{"--scripted", "--hold", "2147483647"}, 0x33, INT_MAX - 1, INT_MAX - 1},
        {{"--scripted", "--hold", "2147483647", "--jitter", "2147483647"},
         0x33,
         INT_MAX - 1,
         INT_MAX - 1},
        {{"--scripted", "--jitter", "2147483647", "--seed", "7"}, 0x33, 0, INT_MAX - 1},
    };
    for (const auto& c : cases) {
        vmu_sim vmu;
        emu_options options;
        std::string error;
        ASSERT_TRUE(emu_parse_options(c.args, vmu, options, error)) << error;
        EXPECT_EQ(vmu.frames.front().payload.front(), c.type);
        vmu_sim_status_read(vmu);
        vmu_sim_status_read(vmu);
        EXPECT_GE(vmu.level_left, c.level_min) << c.args.back();
        EXPECT_LE(vmu.level_left, c.level_max) << c.args.back();
    }
}

// The options each card reads are taken with it: the refusals above stop
// no combination that does something.
TEST(VmuOptions, TakeWhatTheChosenCardReads) {
    const struct {
        std::vector<std::string> args;
        bool docked, peer_present, paused;
    } cases[] = {
        {{"--docked"}, true, true, false},
        {{"--cpu", "--docked"}, true, true, false},
        {{"--realtime", "--docked"}, true, true, false},
        {{"--fault", "no-peer"}, false, false, false},
        {{"--realtime", "--fault", "no-peer"}, false, false, false},
        {{"--pc-pause", "50@1000"}, false, true, true},
        {{"--cpu", "--pc-pause", "50@1000"}, false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        vmu_sim vmu;
        emu_options options;
        std::string error;
        ASSERT_TRUE(emu_parse_options(c.args, vmu, options, error)) << error;
        const bool cpu = options.card == emu_card::cpu;
        EXPECT_EQ(cpu ? options.cpu.docked : options.copy.config.console_power, c.docked);
        EXPECT_EQ(options.copy.config.peer_present, c.peer_present);
        const pc_pause& pause = cpu ? options.cpu.pause : options.copy.pc.pause;
        EXPECT_EQ(pause.length_ps, c.paused ? 50'000'000 : 0);
    }
}

// The PC's seeded pauses are a counting card's: every program on a software
// card refuses them in real time, where the PC's own time passes.
TEST(VmuOptions, ThePcsPausesAreRefusedInRealTimeByEveryProgramOnASoftwareCard) {
    const struct {
        const char* name;
        std::string path;
    } programs[] = {
        {"vmurx-emu", VMURX_EMU_PATH},
        {"vmurx-probe-emu", VMURX_PROBE_EMU_PATH},
        {"vmurx-send-emu", VMURX_SEND_EMU_PATH},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        const run_result run = run_program({p.path, "--realtime", "--pc-pause", "50@1000"});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with(std::string(p.name) +
                                        ": --pc-pause counts the PC's time; not with --realtime\n"
                                        "Usage: " +
                                        p.name + " "))
            << run.err;
    }
}

// Every program on a software card takes its companion's options that
// clash with none of the card's before "--" as it takes them after it: the
// same output, and the same file or card image left behind.
TEST(VmuOptions, EveryEmuProgramTakesItsCompanionsOptionsBeforeTheSeparatorToo) {
    const struct {
        const char* name;
        std::string path;
        std::vector<std::string> own;   // the program's own options, first
        std::vector<std::string> tool;  // the companion's words
        std::string left;               // the file compared after both runs
        std::string shows;              // in standard output or error, both times
        bool same_output;               // false: a measurement, not the same twice
    } cases[] = {
        {"vmurx-emu: -v and -n",
         VMURX_EMU_PATH,
         {},
         {"-v", "-n", "got.bin"},
         "got.bin",
         "Name: got.bin\n",
         true},
        {"vmurx-probe-emu: -t",
         VMURX_PROBE_EMU_PATH,
         {},
         {"-t", "1"},
         "",
         "Polling the status register for 1 s...\n",
         false},
        {"vmurx-send-emu: -q, --name, --type, --stamp, --force-type",
         VMURX_SEND_EMU_PATH,
         {"--card", "card.bin"},
         {"-q", "--name", "RAW", "--type", "data", "--stamp", "20020304050607", "--force-type",
          "raw.bin"},
         "card.bin",
         "vmurx-send-emu: the card: took RAW into slot 0, 1 block from block 199\n",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        run_result runs[2];
        std::string left[2];
        for (int after = 0; after < 2; ++after) {
            temp_dir cwd;
            file_error error;
            ASSERT_TRUE(card_store(
                cwd.file("card.bin"),
                card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, {2002, 3, 4, 5, 6, 7}, card_order::raw), true,
                error))
                << error.reason;
            write_file(cwd.file("raw.bin"), std::string(512, 'r'));
            std::vector<std::string> argv{c.path};
            argv.insert(argv.end(), c.own.begin(), c.own.end());
            if (after == 1)
                argv.emplace_back("--");
            argv.insert(argv.end(), c.tool.begin(), c.tool.end());
            runs[after] = run_program(argv, {.cwd = cwd.path(), .env = {"TZ=UTC"}, .unset = {}});
            EXPECT_EQ(runs[after].status, 0) << runs[after].err;
            EXPECT_NE((runs[after].out + runs[after].err).find(c.shows), std::string::npos)
                << runs[after].out << runs[after].err;
            if (!c.left.empty())
                left[after] = read_file(cwd.file(c.left));
        }
        if (c.same_output) {
            EXPECT_EQ(runs[0].out, runs[1].out);
            EXPECT_EQ(runs[0].err, runs[1].err);
        }
        EXPECT_EQ(left[0], left[1]);
    }
}

}  // namespace
