// Raising and restoring the scheduling of the polling thread, and locking its
// memory. Every failure is silent: without the permission the process keeps
// running as it was, which is never worse than before.
#include "platform/host/process_priority.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

constexpr int HIGHEST_NICE = -20;
constexpr int RT_POLICY_MASK = ~SCHED_RESET_ON_FORK;

sched_setting current_setting() {
    sched_setting setting;
    const int policy = sched_getscheduler(0);
    setting.policy = policy < 0 ? SCHED_OTHER : policy;
    sched_param param{};
    if (sched_getparam(0, &param) == 0)
        setting.rt_priority = param.sched_priority;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0);
    setting.nice = (nice == -1 && errno != 0) ? 0 : nice;
    return setting;
}

bool is_real_time(int policy) {
    const int base = policy & RT_POLICY_MASK;
    return base == SCHED_FIFO || base == SCHED_RR || base == SCHED_DEADLINE;
}

// Moves the thread from setting `from` to `to` with the fewest calls.
bool apply(const sched_setting& from, const sched_setting& to) {
    bool ok = true;
    if (to.policy != from.policy || to.rt_priority != from.rt_priority) {
        sched_param param{};
        param.sched_priority = to.rt_priority;
        ok = sched_setscheduler(0, to.policy, &param) == 0;
    }
    if (ok && to.nice != from.nice)
        ok = setpriority(PRIO_PROCESS, 0, to.nice) == 0;
    return ok;
}

// The settings worth trying, best first.
std::vector<sched_setting> candidates(const sched_setting& normal, const char* rt_runtime_path) {
    std::vector<sched_setting> list;
    if (rt_throttling_off(rt_runtime_path)) {
        // Reset on fork: a child of the tool never inherits real-time.
        const int fifo = SCHED_FIFO | SCHED_RESET_ON_FORK;
        const int highest = sched_get_priority_max(SCHED_FIFO);
        list.push_back({fifo, highest, normal.nice});
        rlimit rt_limit{};
        if (getrlimit(RLIMIT_RTPRIO, &rt_limit) == 0 && rt_limit.rlim_cur != RLIM_INFINITY &&
            rt_limit.rlim_cur > 0 && rt_limit.rlim_cur < static_cast<rlim_t>(highest)) {
            list.push_back({fifo, static_cast<int>(rt_limit.rlim_cur), normal.nice});
        }
    }
    // SCHED_IDLE ignores nice; the others keep their policy.
    const int fair = (normal.policy & RT_POLICY_MASK) == SCHED_IDLE ? SCHED_OTHER : normal.policy;
    list.push_back({fair, 0, HIGHEST_NICE});
    // Without CAP_SYS_NICE, RLIMIT_NICE allows nice values down to 20 - limit.
    rlimit nice_limit{};
    if (getrlimit(RLIMIT_NICE, &nice_limit) == 0 && nice_limit.rlim_cur != RLIM_INFINITY &&
        nice_limit.rlim_cur > 0 && nice_limit.rlim_cur < 40) {
        list.push_back({fair, 0, 20 - static_cast<int>(nice_limit.rlim_cur)});
    }
    return list;
}

bool better_than(const sched_setting& candidate, const sched_setting& normal) {
    if (is_real_time(candidate.policy))
        return true;
    return candidate.nice < normal.nice;
}

bool has_effective_capability(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[capability / 32].effective & (1U << (capability % 32))) != 0;
}

}  // namespace

bool rt_throttling_off(const char* rt_runtime_path) {
    const int fd = open(rt_runtime_path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[32] = {};
    const ssize_t got = read(fd, text, sizeof text - 1);
    close(fd);
    if (got <= 0)
        return false;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && value == -1;
}

void priority_prepare(priority_plan& plan, const char* rt_runtime_path) {
    plan = priority_plan{};
    plan.normal = current_setting();
    plan.raised = plan.normal;
    plan.prepared = true;
    if (is_real_time(plan.normal.policy))
        return;  // already above anything we would choose
    for (const sched_setting& candidate : candidates(plan.normal, rt_runtime_path)) {
        if (!better_than(candidate, plan.normal))
            continue;
        if (apply(plan.normal, candidate)) {
            plan.raised = candidate;
            apply(candidate, plan.normal);
            return;
        }
        // A half-applied candidate (policy set, nice refused) is undone.
        apply(current_setting(), plan.normal);
    }
}

void priority_raise(priority_plan& plan) {
    if (!plan.prepared || plan.raised_now)
        return;
    plan.raised_now = true;
    if (plan.raised != plan.normal)
        apply(plan.normal, plan.raised);
}

void priority_lower(priority_plan& plan) {
    if (!plan.prepared || !plan.raised_now)
        return;
    plan.raised_now = false;
    if (plan.raised != plan.normal)
        apply(plan.raised, plan.normal);
}

void priority_restore(priority_plan& plan) {
    priority_lower(plan);
    plan = priority_plan{};
}

void priority_raise_for_good() {
    sched_param real_time{};
    real_time.sched_priority = 1;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &real_time) != 0) {
        priority_plan plan;
        priority_prepare(plan);
        priority_raise(plan);
    }
}

bool lock_memory() {
    rlimit limit{};
    const bool unlimited =
        (getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY) ||
        has_effective_capability(CAP_IPC_LOCK);
    return mlockall(unlimited ? MCL_CURRENT | MCL_FUTURE : MCL_CURRENT) == 0;
}

priority_report priority_describe(const priority_plan& plan) {
    priority_report report;
    report.setting = plan.raised;
    report.raised = plan.raised != plan.normal;
    report.already_high =
        !report.raised && (is_real_time(plan.normal.policy) || plan.normal.nice <= HIGHEST_NICE);
    return report;
}

std::string sched_setting_text(const sched_setting& setting) {
    const int policy = setting.policy & RT_POLICY_MASK;
    if (policy == SCHED_FIFO)
        return "SCHED_FIFO priority " + std::to_string(setting.rt_priority);
    if (policy == SCHED_RR)
        return "SCHED_RR priority " + std::to_string(setting.rt_priority);
    if (policy == SCHED_DEADLINE)
        return "SCHED_DEADLINE";
    return "nice " + std::to_string(setting.nice);
}
