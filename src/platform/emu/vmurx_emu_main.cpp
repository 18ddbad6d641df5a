// vmurx-emu: the unchanged tool against the software VMU, to try a whole
// transfer without a parallel port or a card.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <vector>

#include "emu_platform.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "vmu_options.h"

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    vmu_options options;
    const int status = vmu_split_command_line(
        argc, argv, emu_vmu(), options, "vmurx",
        "Runs vmurx against a software VMU that sends one file over a simulated cable.\n"
        "The delay floor is 0 here unless VMURX_DELAY_US sets it.",
        tool_argv);
    if (status >= 0)
        return status;

    if (options.realtime)
        emu_use_realtime(options.realtime_config);

    // The counting card needs no real time, so the delay unit is the bare
    // loop unless VMURX_DELAY_US, which vmurx_main reads, says otherwise.
    delay_floor_us = 0;
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
