// vmurx-card: puts a received save on the card image an emulator or an SD
// adapter plays from, takes files off it, and checks and packs it.
//
//   vmurx-card COMMAND [OPTION]... CARD [ARGUMENT]...
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "card/vmurx_card.h"
#include "files/text.h"

namespace {

const char* const USAGE =
    "Usage: vmurx-card COMMAND [OPTION]... CARD [ARGUMENT]...\n"
    "Look into, check and change a whole card image (raw, .vmd, .vmu, .bin or a .dcm\n"
    "dump) that emulators and SD-card adapters play from.\n"
    "\n"
    "Commands:\n"
    "  list [--json] CARD            the files, their blocks, stamps and descriptions\n"
    "  extract [-o DIR] [--as raw|dci|vms] [--force] CARD [ENTRY]...\n"
    "                                write the ENTRYs (default: every file) into DIR\n"
    "  add [--name NAME] [--type game|data] [--stamp YYYYMMDDhhmmss] [--protect]\n"
    "      [--defrag] CARD FILE...   put saves on the card, all or none\n"
    "  remove CARD ENTRY...          take files off the card\n"
    "  check [--json] CARD...        look for damage, a line per finding\n"
    "  defrag CARD                   pack the files so that a game finds room\n"
    "  new [--color RRGGBBAA] [--icon N] CARD\n"
    "                                write a blank card (a name ending in .dcm: Nexus order)\n"
    "\n"
    "Options:\n"
    "  --json                        list, check: print JSON\n"
    "  -o, --output DIR              extract: write into DIR (default: the current one)\n"
    "  --as raw|dci|vms              extract: the bytes as on the card (default), a .DCI,\n"
    "                                or a .VMS with its .VMI, as vmurx-save convert writes\n"
    "  --force                       extract: replace existing files\n"
    "  --name NAME                   add: the card name, 1 to 12 bytes\n"
    "  --type game|data              add: the file's type\n"
    "  --stamp YYYYMMDDhhmmss        add: the time stamp, local standard time\n"
    "  --protect                     add: mark the file copy-protected\n"
    "  --defrag                      add: pack the data files first, in the same write\n"
    "  --color RRGGBBAA              new: the card's colour (default: ffffffff)\n"
    "  --icon N                      new: the card's icon shape, 0 to 123 (default: 0)\n"
    "  --help                        display this help and exit\n"
    "  --version                     output version information and exit\n"
    "\n"
    "An ENTRY is a card name (trailing NULs ignored, compared exactly) or #N, the\n"
    "slot that list shows. FILEs are read as vmurx-save reads them; --name, --type,\n"
    "--stamp and --protect override what they tell, and need exactly one FILE.\n"
    "\n"
    "Exit status:\n"
    "  0  done; for check: no card has errors\n"
    "  1  the work could not be done; check: a card has errors\n"
    "  2  a bad command or option, or a CARD that cannot be read or is not a card\n";

enum option_id {
    OPT_HELP = 256,
    OPT_JSON,
    OPT_OUTPUT,
    OPT_AS,
    OPT_FORCE,
    OPT_NAME,
    OPT_TYPE,
    OPT_STAMP,
    OPT_PROTECT,
    OPT_DEFRAG,
    OPT_COLOR,
    OPT_ICON
};

// An option and the commands that take it, each between spaces.
struct card_option {
    option getopt;
    const char* commands;
};

const card_option OPTIONS[] = {
    {{"json", no_argument, nullptr, OPT_JSON}, " list check "},
    {{"output", required_argument, nullptr, OPT_OUTPUT}, " extract "},
    {{"as", required_argument, nullptr, OPT_AS}, " extract "},
    {{"force", no_argument, nullptr, OPT_FORCE}, " extract "},
    {{"name", required_argument, nullptr, OPT_NAME}, " add "},
    {{"type", required_argument, nullptr, OPT_TYPE}, " add "},
    {{"stamp", required_argument, nullptr, OPT_STAMP}, " add "},
    {{"protect", no_argument, nullptr, OPT_PROTECT}, " add "},
    {{"defrag", no_argument, nullptr, OPT_DEFRAG}, " add "},
    {{"color", required_argument, nullptr, OPT_COLOR}, " new "},
    {{"icon", required_argument, nullptr, OPT_ICON}, " new "},
};

struct command {
    const char* name;
    int (*run)(const card_command_line&);
};

const command COMMANDS[] = {
    {"list", card_list_command},   {"extract", card_extract_command},
    {"add", card_add_command},     {"remove", card_remove_command},
    {"check", card_check_command}, {"defrag", card_defrag_command},
    {"new", card_new_command},
};

void take_option(int id, card_command_line& cl) {
    switch (id) {
        case OPT_JSON:
            cl.json = true;
            break;
        case OPT_OUTPUT:
            cl.output_dir = optarg;
            break;
        case OPT_AS:
            cl.as = optarg;
            break;
        case OPT_FORCE:
            cl.force = true;
            break;
        case OPT_NAME:
            cl.name = optarg;
            break;
        case OPT_TYPE:
            cl.type = optarg;
            break;
        case OPT_STAMP:
            cl.stamp = optarg;
            break;
        case OPT_PROTECT:
            cl.protect = true;
            break;
        case OPT_DEFRAG:
            cl.defrag = true;
            break;
        case OPT_COLOR:
            cl.colour = optarg;
            break;
        case OPT_ICON:
            cl.icon = optarg;
            break;
        default:
            break;
    }
}

// Parses the command's options; false with a message for a bad one.
bool parse_command(const std::string& name, int argc, char* argv[], card_command_line& cl,
                   bool& help, std::string& error) {
    std::vector<option> options{{"help", no_argument, nullptr, OPT_HELP}};
    std::string short_options;
    for (const card_option& o : OPTIONS) {
        if (std::strstr(o.commands, (" " + name + " ").c_str()) != nullptr)
            options.push_back(o.getopt);
    }
    if (name == "extract")
        short_options += "o:";
    options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;  // the messages below name this program
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, short_options.c_str(), options.data(), nullptr)) != -1) {
        if (id == OPT_HELP) {
            help = true;
        } else if (id == 'o') {
            cl.output_dir = optarg;
        } else if (id == '?' || id == ':') {
            const std::string word = argv[optind - 1];
            if (optopt == 0)
                error = "unrecognized option '" + word + "'";
            else if (optopt >= OPT_HELP || (optopt == 'o' && name == "extract"))
                error = "option '" + word + "' needs a value";
            else
                error = std::string("unrecognized option '-") + static_cast<char>(optopt) + "'";
            return false;
        } else {
            take_option(id, cl);
        }
    }
    for (int i = optind; i < argc; ++i)
        cl.operands.emplace_back(argv[i]);
    return true;
}

}  // namespace

int card_usage_error(const std::string& message) {
    if (!message.empty())
        std::fprintf(stderr, "%s: %s\n", CARD_PROGRAM, printable(message).c_str());
    std::fputs(USAGE, stderr);
    return 2;
}

int main(int argc, char* argv[]) {
    if (argc < 2)
        return card_usage_error("missing command");
    const std::string name = argv[1];
    if (name == "--help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("vmurx-card (vmurx) %s\n", VMURX_VERSION);
        return 0;
    }
    for (const command& c : COMMANDS) {
        if (name != c.name)
            continue;
        card_command_line cl;
        bool help = false;
        std::string error;
        if (!parse_command(name, argc - 1, argv + 1, cl, help, error))
            return card_usage_error(error);
        if (help) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (cl.operands.empty())
            return card_usage_error("no CARD given");
        return c.run(cl);
    }
    return card_usage_error("unknown command '" + name + "'");
}
