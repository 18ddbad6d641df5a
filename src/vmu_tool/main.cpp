// vmurx-vmu: a developer's tools for programs that run on the card itself:
// an assembler for its processor, and a run of a program on the processor
// model with the screen and the registers shown afterwards.
//
//   vmurx-vmu asm [-I DIR]... [-o OUT] SOURCE
//   vmurx-vmu run [OPTION]... FILE
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "vmu_tool/vmu_tool.h"

const char* const VMU_TOOL_USAGE =
    "Usage: vmurx-vmu asm [-I DIR]... [-o OUT] SOURCE\n"
    "       vmurx-vmu run [--ms N | --cycles N] [--press BUTTON@MS]... [--card IMAGE]\n"
    "                     [--lcd] [--regs] FILE\n"
    "Assemble a program for the VMU's processor, or run one on a model of it.\n"
    "\n"
    "Commands:\n"
    "  asm SOURCE           assemble SOURCE into OUT (default: SOURCE with .vms\n"
    "                       for its extension)\n"
    "  run FILE             run the game image FILE from the card's start state\n"
    "\n"
    "Options:\n"
    "  -I, --include DIR    asm: look for included files in DIR too (repeatable)\n"
    "  -o, --output OUT     asm: write the image to OUT\n"
    "  --ms N               run: for N ms of the card's own time (default 1000)\n"
    "  --cycles N           run: for N machine cycles\n"
    "  --press BUTTON@MS    run: hold BUTTON for 100 ms from MS ms on (repeatable);\n"
    "                       up, down, left, right, a, b, mode or sleep\n"
    "  --card IMAGE         run: take the whole flash from the 128 KiB card IMAGE;\n"
    "                       FILE then names the card's game\n"
    "  --lcd                run: print the screen afterwards, 32 lines of 48\n"
    "                       characters, # dark and . light\n"
    "  --regs               run: print ACC PSW B C TRL TRH SP PC afterwards\n"
    "  --help               display this help and exit\n"
    "  --version            output version information and exit\n"
    "\n"
    "What a real card would do with a register and the model does not is named in\n"
    "notes on standard error.\n"
    "\n"
    "Exit status:\n"
    "  0  assembled; or the run's time ran out, or the program called game_end\n"
    "  1  the source has errors or a file cannot be read or written; or the run\n"
    "     stopped in a fault (printed with its PC)\n"
    "  2  a bad command or option\n";

int vmu_tool_usage_error(const std::string& message) {
    if (!message.empty()) {
        std::fprintf(stderr, "%s: %s\n", VMU_TOOL_PROGRAM, message.c_str());
    }
    std::fputs(VMU_TOOL_USAGE, stderr);
    return 2;
}

int vmu_tool_fail(const std::string& object, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", VMU_TOOL_PROGRAM, object.c_str(), reason.c_str());
    return 1;
}

bool vmu_tool_read_file(const std::string& path, std::size_t limit,
                        std::vector<std::uint8_t>& bytes, std::string& reason) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        reason = std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        reason = std::strerror(errno);
        return false;
    }
    if (bytes.size() > limit) {
        reason = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    return true;
}

int main(int argc, char* argv[]) {
    if (argc < 2) {
        return vmu_tool_usage_error("no command");
    }
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::fputs(VMU_TOOL_USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("%s (vmurx) %s\n", VMU_TOOL_PROGRAM, VMURX_VERSION);
        return 0;
    }
    if (command == "asm") {
        return vmu_tool_asm(argc - 1, argv + 1);
    }
    if (command == "run") {
        return vmu_tool_run(argc - 1, argv + 1);
    }
    return vmu_tool_usage_error("unknown command '" + command + "'");
}
