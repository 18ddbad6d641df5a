// vmurx-emu: the unchanged tool against the software VMU, to try a whole
// transfer without a parallel port or a card. With --cpu the card is the
// processor model running the card-side sender.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "block/program.h"
#include "cli/cli.h"
#include "emu/emu_cpu.h"
#include "emu/emu_options.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "platform/emu/emu_platform.h"

namespace {

vmu_cpu_card& cpu_card() {
    static vmu_cpu_card card;
    return card;
}

// The real-time card's report is an output like the received file, so a run
// whose report could not be written ends with status 1 even where the
// transfer succeeded. The reason went to standard error when the port was
// released.
void end_emu_run(int status) {
    std::exit(status == 0 && emu_report_failed() ? 1 : status);
}

// --screen: the tool ends the process itself, so the card is shown on the
// way out.
void show_cpu_card() {
    std::fflush(stdout);
    emu_print_cpu_card(cpu_card(), stderr);
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    emu_options options;
    const int status = emu_split_command_line(
        argc, argv, emu_vmu(), options, "vmurx",
        "Runs vmurx against a software VMU that sends one file over a simulated cable.\n"
        "The delay floor is 0 here unless VMURX_DELAY_US sets it.",
        tool_argv);
    if (status >= 0)
        return status;

    if (options.realtime)
        emu_use_realtime(options.realtime_config);
    if (options.cpu.enabled) {
        std::string error;
        if (!emu_prepare_cpu_card(options.cpu, cpu_card(), error)) {
            // As for the protocol card's files: what the options name is unusable.
            std::fprintf(stderr, "vmurx-emu: %s\n", error.c_str());
            return CLI_USAGE;
        }
        cpu_card().delay_floor_us = delay_floor_us;
        emu_use_cpu_card(cpu_card());
        if (options.cpu.screen)
            std::atexit(show_cpu_card);
    }

    // The counting card needs no real time, so the delay unit is the bare
    // loop unless VMURX_DELAY_US, which vmurx_main reads, says otherwise. The
    // sender in real time needs the PC's levels as long as on real hardware.
    set_delay_floor_us(options.cpu.enabled && options.realtime ? DEFAULT_DELAY_FLOOR_US : 0);
    set_program_end(end_emu_run);
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
