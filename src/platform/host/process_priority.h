// Keeping the polling process running through a frame. A process cannot mask
// interrupts; what it can do is make the scheduler unlikely to pause it and
// keep its pages in memory. The card clocks its bits, so a pause longer than
// one clock level loses a bit, and frames carry no checksum.
//
// "Raised" is decided once, when the port is acquired: the highest setting
// the process may take that the kernel will not throttle. SCHED_FIFO is used
// only when real-time throttling is off (sched_rt_runtime_us = -1): with the
// default throttle a real-time task that spins for most of a second is
// stopped for up to 50 ms, far worse than being preempted now and then as a
// nice -20 task. After that, raising and lowering just switch between the two
// known settings, and cost nothing when the setting is already in force.
#pragma once

#include <string>

/// How the scheduler treats the calling thread.
struct sched_setting {
    int policy = 0;       // as sched_getscheduler gives it
    int rt_priority = 0;  // for SCHED_FIFO and SCHED_RR
    int nice = 0;
    bool operator==(const sched_setting&) const = default;
};

/// Where the kernel keeps its real-time throttle.
inline constexpr const char* RT_RUNTIME_PATH = "/proc/sys/kernel/sched_rt_runtime_us";

struct priority_plan {
    bool prepared = false;
    bool raised_now = false;
    sched_setting normal;
    sched_setting raised;  // equal to `normal` when nothing may be raised
};

/// Records the current setting as normal and finds the raised one by trying
/// each candidate once, best first, and returning to normal at once.
/// Nothing is raised for a thread that already has a real-time policy.
void priority_prepare(priority_plan& plan, const char* rt_runtime_path = RT_RUNTIME_PATH);

/// Switches to the raised setting. Nothing happens unless prepared.
void priority_raise(priority_plan& plan);

/// Switches back to the normal setting. Nothing happens unless prepared.
void priority_lower(priority_plan& plan);

/// Switches back to normal and forgets the plan.
void priority_restore(priority_plan& plan);

/// Raises the calling thread for the rest of its life, for a thread that
/// stands for hardware (the real-time software card): SCHED_FIFO priority 1
/// where permitted, whatever the throttle (which then stops it for 50 ms once
/// it has spun for 950 ms of a second), else the best setting
/// priority_prepare finds.
void priority_raise_for_good();

/// Whether `rt_runtime_path` says real-time throttling is off ("-1").
bool rt_throttling_off(const char* rt_runtime_path = RT_RUNTIME_PATH);

/// Locks the process's pages in memory, so that no page fault can pause a
/// frame. Also pages mapped later, where the memlock limit cannot be reached
/// (no limit, or CAP_IPC_LOCK); otherwise only those mapped now, so that a
/// later allocation never fails for want of locked memory. Returns whether
/// anything was locked.
bool lock_memory();

/// What a prepared plan gives, for a report.
struct priority_report {
    bool raised = false;        // raising switches to a higher setting than normal
    bool already_high = false;  // nothing to raise: real-time or nice -20 already
    sched_setting setting;      // the raised setting (normal when nothing is raised)
};
priority_report priority_describe(const priority_plan& plan);

/// The setting in words: "nice -20", "SCHED_FIFO priority 99", ...
std::string sched_setting_text(const sched_setting& setting);
