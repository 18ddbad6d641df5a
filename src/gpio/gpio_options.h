// The command line of the programs on a GPIO header (vmurx-gpio,
// vmurx-probe-gpio): the chip, the lines and their bias before "--", the
// tool's own options after it; a tool whose options clash with none of the
// GPIO options (the probe's) takes them before "--" as well. The chip and
// lines are found before the tool runs, so a wrong command line claims
// nothing.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "platform/gpio/gpio_chip.h"

/// Reads --lines' list ("d0=17,busy=GPIO6") into `wanted`, on top of what is
/// there. `given` marks the roles named so far, across several --lines.
/// Returns false with a one-line reason in `error`.
bool gpio_parse_lines(const std::string& list, gpio_wanted& wanted, bool (&given)[GPIO_ROLES],
                      std::string& error);

/// What a program built on this tells about itself.
struct gpio_program {
    const char* name;       // the program, in its messages: "vmurx-gpio"
    const char* tool;       // the tool whose options follow "--", e.g. "vmurx"
    const char* tool_help;  // the command that lists them, e.g. "vmurx -h"
    const char* summary;    // the first line of the help
    bool announce_claim;    // say on standard error which chip and lines were claimed
    // The tool's options that may also come before "--", among the GPIO
    // options; none: all follow "--".
    std::span<const cli_option> tool_options = {};
};

/// The whole command line `program [GPIO options] [-- tool options]`: reads
/// the GPIO options, finds the chip and lines in `node_dir`, and hands them
/// to the backend (or the system's refusal, which the tool then reports as
/// for any refused port). Gives the tool's command line in `tool_argv`: the
/// program name, the tool's options given before "--" (as --name=value, in
/// their order), what follows "--", and a null pointer. Returns -1 to go on,
/// or the status to exit with: 0 after --help or --version (on `out`), 2
/// after a wrong command line or a chip or line that is not there (the
/// reason on `err`).
int gpio_split_command_line(int argc, char* argv[], const gpio_program& program,
                            std::vector<char*>& tool_argv, std::FILE* out, std::FILE* err,
                            const std::string& node_dir = GPIO_NODE_DIR);
