// vmurx-probe on real hardware: the probe with the Linux backend, which says
// how it reached the port and how far the process may raise itself.
#include <sched.h>

#include <string>

#include "platform/linux/linux_port_state.h"
#include "probe/probe.h"

namespace {

std::string setting_text(const sched_setting& setting) {
    const int policy = setting.policy & ~SCHED_RESET_ON_FORK;
    if (policy == SCHED_FIFO)
        return "SCHED_FIFO priority " + std::to_string(setting.rt_priority);
    if (policy == SCHED_RR)
        return "SCHED_RR priority " + std::to_string(setting.rt_priority);
    if (policy == SCHED_DEADLINE)
        return "SCHED_DEADLINE";
    return "nice " + std::to_string(setting.nice);
}

probe_port_facts describe_linux_port() {
    const linux_port_state state = linux_port_state_now();
    probe_port_facts facts;
    facts.path = state.ppdev_number >= 0 ? "ppdev /dev/parport" + std::to_string(state.ppdev_number)
                                         : "direct I/O";
    if (state.priority_raised) {
        facts.priority = probe_grant::granted;
        facts.priority_setting = setting_text(state.raised);
    } else if (state.priority_already_high) {
        facts.priority = probe_grant::granted;
        facts.priority_setting = "already " + setting_text(state.raised);
    } else {
        facts.priority = probe_grant::refused;
    }
    facts.memory_lock = state.memory_locked ? probe_grant::granted : probe_grant::refused;
    return facts;
}

}  // namespace

int main(int argc, char* argv[]) {
    return probe_main(argc, argv, describe_linux_port);
}
