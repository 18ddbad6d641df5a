// vmurx-emu: the unchanged tool against the software VMU, to try a whole
// transfer without a parallel port or a card.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <cstdio>
#include <string>
#include <vector>

#include "emu_platform.h"
#include "lpt/byte_exchange.h"
#include "main/vmurx.h"
#include "vmu_options.h"

int main(int argc, char* argv[]) {
    std::vector<std::string> vmu_args;
    int separator = 1;
    while (separator < argc && std::string(argv[separator]) != "--") {
        vmu_args.emplace_back(argv[separator++]);
    }

    vmu_options options;
    std::string error;
    if (!vmu_parse_options(vmu_args, emu_vmu(), options, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", argv[0], error.c_str(), argv[0]);
        return 2;
    }
    if (options.help) {
        std::printf(
            "Usage: %s [VMU options] [-- vmurx options]\n"
            "Runs vmurx against a software VMU that sends one file over a simulated cable.\n\n"
            "%s\nvmurx options: see '%s -- -h'.\n"
            "The delay floor is 0 here unless VMURX_DELAY_US sets it.\n",
            argv[0], VMU_OPTIONS_HELP, argv[0]);
        return 0;
    }

    if (options.realtime)
        emu_use_realtime(options.realtime_config);

    // The counting card needs no real time, so the delay unit is the bare
    // loop unless VMURX_DELAY_US, which vmurx_main reads, says otherwise.
    delay_floor_us = 0;

    // The tool sees the program name and what follows "--".
    std::vector<char*> tool_argv{argv[0]};
    for (int i = separator + 1; i < argc; ++i)
        tool_argv.push_back(argv[i]);
    tool_argv.push_back(nullptr);
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
