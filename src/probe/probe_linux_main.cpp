// vmurx-probe on real hardware: the probe with the Linux backend, which says
// how it reached the port and how far the process may raise itself.
#include <string>

#include "platform/linux/linux_port_state.h"
#include "probe/probe.h"

namespace {

probe_port_facts describe_linux_port() {
    const linux_port_state state = linux_port_state_now();
    probe_port_facts facts;
    facts.path = state.ppdev_number >= 0 ? "ppdev /dev/parport" + std::to_string(state.ppdev_number)
                                         : "direct I/O";
    probe_priority_facts(state.priority_raised, state.priority_already_high,
                         sched_setting_text(state.raised), state.memory_locked, facts);
    return facts;
}

}  // namespace

int main(int argc, char* argv[]) {
    return probe_main("vmurx-probe", "", argc, argv, describe_linux_port);
}
