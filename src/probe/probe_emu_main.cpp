// vmurx-probe-emu: the probe against a software card (the card's own Copy,
// the scripted card with --scripted, or with --cpu the processor model
// running the card-side sender), to try it without a port and for the
// tests.
//
//   vmurx-probe-emu [VMU options] [-- probe options]
//
// The probe's options clash with none of the VMU options, so they are taken
// before "--" as well, as vmurx-probe-gpio takes them.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "emu/emu_card.h"
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
    static emu_options options;
    const int status = emu_split_command_line(
        argc, argv, emu_vmu(), options, "vmurx-probe",
        "Runs vmurx-probe against a software card on a simulated cable: the card's own\n"
        "Copy, unless --scripted or --cpu chooses another.",
        probe_argv, probe_option_rows());
    if (status >= 0)
        return status;
    std::string error;
    if (!emu_put_card(options, error)) {
        emu_fail("vmurx-probe-emu", error);
        return CLI_USAGE;
    }
    const int probe_status =
        probe_main("vmurx-probe-emu", "[VMU options] --", static_cast<int>(probe_argv.size()) - 1,
                   probe_argv.data(), {describe_software_card});
    const bool reported = emu_write_report(options, "vmurx-probe-emu");
    return probe_status == 0 && !reported ? 1 : probe_status;
}
