// vmurx-emu: the unchanged tool against the software VMU, to try a whole
// transfer without a parallel port or a card.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <vector>

#include "emu_platform.h"
#include "main/vmurx.h"
#include "vmu_options.h"

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    const int status = vmu_split_command_line(
        argc, argv, emu_vmu(), "vmurx",
        "Runs vmurx against a software VMU that sends one file over a simulated cable.", tool_argv);
    if (status >= 0)
        return status;
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
