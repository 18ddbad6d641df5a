// The runner the end-to-end tests start programs with: a child that hangs,
// and whatever it started, is killed at the runner's own deadline, so that a
// hung program fails its test in seconds instead of stalling the suite.
#include <chrono>

#include <gtest/gtest.h>

#include "run_program.h"

namespace {

TEST(RunProgram, KillsAHungChildAndWhatItStartedAtItsDeadline) {
    const struct {
        const char* rule;
        std::string script;
        int timeout_s;
        bool timed_out;
        int status;
    } cases[] = {
        {"a child that ends in time", "echo done; exit 3", 10, false, 3},
        {"a hung child", "sleep 60", 1, true, 128 + 9},
        {"a hung grandchild holding the output", "sleep 60 & exec sleep 60", 1, true, 128 + 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const auto start = std::chrono::steady_clock::now();
        const run_result r =
            run_program({"/bin/sh", "-c", c.script},
                        {.cwd = "", .env = {}, .unset = {}, .timeout_s = c.timeout_s});
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(r.timed_out, c.timed_out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_LT(took, std::chrono::seconds(c.timeout_s + 8));
        EXPECT_EQ(r.err.find("killed after") != std::string::npos, c.timed_out) << r.err;
    }
}

}  // namespace
