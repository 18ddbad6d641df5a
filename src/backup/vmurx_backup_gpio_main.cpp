// vmurx-backup-gpio: vmurx-backup on the cable's lines of a GPIO header.
//
//   vmurx-backup-gpio [--chip CHIP] [--lines ROLE=LINE,...] [--bias pull-up|none]
//                     -- [vmurx-backup options]
#include <cstdio>
#include <vector>

#include "backup/backup_options.h"
#include "backup/backup_run.h"
#include "gpio/gpio_options.h"

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    const gpio_program program{
        "vmurx-backup-gpio", "vmurx-backup", "vmurx-backup-gpio -- -h",
        "Runs vmurx-backup on a GPIO header, wired by the table in the README.", true};
    const int status = gpio_split_command_line(argc, argv, program, tool_argv, stdout, stderr);
    if (status >= 0)
        return status;
    return backup_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data(),
                       backup_usage("vmurx-backup-gpio", "[GPIO options] --"));
}
