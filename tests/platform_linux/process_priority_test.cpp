// The scheduling switches behind mask_interrupts, the real-time throttle
// check and the sleep. Anything that changes this process's scheduling runs
// in a child (a death-test child that exits with the verdict).
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "may_raise_nice.h"
#include "platform/host/process_priority.h"
#include "platform/platform.h"
#include "run_program.h"

namespace {

int current_nice() {
    errno = 0;
    return getpriority(PRIO_PROCESS, 0);
}

TEST(RtThrottlingOff, OnlyMinusOneMeansOff) {
    const std::pair<const char*, bool> cases[] = {
        {"-1\n", true},   {"-1", true}, {"950000\n", false}, {"0\n", false},
        {"-10\n", false}, {"", false},  {"junk\n", false},
    };
    temp_dir dir;
    for (const auto& [text, off] : cases) {
        write_file(dir.file("rt"), text);
        EXPECT_EQ(rt_throttling_off(dir.file("rt").c_str()), off) << '"' << text << '"';
    }
    EXPECT_FALSE(rt_throttling_off(dir.file("missing").c_str()));
}

TEST(Masking, HarmlessWithoutAPort) {
    const int before = current_nice();
    mask_interrupts();
    mask_interrupts();
    EXPECT_EQ(current_nice(), before);
    unmask_interrupts();
    EXPECT_EQ(current_nice(), before);
}

// Raise and lower are plain switches: the last call decides.
TEST(Masking, SwitchesAreNotCounted) {
    if (!may_raise_nice())
        GTEST_SKIP() << "no permission to raise the priority here";
    const std::pair<const char*, int> cases[] = {
        // r = raise, l = lower; the nice value afterwards
        {"rrl", 3}, {"lr", -20}, {"rlr", -20}, {"rrrll", 3}, {"", 3},
    };
    for (const auto& [calls, nice] : cases) {
        EXPECT_EXIT(
            {
                setpriority(PRIO_PROCESS, 0, 3);
                priority_plan plan;
                priority_prepare(plan, "/nonexistent");
                for (const char* call = calls; *call != '\0'; ++call) {
                    if (*call == 'r')
                        priority_raise(plan);
                    else
                        priority_lower(plan);
                }
                const bool as_expected = current_nice() == nice && sched_getscheduler(0) == 0;
                priority_restore(plan);
                std::_Exit(as_expected && current_nice() == 3 ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "")
            << calls;
    }
}

void on_alarm(int) {}

TEST(SleepMs, WaitsTheWholeTimeThroughSignals) {
    struct sigaction action {};
    action.sa_handler = on_alarm;  // no SA_RESTART: nanosleep is interrupted
    struct sigaction previous {};
    sigaction(SIGALRM, &action, &previous);
    itimerval every_ms{{0, 1000}, {0, 1000}};
    setitimer(ITIMER_REAL, &every_ms, nullptr);

    const auto start = std::chrono::steady_clock::now();
    sleep_ms(30);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    EXPECT_GE(elapsed, std::chrono::milliseconds(30));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1000));
}

}  // namespace
