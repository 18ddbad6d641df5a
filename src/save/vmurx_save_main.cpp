// vmurx-save: tells what a received save is, whether it arrived intact, shows
// its pictures and converts it to and from the formats other tools exchange.
// This file reads the command line and hands it to the command's own file.
//
//   vmurx-save COMMAND [OPTION]... FILE...
#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "files/text.h"
#include "save/vmurx_save.h"

namespace {

enum option_id {
    JSON,
    FRAME,
    SCALE,
    NAME,
    STAMP,
    TYPE,
    PROTECT,
    DESCRIPTION,
    COPYRIGHT,
    FORCE_TYPE,
    FORCE,
};

const cli_option OPTIONS[] = {
    {JSON, "json", '\0', nullptr, "print JSON", "info"},
    {FRAME, "frame", '\0', "K", "only frame K (1 to 3)", "icon"},
    {SCALE, "scale", '\0', "N", "enlarge N times (1 to 16)", "icon eyecatch"},
    {NAME, "name", '\0', "NAME", "the card's file name, 1 to 12 bytes", "convert"},
    {STAMP, "stamp", '\0', "YYYYMMDDhhmmss", "the time stamp, local standard time", "convert"},
    {TYPE, "type", '\0', "game|data", "the file's type", "convert"},
    {PROTECT, "protect", '\0', nullptr, "mark the file copy-protected", "convert"},
    {DESCRIPTION, "description", '\0', "TEXT",
     "the VMI's description, at most 32 bytes (default: the VMU menu's description)", "convert"},
    {COPYRIGHT, "copyright", '\0', "TEXT", "the VMI's copyright, at most 32 bytes", "convert"},
    {FORCE_TYPE, "force-type", '\0', nullptr, "write a --type that contradicts the save's header",
     "convert"},
    {FORCE, "force", '\0', nullptr, "replace existing files", "icon eyecatch convert"},
};

std::string usage() {
    return "Usage: vmurx-save COMMAND [OPTION]... FILE...\n"
           "Inspect, check and convert a save received from a VMU.\n"
           "\n"
           "Commands:\n"
           "  info [--json] FILE...       describe each file (--json: one JSON array)\n"
           "  check FILE...               tell intact saves from damaged ones, a line each\n"
           "  icon [--frame K] [--scale N] [--force] FILE OUT.png\n"
           "                              write the frames side by side or frame K as a PNG\n"
           "  eyecatch [--scale N] [--force] FILE OUT.png\n"
           "                              write the 72x56 eyecatch as a PNG\n"
           "  convert [OPTION]... IN OUT  write IN in the format that OUT's extension names:\n"
           "                              .dci a DCI, .vms the bytes with a .vmi beside it,\n"
           "                              anything else the bytes alone\n"
           "\n"
           "Options:\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "Files are read by extension, in any letter case: .dci is a DCI; .vmi is the .vms\n"
           "beside it with this descriptor; anything else holds the bytes as on the card (a\n"
           ".vms uses the .vmi of the same base name beside it when there is one). Without\n"
           "a descriptor the card name is the file's name and the stamp its modification\n"
           "time.\n"
           "\n"
           "Exit status:\n"
           "  0  done; for check: every file is OK\n"
           "  1  check: a file FAILED; other commands: the work could not be done\n"
           "  2  a bad command, option or option value; check and info: a file cannot be\n"
           "     read; check: a file is not a save\n";
}

// A count from `low` to `high`, or the message for a bad one.
bool take_count(const cli_given& given, std::uint64_t low, std::uint64_t high, const char* what,
                std::uint64_t& count, std::string& error) {
    if (cli_parse_uint(given.value, low, high, count))
        return true;
    error = std::string("bad ") + what + " '" + given.value + "' (" + std::to_string(low) + " to " +
            std::to_string(high) + ")";
    return false;
}

// One option's value into `cl`: false with the message for a bad one.
bool take_option(const cli_given& given, command_line& cl, std::string& error) {
    std::uint64_t count = 0;
    switch (given.id) {
        case JSON:
            cl.json = true;
            break;
        case FRAME:
            if (!take_count(given, 1, 3, "frame", count, error))
                return false;
            cl.frame = static_cast<unsigned>(count);
            break;
        case SCALE:
            if (!take_count(given, 1, 16, "scale", count, error))
                return false;
            cl.scale = count;
            break;
        case NAME:
            cl.name = given.value;
            break;
        case STAMP:
            cl.stamp = given.value;
            break;
        case TYPE:
            cl.type = given.value;
            break;
        case PROTECT:
            cl.protect = true;
            break;
        case DESCRIPTION:
            cl.description = given.value;
            break;
        case COPYRIGHT:
            cl.copyright = given.value;
            break;
        case FORCE_TYPE:
            cl.force_type = true;
            break;
        default:  // FORCE
            cl.force = true;
            break;
    }
    return true;
}

}  // namespace

const cli_program& save_program() {
    static const cli_program save{PROGRAM, usage(), printable};
    return save;
}

int main(int argc, char* argv[]) {
    const char* const commands[] = {"info", "check", "icon", "eyecatch", "convert"};
    std::size_t which = 0;
    if (const int status = cli_command(save_program(), commands, argc, argv, which); status >= 0)
        return status;
    const std::string command = commands[which];
    cli_parsed parsed;
    const int status = cli_read(save_program(), {.options = OPTIONS, .command = command.c_str()},
                                argc - 1, argv + 1, parsed);
    if (status >= 0)
        return status;
    command_line cl;
    std::string error;
    for (const cli_given& given : parsed.options) {
        if (!take_option(given, cl, error))
            return usage_error(error);
    }
    cl.operands = parsed.operands;
    if (command == "info" || command == "check") {
        if (cl.operands.empty())
            return usage_error("no FILE given");
        return command == "info" ? run_info(cl) : run_check(cl);
    }
    if (command == "convert")
        return run_convert(cl);
    return run_picture(cl, command == "eyecatch");
}
