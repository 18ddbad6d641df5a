// vmurx-send-gpio: vmurx-send on the cable's lines of a GPIO header.
//
//   vmurx-send-gpio [--chip CHIP] [--lines ROLE=LINE,...] [--bias pull-up|none]
//                   -- [vmurx-send options] FILE
#include <cstdio>
#include <vector>

#include "gpio/gpio_options.h"
#include "send/send_main.h"
#include "send/send_options.h"

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    const gpio_program program{
        "vmurx-send-gpio", "vmurx-send", "vmurx-send-gpio -- -h",
        "Runs vmurx-send on a GPIO header, wired by the table in the README.", true};
    const int status = gpio_split_command_line(argc, argv, program, tool_argv, stdout, stderr);
    if (status >= 0)
        return status;
    return send_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data(),
                     send_usage("vmurx-send-gpio", "[GPIO options] --"));
}
