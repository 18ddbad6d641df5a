// vmurx-card: puts a received save on the card image an emulator or an SD
// adapter plays from, takes files off it, and checks and packs it.
//
//   vmurx-card COMMAND [OPTION]... CARD [ARGUMENT]...
#include <cstdio>
#include <string>
#include <vector>

#include "card/vmurx_card.h"
#include "cli/cli.h"
#include "files/text.h"

namespace {

enum option_id {
    JSON,
    OUTPUT,
    AS,
    FORCE,
    NAME,
    TYPE,
    FORCE_TYPE,
    STAMP,
    PROTECT,
    DEFRAG,
    COLOR,
    ICON,
    DRY_RUN,
    QUIET,
};

const cli_option OPTIONS[] = {
    {JSON, "json", '\0', nullptr, "print JSON", "list check"},
    {OUTPUT, "output", 'o', "DIR", "write into DIR (default: the current one)", "extract"},
    {AS, "as", '\0', "raw|dci|vms",
     "the bytes as on the card (default), a .DCI, or a .VMS with its .VMI, as vmurx-save "
     "convert writes them",
     "extract"},
    {FORCE, "force", '\0', nullptr,
     "replace existing files (extract); change a read-only or hard-linked card",
     "extract add remove defrag repair"},
    {NAME, "name", '\0', "NAME", "the card name, 1 to 12 bytes", "add"},
    {TYPE, "type", '\0', "game|data", "the file's type", "add"},
    {FORCE_TYPE, "force-type", '\0', nullptr,
     "the --type given, even where the save's header is the other type's", "add"},
    {STAMP, "stamp", '\0', "YYYYMMDDhhmmss", "the time stamp, local standard time", "add"},
    {PROTECT, "protect", '\0', nullptr, "mark the file copy-protected", "add"},
    {DEFRAG, "defrag", '\0', nullptr, "pack the data files first, in the same write", "add"},
    {COLOR, "color", '\0', "RRGGBBAA", "the card's colour (default: ffffffff)", "new"},
    {ICON, "icon", '\0', "N", "the card's icon shape, 0 to 123 (default: 0)", "new"},
    {DRY_RUN, "dry-run", '\0', nullptr, "say what would be mended, and write nothing", "repair"},
    {QUIET, "quiet", 'q', nullptr, "print nothing on success",
     "extract add remove defrag new repair"},
};

std::string usage() {
    return "Usage: vmurx-card COMMAND [OPTION]... CARD [ARGUMENT]...\n"
           "Look into, check and change a whole card image (raw, .vmd, .vmu, .bin or a .dcm\n"
           "dump) that emulators and SD-card adapters play from.\n"
           "\n"
           "Commands:\n"
           "  list [--json] CARD            the files, their blocks, stamps and descriptions\n"
           "  extract [-o DIR] [--as raw|dci|vms] [--force] CARD [ENTRY]...\n"
           "                                write the ENTRYs (default: every file) into DIR\n"
           "  add [--name NAME] [--type game|data [--force-type]] [--stamp YYYYMMDDhhmmss]\n"
           "      [--protect] [--defrag] CARD FILE...\n"
           "                                put saves on the card, all or none\n"
           "  remove CARD ENTRY...          take files off the card\n"
           "  check [--json] CARD...        look for damage, a line per finding\n"
           "  defrag CARD                   pack the files so that a game finds room\n"
           "  repair [--dry-run] CARD       free lost blocks, end looping chains\n"
           "  new [--color RRGGBBAA] [--icon N] CARD\n"
           "                                write a blank card (a .dcm name: Nexus order)\n"
           "\n"
           "Options:\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "An ENTRY is a card name or #N, the slot that list shows; a slot names that slot\n"
           "whatever the names. A name is compared exactly, its trailing NULs ignored (and\n"
           "its trailing spaces, when no name matches exactly). FILEs are read as vmurx-save\n"
           "reads them; --name, --type, --stamp and --protect override what they tell, and\n"
           "need exactly one FILE.\n"
           "\n"
           "A change is written whole, under a lock that keeps a second writer out, and only\n"
           "while the card is still as read; add, remove, defrag, repair and new print a\n"
           "line on success (-q: nothing).\n"
           "\n"
           "Exit status:\n"
           "  0  done; for check: no card has errors; for repair: none are left\n"
           "  1  the work could not be done; check, repair: a card has errors\n"
           "  2  a bad command or option, or a CARD that cannot be read or is not a card\n";
}

const cli_program& program() {
    static const cli_program card{CARD_PROGRAM, usage(), printable};
    return card;
}

struct command {
    const char* name;
    int (*run)(const card_command_line&);
};

const command COMMANDS[] = {
    {"list", card_list_command},   {"extract", card_extract_command},
    {"add", card_add_command},     {"remove", card_remove_command},
    {"check", card_check_command}, {"defrag", card_defrag_command},
    {"new", card_new_command},     {"repair", card_repair_command},
};

void take_option(const cli_given& given, card_command_line& cl) {
    switch (given.id) {
        case JSON:
            cl.json = true;
            break;
        case OUTPUT:
            cl.output_dir = given.value;
            break;
        case AS:
            cl.as = given.value;
            break;
        case FORCE:
            cl.force = true;
            break;
        case NAME:
            cl.name = given.value;
            break;
        case TYPE:
            cl.type = given.value;
            break;
        case STAMP:
            cl.stamp = given.value;
            break;
        case PROTECT:
            cl.protect = true;
            break;
        case DEFRAG:
            cl.defrag = true;
            break;
        case FORCE_TYPE:
            cl.force_type = true;
            break;
        case DRY_RUN:
            cl.dry_run = true;
            break;
        case QUIET:
            cl.quiet = true;
            break;
        case COLOR:
            cl.colour = given.value;
            break;
        default:  // ICON
            cl.icon = given.value;
            break;
    }
}

}  // namespace

int card_usage_error(const std::string& message) {
    return cli_usage_error(program(), message);
}

int main(int argc, char* argv[]) {
    std::vector<const char*> names;
    for (const command& c : COMMANDS)
        names.push_back(c.name);
    std::size_t which = 0;
    if (const int status = cli_command(program(), names, argc, argv, which); status >= 0)
        return status;
    const command& chosen = COMMANDS[which];
    cli_parsed parsed;
    const int status = cli_read(program(), {.options = OPTIONS, .command = chosen.name}, argc - 1,
                                argv + 1, parsed);
    if (status >= 0)
        return status;
    card_command_line cl;
    for (const cli_given& given : parsed.options)
        take_option(given, cl);
    cl.operands = parsed.operands;
    if (cl.operands.empty())
        return card_usage_error("no CARD given");
    return chosen.run(cl);
}
