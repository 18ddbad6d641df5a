// vmurx-emu: the unchanged tool against the software VMU, to try a whole
// transfer without a parallel port or a card.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <vector>

#include "emu/emu_options.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "platform/emu/emu_platform.h"

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

    // The counting card needs no real time, so the delay unit is the bare
    // loop unless VMURX_DELAY_US, which vmurx_main reads, says otherwise.
    delay_floor_us = 0;
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
