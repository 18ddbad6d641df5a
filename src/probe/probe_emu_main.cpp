// vmurx-probe-emu: the probe against the software VMU (or, with --cpu, the
// processor model running the card-side sender), to try it without a port
// and for the tests.
//
//   vmurx-probe-emu [VMU options] [-- probe options]
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "emu/emu_cpu.h"
#include "emu/emu_options.h"
#include "lpt/byte_exchange.h"
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
    // --cpu: the processor model running the sender, waiting for the PC.
    static vmu_cpu_card cpu_card;
    if (options.cpu.enabled) {
        std::string error;
        if (!emu_prepare_cpu_card(options.cpu, cpu_card, error)) {
            std::fprintf(stderr, "vmurx-probe-emu: %s\n", error.c_str());
            return CLI_USAGE;
        }
        emu_use_cpu_card(cpu_card);
    }
    // The floor vmurx-emu runs with, so that the probe reports what a
    // transfer against the same card would use.
    set_delay_floor_us(options.cpu.enabled && options.realtime ? DEFAULT_DELAY_FLOOR_US : 0);
    const int probe_status =
        probe_main("vmurx-probe-emu", "[VMU options] --", static_cast<int>(probe_argv.size()) - 1,
                   probe_argv.data(), describe_software_card);
    return probe_status == 0 && emu_report_failed() ? 1 : probe_status;
}
