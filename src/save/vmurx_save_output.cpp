// vmurx-save's shared output: the help text, the two kinds of error message,
// and reading a file with its analysis, as every command does.
#include <cstdio>

#include "files/text.h"
#include "save/vmurx_save.h"

const char* const USAGE =
    "Usage: vmurx-save COMMAND [OPTION]... FILE...\n"
    "Inspect, check and convert a save received from a VMU.\n"
    "\n"
    "Commands:\n"
    "  info [--json] FILE...       describe each file (--json: one JSON array)\n"
    "  check FILE...               tell intact saves from damaged ones, a line per file\n"
    "  icon [--frame K] [--scale N] [--force] FILE OUT.png\n"
    "                              write the icon frames side by side, or frame K, as a PNG\n"
    "  eyecatch [--scale N] [--force] FILE OUT.png\n"
    "                              write the 72x56 eyecatch as a PNG\n"
    "  convert [OPTION]... IN OUT  write IN in the format OUT's extension names: .dci a DCI,\n"
    "                              .vms the bytes with a .vmi beside it, else the bytes alone\n"
    "\n"
    "Options:\n"
    "  --json                      info: print JSON\n"
    "  --frame K                   icon: only frame K (1 to 3)\n"
    "  --scale N                   icon, eyecatch: enlarge N times (1 to 16)\n"
    "  --name NAME                 convert: the card's file name, 1 to 12 bytes\n"
    "  --stamp YYYYMMDDhhmmss      convert: the time stamp, local standard time\n"
    "  --type game|data            convert: the file's type\n"
    "  --protect                   convert: mark the file copy-protected\n"
    "  --description TEXT          convert: the VMI's description, at most 32 bytes\n"
    "                              (default: the VMU menu's description)\n"
    "  --copyright TEXT            convert: the VMI's copyright, at most 32 bytes\n"
    "  --force-type                convert: write a --type that contradicts the save's header\n"
    "  --force                     icon, eyecatch, convert: replace existing files\n"
    "  -h, --help                  display this help and exit\n"
    "  --version                   output version information and exit\n"
    "\n"
    "Files are read by extension, in any letter case: .dci is a DCI; .vmi is the .vms\n"
    "beside it with this descriptor; anything else holds the bytes as on the card (a .vms\n"
    "uses the .vmi of the same base name beside it when there is one). Without a\n"
    "descriptor the card name is the file's name and the stamp its modification time.\n"
    "\n"
    "Exit status:\n"
    "  0  done; for check: every file is OK\n"
    "  1  check: a file FAILED; other commands: the work could not be done\n"
    "  2  a bad command, option or option value; check and info: a file cannot be\n"
    "     read; check: a file is not a save\n";

// Names and values in messages come from the command line or from a file's
// name: they pass through the same escaping as standard output, so that no
// control byte reaches the terminal.
int usage_error(const std::string& message) {
    if (!message.empty())
        std::fprintf(stderr, "%s: %s\n", PROGRAM, printable(message).c_str());
    std::fputs(USAGE, stderr);
    return 2;
}

void report(const std::string& object, const std::string& reason) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, printable(object).c_str(),
                 printable(reason).c_str());
}

int fail(const std::string& object, const std::string& reason) {
    report(object, reason);
    return 1;
}

int fail_write(const file_error& error) {
    if (error.cause == file_failure::exists)
        return fail(error.object, error.reason + " (use --force to replace it)");
    return fail(error.object, error.reason);
}

void warn(const std::string& object, const std::string& reason) {
    report("warning: " + object, reason);
}

bool examine(const std::string& path, examined& file, file_error& error) {
    if (!load_save(path, file.input, error))
        return false;
    file.analysis = analyse_save(file.input.content, file.input.kind, file.input.name.value_or(""));
    return true;
}
