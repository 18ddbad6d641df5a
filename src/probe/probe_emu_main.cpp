// vmurx-probe-emu: the probe against the software VMU, to try it without a
// port and for the tests.
//
//   vmurx-probe-emu [VMU options] [-- probe options]
#include <vector>

#include "emu/emu_options.h"
#include "platform/emu/emu_platform.h"
#include "probe/probe.h"

namespace {

probe_port_facts describe_software_card() {
    probe_port_facts facts;
    facts.path = "the software card";
    return facts;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> probe_argv;
    emu_options options;
    const int status = emu_split_command_line(
        argc, argv, emu_vmu(), options, "vmurx-probe",
        "Runs vmurx-probe against a software VMU on a simulated cable.", probe_argv);
    if (status >= 0)
        return status;
    if (options.realtime)
        emu_use_realtime(options.realtime_config);
    return probe_main(static_cast<int>(probe_argv.size()) - 1, probe_argv.data(),
                      describe_software_card);
}
