// Reading the GPIO options and finding what they name, for both programs on
// the GPIO backend.
#include "gpio/gpio_options.h"

#include <cstring>
#include <sstream>
#include <string_view>
#include <utility>

#include "cli/cli.h"
#include "files/text.h"
#include "platform/gpio/gpio_platform.h"

namespace {

enum { CHIP, LINES, BIAS };

const cli_option OPTIONS[] = {
    {CHIP, "chip", '\0', "CHIP",
     "the GPIO chip: a path (/dev/gpiochip0), a name (gpiochip0) or a label (pinctrl-rp1); "
     "default: the chip with a line GPIO17",
     nullptr},
    {LINES, "lines", '\0', "LIST",
     "the cable's lines as ROLE=LINE, separated by commas. ROLE is d0, d1, d2, d3, select, ack "
     "or busy; LINE is the line's offset on the chip or its name. Roles not given keep "
     "d0=GPIO17,d1=GPIO27,d2=GPIO22,d3=GPIO23, select=GPIO24,ack=GPIO25,busy=GPIO5",
     nullptr},
    {BIAS, "bias", '\0', "BIAS",
     "pull-up (default) or none: the chip's own bias on Select, Ack and Busy", nullptr},
};

// The tool's rows that may come before "--" take ids from here on, so that
// they never meet the GPIO options' own.
constexpr int TOOL_ID = 1000;

// What is read before "--": the GPIO options, then the tool's that may
// come there.
std::vector<cli_option> own_rows(const gpio_program& program) {
    std::vector<cli_option> rows(std::begin(OPTIONS), std::end(OPTIONS));
    for (std::size_t i = 0; i < program.tool_options.size(); ++i) {
        cli_option row = program.tool_options[i];
        row.id = TOOL_ID + static_cast<int>(i);
        rows.push_back(row);
    }
    return rows;
}

std::string usage(const gpio_program& program) {
    const std::string indent(std::string_view(program.name).size() + 8, ' ');
    const std::string tool = program.tool;
    const bool direct = !program.tool_options.empty();
    return std::string("Usage: ") + program.name + " [--chip CHIP] [--lines ROLE=LINE,...]\n" +
           indent + "[--bias pull-up|none] [" + (direct ? "" : "-- ") + tool + " options]\n" +
           program.summary + "\n\n" + cli_options_help(own_rows(program)) + "\n" +
           (direct ? "The " + tool + " options may also follow '--'"
                   : tool + " options: as for " + tool) +
           ", see '" + program.tool_help +
           "'.\n"
           "Exit status 2 for a wrong command line, or a chip or line that is not there.\n";
}

int role_of(const std::string& name) {
    for (int role = 0; role < GPIO_ROLES; ++role) {
        if (name == GPIO_ROLE_NAMES[role])
            return role;
    }
    return -1;
}

const char* announcing_program = "";

void notice_claim(const gpio_setup& setup) {
    std::string lines;
    for (int role = 0; role < GPIO_ROLES; ++role) {
        lines += std::string(role == 0 ? "" : ",") + GPIO_ROLE_NAMES[role] + "=" +
                 std::to_string(setup.offsets[role]);
    }
    std::fprintf(stderr, "%s: claimed %s (%s) lines %s\n", announcing_program, setup.name.c_str(),
                 setup.label.c_str(), lines.c_str());
}

}  // namespace

bool gpio_parse_lines(const std::string& list, gpio_wanted& wanted, bool (&given)[GPIO_ROLES],
                      std::string& error) {
    std::stringstream items(list);
    std::string item;
    bool any = false;
    while (std::getline(items, item, ',')) {
        any = true;
        const std::size_t equals = item.find('=');
        const int role = role_of(item.substr(0, equals));
        if (equals == std::string::npos || role < 0) {
            error = "'" + item +
                    "' is not ROLE=LINE with ROLE one of d0, d1, d2, d3, select, "
                    "ack, busy";
            return false;
        }
        const std::string line = item.substr(equals + 1);
        if (line.empty()) {
            error = "no line given for " + std::string(GPIO_ROLE_NAMES[role]);
            return false;
        }
        if (given[role]) {
            error = std::string(GPIO_ROLE_NAMES[role]) + " is given twice";
            return false;
        }
        given[role] = true;
        wanted.lines[role] = line;
    }
    if (!any || list.back() == ',') {
        error = "an empty entry in the list of lines";
        return false;
    }
    return true;
}

