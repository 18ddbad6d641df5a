// vmurx-save: tells what a received save is, whether it arrived intact, shows
// its pictures and converts it to and from the formats other tools exchange.
// This file reads the command line and hands it to the command's own file.
//
//   vmurx-save COMMAND [OPTION]... FILE...
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "save/vmurx_save.h"

namespace {

enum option_id {
    OPT_HELP = 255,
    OPT_JSON = 256,
    OPT_FORCE,
    OPT_PROTECT,
    OPT_FRAME,
    OPT_SCALE,
    OPT_NAME,
    OPT_STAMP,
    OPT_TYPE,
    OPT_DESCRIPTION,
    OPT_COPYRIGHT
};

bool parse_count(const char* text, unsigned long low, unsigned long high, unsigned long& value) {
    char* end = nullptr;
    if (text[0] < '0' || text[0] > '9')
        return false;
    value = std::strtoul(text, &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

// Parses argv[1..] with getopt_long; `allowed` lists the options of this
// command. Returns false for an unknown option or a missing value.
bool parse_command(int argc, char* argv[], const std::vector<int>& allowed, command_line& cl) {
    static const option all[] = {
        {"help", no_argument, nullptr, OPT_HELP},
        {"json", no_argument, nullptr, OPT_JSON},
        {"force", no_argument, nullptr, OPT_FORCE},
        {"protect", no_argument, nullptr, OPT_PROTECT},
        {"frame", required_argument, nullptr, OPT_FRAME},
        {"scale", required_argument, nullptr, OPT_SCALE},
        {"name", required_argument, nullptr, OPT_NAME},
        {"stamp", required_argument, nullptr, OPT_STAMP},
        {"type", required_argument, nullptr, OPT_TYPE},
        {"description", required_argument, nullptr, OPT_DESCRIPTION},
        {"copyright", required_argument, nullptr, OPT_COPYRIGHT},
    };
    std::vector<option> options{all[0]};
    for (const option& o : all) {
        for (int id : allowed) {
            if (o.val == id)
                options.push_back(o);
        }
    }
    options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;  // the messages below name this program, not the command
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, "", options.data(), nullptr)) != -1) {
        unsigned long number = 0;
        switch (id) {
            case OPT_HELP:
                cl.help = true;
                break;
            case OPT_JSON:
                cl.json = true;
                break;
            case OPT_FORCE:
                cl.force = true;
                break;
            case OPT_PROTECT:
                cl.protect = true;
                break;
            case OPT_FRAME:
                if (!parse_count(optarg, 1, 3, number))
                    cl.error = std::string("bad frame '") + optarg + "' (1 to 3)";
                cl.frame = static_cast<unsigned>(number);
                break;
            case OPT_SCALE:
                if (!parse_count(optarg, 1, 16, number))
                    cl.error = std::string("bad scale '") + optarg + "' (1 to 16)";
                cl.scale = number;
                break;
            case OPT_NAME:
                cl.name = optarg;
                break;
            case OPT_STAMP:
                cl.stamp = optarg;
                break;
            case OPT_TYPE:
                cl.type = optarg;
                break;
            case OPT_DESCRIPTION:
                cl.description = optarg;
                break;
            case OPT_COPYRIGHT:
                cl.copyright = optarg;
                break;
            default:
                if (optopt >= OPT_HELP) {
                    cl.error = std::string("option '") + argv[optind - 1] + "' needs a value";
                } else if (optopt != 0) {
                    cl.error =
                        std::string("unrecognized option '-") + static_cast<char>(optopt) + "'";
                } else {
                    cl.error = std::string("unrecognized option '") + argv[optind - 1] + "'";
                }
                return false;
        }
    }
    for (int i = optind; i < argc; ++i)
        cl.operands.emplace_back(argv[i]);
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2)
        return usage_error("missing command");
    const std::string command = argv[1];
    if (command == "--help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("vmurx-save (vmurx) %s\n", VMURX_VERSION);
        return 0;
    }
    std::vector<int> allowed;
    if (command == "info")
        allowed = {OPT_JSON};
    else if (command == "check")
        allowed = {};
    else if (command == "icon")
        allowed = {OPT_FRAME, OPT_SCALE, OPT_FORCE};
    else if (command == "eyecatch")
        allowed = {OPT_SCALE, OPT_FORCE};
    else if (command == "convert")
        allowed = {OPT_NAME,        OPT_STAMP,     OPT_TYPE, OPT_PROTECT,
                   OPT_DESCRIPTION, OPT_COPYRIGHT, OPT_FORCE};
    else
        return usage_error("unknown command '" + command + "'");

    command_line cl;
    if (!parse_command(argc - 1, argv + 1, allowed, cl))
        return usage_error(cl.error);
    if (cl.help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, cl.error.c_str());
        return 1;
    }
    if (command == "info" || command == "check") {
        if (cl.operands.empty())
            return usage_error("no FILE given");
        return command == "info" ? run_info(cl) : run_check(cl);
    }
    if (command == "convert")
        return run_convert(cl);
    return run_picture(cl, command == "eyecatch");
}
