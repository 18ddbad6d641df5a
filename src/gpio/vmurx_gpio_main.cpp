// vmurx-gpio: the unchanged tool on the cable's lines of a GPIO header.
//
//   vmurx-gpio [--chip CHIP] [--lines ROLE=LINE,...] [--bias pull-up|none] [-- vmurx options]
#include <cstdio>
#include <vector>

#include "gpio/gpio_options.h"
#include "main/vmurx.h"

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    const gpio_program program{"vmurx-gpio", "vmurx", "vmurx -h",
                               "Runs vmurx on a GPIO header, wired by the table in the README.",
                               true};
    const int status = gpio_split_command_line(argc, argv, program, tool_argv, stdout, stderr);
    if (status >= 0)
        return status;
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