namespace {

// The GPIO options into `wanted`, and the tool's given among them into
// `tool_words` as --name=value. Returns -1 to go on, or the status to exit
// with.
int read_options(int count, char* own[], const gpio_program& program, gpio_wanted& wanted,
                 std::vector<std::string>& tool_words, std::FILE* out, std::FILE* err) {
    const std::string hint = std::string("the ") + program.tool + " options follow '--'";
    const cli_program cli{program.name, usage(program), printable};
    const std::vector<cli_option> rows = own_rows(program);
    cli_parsed parsed;
    // The hint would mislead where the tool's options are taken here too.
    const char* shown_hint = program.tool_options.empty() ? hint.c_str() : nullptr;
    const int status = cli_read(cli, {.options = rows, .operands = false, .hint = shown_hint},
                                count, own, parsed, out, err);
    if (status >= 0)
        return status;
    bool given[GPIO_ROLES] = {};
    std::string error;
    for (const cli_given& option : parsed.options) {
        if (option.id >= TOOL_ID) {
            const cli_option& row =
                program.tool_options[static_cast<std::size_t>(option.id - TOOL_ID)];
            tool_words.push_back("--" + std::string(row.name) +
                                 (row.value != nullptr ? "=" + option.value : ""));
        } else if (option.id == CHIP) {
            wanted.chip = option.value;
        } else if (option.id == LINES) {
            if (!gpio_parse_lines(option.value, wanted, given, error))
                return cli_usage_error(cli, "invalid --lines: " + error, err);
        } else if (option.value == "pull-up" || option.value == "none") {
            wanted.pull_up = option.value == "pull-up";
        } else {
            return cli_usage_error(cli, "invalid bias '" + option.value + "': pull-up or none",
                                   err);
        }
    }
    return -1;
}

// The words made for the tool's command line, kept for as long as it runs.
std::vector<std::string> kept_tool_words;

}  // namespace

int gpio_split_command_line(int argc, char* argv[], const gpio_program& program,
                            std::vector<char*>& tool_argv, std::FILE* out, std::FILE* err,
                            const std::string& node_dir) {
    std::vector<char*> after_separator;
    const int own = cli_split(argc, argv, after_separator);
    gpio_wanted wanted;
    std::vector<std::string> tool_words;
    const int status = read_options(own, argv, program, wanted, tool_words, out, err);
    if (status >= 0)
        return status;
    // The program's name, the tool's options given before "--", then what
    // follows it (with the null pointer that ends it).
    kept_tool_words = std::move(tool_words);
    tool_argv.assign({after_separator.front()});
    for (std::string& word : kept_tool_words)
        tool_argv.push_back(word.data());
    tool_argv.insert(tool_argv.end(), after_separator.begin() + 1, after_separator.end());

    gpio_setup setup;
    const gpio_find_result found = gpio_find(wanted, setup, node_dir);
    switch (found.outcome) {
        case gpio_found::found:
            gpio_use(setup);
            if (program.announce_claim) {
                announcing_program = program.name;
                gpio_on_claim(notice_claim);
            }
            break;
        case gpio_found::refused:
            gpio_refuse(found.error);
            break;
        case gpio_found::unusable:
            // It names the chip and lines as given: any bytes.
            std::fprintf(err, "%s: %s\n", program.name, printable(found.message).c_str());
            return CLI_USAGE;
    }
    return -1;
}
