// vmurx-send's option table over the command-line layer, and the checks of
// the values a user types, made before any file is read or the port opened.
#include "send/send_options.h"

#include "cable/cable.h"
#include "card/card_image.h"
#include "cli/cli.h"
#include "files/text.h"
#include "lpt/lpt.h"

namespace {

enum option_id { DEVICE, QUIET, NO_ECHO_CHECK, NAME, TYPE, FORCE_TYPE, STAMP, CARD, ENTRY, ALL };

const cli_option OPTIONS[] = {
    {DEVICE, "device", 'd', "DEVICE",
     "the parallel port: LPT1 to LPT3 or a base address such as 0x378 (default LPT1)", nullptr},
    {QUIET, "quiet", 'q', nullptr, "no progress and no closing line; errors only", nullptr},
    {NO_ECHO_CHECK, "no-echo-check", '\0', nullptr,
     "do not compare each byte with the card's echo on Select, for a cable without that line",
     nullptr},
    {NAME, "name", '\0', "NAME", "the file's card name, 1 to 12 bytes", nullptr},
    {TYPE, "type", '\0', "game|data", "the file's type", nullptr},
    {FORCE_TYPE, "force-type", '\0', nullptr,
     "send a --type that contradicts the save's header, or bytes with no save header at all",
     nullptr},
    {STAMP, "stamp", '\0', "YYYYMMDDhhmmss", "the file's time stamp, local standard time", nullptr},
    {CARD, "card", '\0', "IMAGE",
     "send entries of this card image (raw or .dcm) instead of FILEs, with their names, types "
     "and stamps",
     nullptr},
    {ENTRY, "entry", '\0', "ENTRY",
     "an entry of --card: its name, or #N for slot N, as vmurx-card list shows them; may be "
     "given more than once",
     nullptr},
    {ALL, "all", '\0', nullptr, "every file of --card, in one sitting", nullptr},
};

// A wrong value of an option, as the usage error words it.
std::string take_option(const cli_given& given, send_command_line& cl) {
    const std::string& value = given.value;
    switch (given.id) {
        case DEVICE: {
            std::uint16_t base = 0;
            if (!lpt_parse_port(value.c_str(), base))
                return "bad device '" + value + "' (LPT1 to LPT3 or a base address such as 0x378)";
            cl.device = value;
            break;
        }
        case QUIET:
            cl.quiet = true;
            break;
        case NO_ECHO_CHECK:
            cl.echo_check = false;
            break;
        case NAME:
            if (value.empty() || value.size() > NAME_BLOCK_SIZE)
                return "bad name '" + value + "' (1 to 12 bytes)";
            cl.name = value;
            break;
        case TYPE:
            if (value != "game" && value != "data")
                return "bad type '" + value + "' (game or data)";
            cl.game = value == "game";
            break;
        case FORCE_TYPE:
            cl.force_type = true;
            break;
        case STAMP:
            cl.stamp = parse_stamp_text(value);
            if (!cl.stamp)
                return "bad stamp '" + value + "' (YYYYMMDDhhmmss between the years 1900 and 9999)";
            break;
        case CARD:
            cl.card = value;
            break;
        case ENTRY:
            if (value.empty())
                return "bad entry '' (a name or #N)";
            cl.entries.push_back(value);
            break;
        default:  // ALL
            cl.all = true;
            break;
    }
    return "";
}

}  // namespace

std::span<const cli_option> send_option_rows() {
    return OPTIONS;
}

std::string send_usage(const std::string& program, const std::string& before) {
    const std::string words = before.empty() ? "" : before + " ";
    return "Usage: " + program + " " + words + "[OPTION]... FILE...\n" + "       " + program + " " +
           words + "[OPTION]... --card IMAGE --entry ENTRY...\n" + "       " + program + " " +
           words + "[OPTION]... --card IMAGE --all\n" +
           "Put saves onto a memory card through the card's own \"Waiting for data\".\n"
           "Show the card's file list, connect the cable, then run this: the card takes\n"
           "each file as it takes one from a second card, or refuses it.\n"
           "\n"
           "Several files go in one sitting, a game first: after each the card shows its\n"
           "first page (Free, Game) and goes back to its file list by itself, and the\n"
           "next file follows; nothing to press. A file the card would refuse (no room,\n"
           "a second game, a data file's name twice, more files than the 16 entries the\n"
           "card looks at) is named before anything is sent.\n"
           "\n"
           "FILE is a .vms (with its .vmi beside it), a .dci, or the bytes alone with\n"
           "--name, --type and --stamp, which also override what a file tells. A --type\n"
           "that the save's header contradicts, and bytes with no save header at all,\n"
           "are refused unless --force-type insists; a .vmi's or .dci's type that the\n"
           "header contradicts gives way to the header's.\n"
           "\n"
           "Options:\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "Environment:\n"
           "  VMURX_DELAY_US  the least length of the delay unit in µs, as for vmurx\n"
           "                  (default 50; at least " +
           std::to_string(CABLE_RECEIVE_FLOOR_US) +
           " here, for the card to re-arm\n"
           "                  before each byte)\n"
           "\n"
           "Exit status:\n"
           "  0  the card accepted the last frame of every file: the files are on the card\n"
           "  1  a file or the card refused, or a transfer failed: the card holds the files\n"
           "     sent before it and keeps the rest as they were, unless the message says\n"
           "     otherwise\n"
           "  2  a wrong command line\n";
}

int send_read_command_line(int argc, char* argv[], const std::string& usage, send_command_line& cl,
                           std::FILE* out, std::FILE* err) {
    const cli_program program{SEND_TOOL, usage, printable};
    cli_parsed parsed;
    const int status = cli_read(program, {.options = OPTIONS}, argc, argv, parsed, out, err);
    if (status >= 0)
        return status;
    for (const cli_given& given : parsed.options) {
        if (const std::string error = take_option(given, cl); !error.empty())
            return cli_usage_error(program, error, err);
    }
    if (cl.force_type && !cl.game)
        return cli_usage_error(program, "--force-type needs --type", err);
    cl.files = parsed.operands;
    if (!cl.card.empty() || !cl.entries.empty() || cl.all) {
        if (cl.card.empty())
            return cli_usage_error(program, cl.all ? "--all needs --card" : "--entry needs --card",
                                   err);
        if (cl.entries.empty() && !cl.all)
            return cli_usage_error(program, "--card needs --entry ENTRY or --all", err);
        if (!cl.entries.empty() && cl.all)
            return cli_usage_error(program, "give --entry or --all, not both", err);
        if (!cl.files.empty())
            return cli_usage_error(program, "give FILE or --card, not both", err);
    } else if (cl.files.empty()) {
        return cli_usage_error(program, "no FILE to send", err);
    }
    // What the options tell of a file is for one file.
    if ((cl.name || cl.game || cl.stamp) && (cl.all || cl.files.size() + cl.entries.size() > 1))
        return cli_usage_error(program, "--name, --type and --stamp tell of one file only", err);
    cl.file = cl.files.empty() ? "" : cl.files.front();
    cl.entry = cl.entries.empty() ? "" : cl.entries.front();
    return -1;
}
