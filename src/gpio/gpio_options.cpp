// Reading the GPIO options and finding what they name, for both programs on
// the GPIO backend.
#include "gpio/gpio_options.h"

#include <getopt.h>

#include <cstring>
#include <sstream>

#include "platform/gpio/gpio_platform.h"

namespace {

constexpr int USAGE = 2;

void usage(const char* name, const gpio_program& program, std::FILE* stream) {
    std::fprintf(stream,
                 "Usage: %s [--chip CHIP] [--lines ROLE=LINE,...] [--bias pull-up|none] "
                 "[-- %s options]\n%s\n\n",
                 name, program.tool, program.summary);
    std::fputs(
        "  --chip=CHIP      the GPIO chip: a path (/dev/gpiochip0), a name (gpiochip0) or\n"
        "                   a label (pinctrl-rp1); default: the chip with a line GPIO17\n"
        "  --lines=LIST     the cable's lines as ROLE=LINE, separated by commas. ROLE is\n"
        "                   d0, d1, d2, d3, select, ack or busy; LINE is the line's\n"
        "                   offset on the chip or its name. Roles not given keep\n"
        "                   d0=GPIO17,d1=GPIO27,d2=GPIO22,d3=GPIO23,\n"
        "                   select=GPIO24,ack=GPIO25,busy=GPIO5\n"
        "  --bias=BIAS      pull-up (default) or none: the chip's own bias on Select,\n"
        "                   Ack and Busy\n"
        "  -h, --help       this help text\n"
        "      --version    the version\n"
        "\n",
        stream);
    std::fprintf(stream,
                 "%s options: as for %s, see '%s'.\n"
                 "Exit status 2 for a wrong command line, or a chip or line that is not there.\n",
                 program.tool, program.tool, program.tool_help);
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

// The GPIO options in `own` (`count` words, the first the program's name for
// getopt's messages) into `wanted`. Returns -1 to go on, or the status to
// exit with; the usage names the program as `invoked`.
int read_options(int count, char** own, const char* invoked, const gpio_program& program,
                 gpio_wanted& wanted, std::FILE* out, std::FILE* err) {
    static const option LONG_OPTIONS[] = {
        {"chip", required_argument, nullptr, 'c'}, {"lines", required_argument, nullptr, 'l'},
        {"bias", required_argument, nullptr, 'b'}, {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},    {nullptr, 0, nullptr, 0},
    };
    const char* name = program.name;
    bool given[GPIO_ROLES] = {};
    std::string error;
    optind = 0;  // from the start, whoever parsed before
    int option;
    while ((option = getopt_long(count, own, "h", LONG_OPTIONS, nullptr)) != -1) {
        switch (option) {
            case 'c':
                wanted.chip = optarg;
                break;
            case 'l':
                if (!gpio_parse_lines(optarg, wanted, given, error)) {
                    std::fprintf(err, "%s: invalid --lines: %s\n", name, error.c_str());
                    usage(invoked, program, err);
                    return USAGE;
                }
                break;
            case 'b':
                if (std::strcmp(optarg, "pull-up") != 0 && std::strcmp(optarg, "none") != 0) {
                    std::fprintf(err, "%s: invalid bias '%s': pull-up or none\n", name, optarg);
                    usage(invoked, program, err);
                    return USAGE;
                }
                wanted.pull_up = std::strcmp(optarg, "pull-up") == 0;
                break;
            case 'h':
                usage(invoked, program, out);
                return 0;
            case 'V':
                std::fprintf(out, "%s (vmurx) %s\n", name, program.version);
                return 0;
            default:  // getopt has named the fault
                usage(invoked, program, err);
                return USAGE;
        }
    }
    if (optind < count) {
        std::fprintf(err, "%s: unexpected argument '%s' (the %s options follow '--')\n", name,
                     own[optind], program.tool);
        usage(invoked, program, err);
        return USAGE;
    }
    optind = 0;  // the tool parses its own options from the start
    return -1;
}

}  // namespace

int gpio_split_command_line(int argc, char* argv[], const gpio_program& program,
                            std::vector<char*>& tool_argv, std::FILE* out, std::FILE* err,
                            const std::string& node_dir) {
    int separator = 1;
    while (separator < argc && std::strcmp(argv[separator], "--") != 0)
        ++separator;
    // getopt names the program by the first word of what it parses.
    std::string own_name = program.name;
    std::vector<char*> own(argv, argv + separator);
    own[0] = own_name.data();
    own.push_back(nullptr);
    gpio_wanted wanted;
    const int status = read_options(separator, own.data(), argv[0], program, wanted, out, err);
    if (status >= 0)
        return status;

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
            std::fprintf(err, "%s: %s\n", program.name, found.message.c_str());
            return USAGE;
    }

    tool_argv.assign({argv[0]});
    for (int i = separator + 1; i < argc; ++i)
        tool_argv.push_back(argv[i]);
    tool_argv.push_back(nullptr);
    return -1;
}
