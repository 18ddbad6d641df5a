// vmurx-probe-gpio: the probe on a GPIO header, to check the wiring before
// the first transfer. It reports the chip and each of the seven lines with
// its name and level; like every probe it only reads, and the outputs keep
// the idle levels they were claimed with.
//
//   vmurx-probe-gpio [--chip CHIP] [--lines ...] [--bias ...] [probe options]
//
// The probe's options clash with none of the GPIO options, so they are taken
// as a user types them; after "--" they still work.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "gpio/gpio_options.h"
#include "platform/gpio/gpio_platform.h"
#include "probe/probe.h"

namespace {

constexpr const char* ROLE_TITLES[GPIO_ROLES] = {"D0", "D1", "D2", "D3", "Select", "Ack", "Busy"};

std::string describe_lines(const gpio_port_state& state) {
    const gpio_setup& setup = state.setup;
    std::string text = "Chip: " + setup.name + " \"" + setup.label + "\", " +
                       std::to_string(setup.line_count) + " lines, inputs " +
                       (setup.pull_up ? "pulled up" : "without bias") + "\n";
    for (int role = 0; role < GPIO_ROLES; ++role) {
        const char* level = !state.levels_read ? "unknown" : state.levels[role] ? "high" : "low";
        char line[160];
        std::snprintf(line, sizeof line, "  %-7s line %-3u %-12s %-4s (%s)\n", ROLE_TITLES[role],
                      setup.offsets[role],
                      setup.names[role].empty() ? "(no name)" : setup.names[role].c_str(), level,
                      role < GPIO_OUTPUTS ? "output" : "input");
        text += line;
    }
    return text;
}

probe_port_facts describe_gpio_port() {
    const gpio_port_state state = gpio_port_state_now();
    probe_port_facts facts;
    facts.path = "GPIO " + state.setup.path;
    facts.detail = describe_lines(state);
    probe_priority_facts(state.priority.raised, state.priority.already_high,
                         sched_setting_text(state.priority.setting), state.memory_locked, facts);
    return facts;
}

// The probe's options a user gives here: all but the port, which the chip
// and lines replace on a GPIO header.
std::vector<cli_option> direct_probe_options() {
    std::vector<cli_option> rows;
    for (const cli_option& row : probe_option_rows()) {
        if (std::string_view(row.name) != "device")
            rows.push_back(row);
    }
    return rows;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> probe_argv;
    const std::vector<cli_option> probe_options = direct_probe_options();
    const gpio_program program{"vmurx-probe-gpio",
                               "vmurx-probe",
                               "vmurx-probe --help",
                               "Runs vmurx-probe on a GPIO header: check the wiring and this\n"
                               "machine's timing before a transfer.",
                               false,
                               probe_options};
    const int status = gpio_split_command_line(argc, argv, program, probe_argv, stdout, stderr);
    if (status >= 0)
        return status;
    return probe_main(program.name, "[GPIO options]", static_cast<int>(probe_argv.size()) - 1,
                      probe_argv.data(), {describe_gpio_port});
}
