// vmurx-backup's option table over the command-line layer, and the checks
// of the values a user types, made before any file is read or the port
// opened.
#include "backup/backup_options.h"

#include <cstdint>

#include "files/text.h"
#include "lpt/lpt.h"

namespace {

enum option_id { DEVICE, CARD, OUTPUT, AS, COUNT, LOG };

const cli_option OPTIONS[] = {
    {DEVICE, "device", 'd', "DEVICE",
     "the parallel port: LPT1 to LPT3 or a base address such as 0x378 (default LPT1)", nullptr},
    {CARD, "card", '\0', "IMAGE",
     "put every file into this card image (raw, or .dcm by its name), each where the card "
     "itself would put it; a new blank image is made when none is there",
     nullptr},
    {OUTPUT, "output", 'o', "DIR", "write a file per file into the folder DIR instead", nullptr},
    {AS, "as", '\0', "dci|vms|raw",
     "with -o: each file as a .DCI (default), a .VMS with its .VMI, or its bytes alone", nullptr},
    {COUNT, "count", '\0', "N",
     "end once N files are stored (default: until Ctrl-C or the end "
     "of input)",
     nullptr},
    {LOG, "log", '\0', "FILE",
     "write the link's communications log of every file to FILE, a new file", nullptr},
};

std::string take_option(const cli_given& given, backup_command_line& cl) {
    const std::string& value = given.value;
    switch (given.id) {
        case DEVICE: {
            std::uint16_t base = 0;
            if (!lpt_parse_port(value.c_str(), base))
                return "bad device '" + value + "' (LPT1 to LPT3 or a base address such as 0x378)";
            cl.device = value;
            break;
        }
        case CARD:
            if (value.empty())
                return "--card needs an IMAGE";
            cl.card = value;
            break;
        case OUTPUT:
            if (value.empty())
                return "-o needs a DIR";
            cl.folder = value;
            break;
        case AS:
            if (value == "dci")
                cl.form = card_name_form::dci;
            else if (value == "vms")
                cl.form = card_name_form::vms;
            else if (value == "raw")
                cl.form = card_name_form::raw;
            else
                return "bad form '" + value + "' (dci, vms or raw)";
            break;
        case COUNT: {
            std::uint64_t count = 0;
            if (!cli_parse_uint(value, 1, 200, count))
                return "bad count '" + value + "' (1 to 200)";
            cl.count = static_cast<std::size_t>(count);
            break;
        }
        default:  // LOG
            if (value.empty())
                return "--log needs a FILE";
            cl.log = value;
            break;
    }
    return "";
}

}  // namespace

std::span<const cli_option> backup_option_rows() {
    return OPTIONS;
}

std::string backup_usage(const std::string& program, const std::string& before) {
    const std::string words = before.empty() ? "" : before + " ";
    return "Usage: " + program + " " + words + "[OPTION]... --card IMAGE\n" + "       " + program +
           " " + words +
           "[OPTION]... -o DIR\n"
           "Back up a memory card file after file through the card's own Copy.\n"
           "\n"
           "For each file: choose it in the card's file manager and take Copy; when the\n"
           "card asks \"Copy ?\", press Enter here, then A on the card. The file arrives\n"
           "at the card's pace, about 4 s a block, and is stored only once it is whole.\n"
           "End with Ctrl-C or the end of input (Ctrl-D), or give --count.\n"
           "\n"
           "Options:\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "Exit status:\n"
           "  0  every file that was begun arrived and was stored\n"
           "  1  a file was refused, failed or was skipped: the image or folder holds the\n"
           "     files that arrived before and after it, and nothing of it\n"
           "  2  a wrong command line\n";
}

int backup_read_command_line(int argc, char* argv[], const std::string& usage,
                             backup_command_line& cl, std::FILE* out, std::FILE* err) {
    const cli_program program{BACKUP_TOOL, usage, printable};
    cli_parsed parsed;
    const int status =
        cli_read(program, {.options = OPTIONS, .operands = false}, argc, argv, parsed, out, err);
    if (status >= 0)
        return status;
    bool as_given = false;
    for (const cli_given& given : parsed.options) {
        if (const std::string error = take_option(given, cl); !error.empty())
            return cli_usage_error(program, error, err);
        as_given = as_given || given.id == AS;
    }
    if (cl.card.empty() == cl.folder.empty())
        return cli_usage_error(program, "give --card IMAGE or -o DIR, one of them", err);
    if (as_given && cl.folder.empty())
        return cli_usage_error(program, "--as goes with -o", err);
    return -1;
}
