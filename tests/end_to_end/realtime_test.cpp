// The real-time card against the built vmurx-emu: a card that looks at D0 and
// D1 only every 50 µs hears the PC's bytes when the delay floor holds every
// level for 200 µs, and misses them with the bare loop, after which it stops
// sending and the tool times out as it would on real hardware.
//
// The card and the tool each need a core of their own for the length of a
// transfer. The runs are made real-time (chrt), so that other work on a
// loaded machine pauses them only for the share of each core the kernel
// still gives it; the file is empty, so a transfer lasts only about a
// hundred milliseconds. Even so the virtual machine's own pauses end many
// runs (60 of 100 completed on an idle 2-core machine here), so a run is
// tried up to ATTEMPTS times: the rule is that the floor makes a completion
// possible at all. Where real-time scheduling is not permitted, a completion
// cannot be relied on and is not checked, nor where a failed run stopped;
// that it fails still is.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

const char* const CHRT = "/usr/bin/chrt";

// With 60 in 100 runs completing, 20 attempts all fail about once in 10^8;
// the margin is for a loaded machine. A run that ends early costs a few
// hundred milliseconds at most.
constexpr int ATTEMPTS = 20;

bool may_run_real_time() {
    static const bool permitted = [] {
        try {
            return run_program({CHRT, "-f", "1", "/bin/true"}).status == 0;
        } catch (...) {
            return false;
        }
    }();
    return permitted;
}

run_result run_realtime_card(const temp_dir& dir, const std::vector<std::string>& env,
                             const std::vector<std::string>& unset,
                             const std::vector<std::string>& report = {}) {
    std::vector<std::string> argv;
    if (may_run_real_time())
        argv = {CHRT, "-f", "1"};
    std::vector<std::string> emu = {
        VMURX_EMU_PATH, "--scripted", "--realtime",      "--hold-us", "50", "--sample-us",
        "50",           "--file",     dir.file("empty"), "--name",    "RT"};
    emu.insert(emu.end(), report.begin(), report.end());
    for (const char* tool : {"--", "-n"})
        emu.emplace_back(tool);
    emu.push_back(dir.file("RT"));
    argv.insert(argv.end(), emu.begin(), emu.end());
    return run_program(argv, {.cwd = dir.path(), .env = env, .unset = unset});
}

TEST(RealTimeCard, ASlowlySamplingCardHearsThePcOnlyAboveTheFloor) {
    const struct {
        const char* rule;
        std::vector<std::string> env;
        bool completes;
    } cases[] = {
        {"floor 200 us: every D0 level is sampled", {"VMURX_DELAY_US=200"}, true},
        {"floor 0: the reply is garbled, the card stops", {"VMURX_DELAY_US=0"}, false},
        {"vmurx-emu's own floor is 0", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        if (c.completes && !may_run_real_time()) {
            std::printf("[ SKIPPED  ] %s: real-time scheduling not permitted here\n", c.rule);
            continue;
        }
        // A run in which the card did not get to signal ready, or the tool
        // missed the card's header (the kernel's real-time throttle, or the
        // virtual machine itself, can pause either that long), says nothing
        // about the floor and is tried again, as is a failed completion.
        run_result run;
        for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
            temp_dir dir;
            write_file(dir.file("empty"), "");
            run = run_realtime_card(dir, c.env, {"VMURX_DELAY_US"});
            if (run.status == 0) {
                EXPECT_EQ(read_file(dir.file("RT")), "");
                break;
            }
            if (!c.completes && run.out.find("Communications log: R:11 ") != std::string::npos)
                break;
        }
        if (c.completes) {
            EXPECT_EQ(run.status, 0) << run.err << run.out;
            EXPECT_EQ(run.err, "");
        } else {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "Error: Timeout\n");
            // The card sent its header and heard something else than the
            // reply. (Without real time the tool itself may miss the header.)
            if (may_run_real_time()) {
                EXPECT_TRUE(run.out.ends_with("\nCommunications log: R:11 S:e0 \n")) << run.out;
            }
        }
    }
}

TEST(RealTimeCard, WritesItsReportLikeEveryOtherOutput) {
    const struct {
        const char* rule;
        std::vector<std::string> report;  // "@" stands for the scratch directory
        std::string message;              // on standard error; "" for none
        std::string kept;                 // what "@/old" holds afterwards
    } cases[] = {
        {"a new report", {"--report", "@/new"}, "", "old"},
        {"an existing report is refused",
         {"--report", "@/old"},
         "@/old: File exists (use --force to replace it)\n",
         "old"},
        {"replaced with --force", {"--force", "--report", "@/old"}, "", "finished"},
        {"never through a symbolic link",
         {"--force", "--report", "@/link"},
         "@/link: not replaced: it is a symbolic link",
         "old"},
        {"a missing directory",
         {"--report", "@/none/r"},
         "@/none/r: No such file or directory",
         "old"},
        {"a device",
         {"--force", "--report", "/dev/full"},
         "/dev/full: not replaced: it is a character device",
         "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        // The transfer itself may fail on a loaded machine; only a run that
        // completed shows that the report's failure alone makes it fail.
        run_result run;
        for (int attempt = 0; attempt < ATTEMPTS; ++attempt) {
            temp_dir dir;
            write_file(dir.file("empty"), "");
            write_file(dir.file("old"), "old");
            ASSERT_EQ(symlink("old", dir.file("link").c_str()), 0);
            std::vector<std::string> report = c.report;
            for (std::string& word : report) {
                if (word.starts_with("@"))
                    word = dir.path() + word.substr(1);
            }
            run = run_realtime_card(dir, {"VMURX_DELAY_US=200"}, {}, report);
            std::string message = c.message;
            if (message.starts_with("@"))
                message = dir.path() + message.substr(1);
            if (!message.empty())
                message = "vmurx-emu: --report " + message;
            EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
            EXPECT_TRUE(read_file(dir.file("old")).starts_with(c.kept));
            if (c.report.back() == "@/new") {
                EXPECT_TRUE(read_file(dir.file("new")).starts_with("finished ")) << run.err;
            }
            if (run.err.find("Error:") == std::string::npos)
                break;
        }
        if (run.err.find("Error:") == std::string::npos) {
            EXPECT_EQ(run.status, c.message.empty() ? 0 : 1) << run.err;
        }
    }
}

}  // namespace
