// vmurx-vmu: a developer's tools for programs that run on the card itself:
// an assembler for its processor, and a run of a program on the processor
// model with the screen and the registers shown afterwards.
//
//   vmurx-vmu asm [-I DIR]... [-o OUT] SOURCE
//   vmurx-vmu run [OPTION]... FILE
#include <cstdio>
#include <new>
#include <string>

#include "files/text.h"
#include "vmu_tool/vmu_tool.h"

namespace {

const cli_option OPTIONS[] = {
    {VMU_TOOL_INCLUDE, "include", 'I', "DIR", "look for included files in DIR too (repeatable)",
     "asm"},
    {VMU_TOOL_OUTPUT, "output", 'o', "OUT", "write the image to OUT", "asm"},
    {VMU_TOOL_MS, "ms", '\0', "N", "for N ms of the card's own time (default 1000)", "run"},
    {VMU_TOOL_CYCLES, "cycles", '\0', "N", "for N machine cycles", "run"},
    {VMU_TOOL_PRESS, "press", '\0', "BUTTON@MS",
     "hold BUTTON for 100 ms from MS ms on (repeatable); up, down, left, right, a, b, mode or "
     "sleep",
     "run"},
    {VMU_TOOL_CARD, "card", '\0', "IMAGE",
     "take the whole flash from the 128 KiB card IMAGE; FILE then names the card's game, by "
     "its name or #SLOT",
     "run"},
    {VMU_TOOL_BIOS, "bios", '\0', "ROM",
     "boot the card's 64 KiB system ROM from ROM instead of running a game: on the card "
     "--card IMAGE names, or on a newly formatted one; no FILE then (default, when no FILE "
     "is given: $VMURX_BIOS)",
     "run"},
    {VMU_TOOL_LCD, "lcd", '\0', nullptr,
     "print the screen afterwards, 32 lines of 48 characters, # dark and . light", "run"},
    {VMU_TOOL_TEXT, "text", '\0', nullptr,
     "with --bios, print the screen afterwards as text, 4 lines of 8 characters read with the "
     "ROM's own font (# where a cell shows no character)",
     "run"},
    {VMU_TOOL_REGS, "regs", '\0', nullptr, "print ACC PSW B C TRL TRH SP PC afterwards", "run"},
    {VMU_TOOL_PERSON, "person", '\0', "copy:ENTRY|receive",
     "with --bios, play the person at the card instead of --press: through the clock setting "
     "to the file manager, then Copy of the card's ENTRY (by its name or #SLOT) up to \"Copy "
     "?\", or the file list to receive on",
     "run"},
    {VMU_TOOL_SCREEN, "screen", '\0', nullptr,
     "with --person, print each screen it passes as text, with the card's time", "run"},
};

std::string usage() {
    return "Usage: vmurx-vmu asm [-I DIR]... [-o OUT] SOURCE\n"
           "       vmurx-vmu run [--ms N | --cycles N] [--press BUTTON@MS]... [--card IMAGE]\n"
           "                     [--lcd] [--regs] FILE\n"
           "       vmurx-vmu run --bios ROM [--card IMAGE] [--text] [OPTION]...\n"
           "       vmurx-vmu run --bios ROM [--card IMAGE] --person copy:ENTRY|receive\n"
           "                     [--screen]\n"
           "Assemble a program for the VMU's processor, or run one on a model of it.\n"
           "\n"
           "Commands:\n"
           "  asm SOURCE           assemble SOURCE into OUT (default: SOURCE with .vms\n"
           "                       for its extension)\n"
           "  run FILE             run the game image FILE from the card's start state\n"
           "  run --bios ROM       boot the card's system ROM from its power-on\n"
           "\n"
           "Options:\n" +
           cli_options_help(OPTIONS) +
           "\n"
           "What a real card would do with a register and the model does not is named in\n"
           "notes on standard error.\n"
           "\n"
           "Exit status:\n"
           "  0  assembled; or the run's time ran out, or the program called game_end\n"
           "  1  the source has errors or a file cannot be read or written; or the run\n"
           "     stopped in a fault (printed with its PC), or --person did not reach its\n"
           "     goal (printed with the reason)\n"
           "  2  a bad command or option, or a ROM the model cannot boot\n";
}

const cli_program& program() {
    static const cli_program vmu_tool{VMU_TOOL_PROGRAM, usage(), printable};
    return vmu_tool;
}

}  // namespace

int vmu_tool_usage_error(const std::string& message) {
    return cli_usage_error(program(), message);
}

int vmu_tool_fail(const std::string& object, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", VMU_TOOL_PROGRAM, printable(object).c_str(),
                 printable(reason).c_str());
    return 1;
}

int main(int argc, char* argv[]) {
    const char* const commands[] = {"asm", "run"};
    std::size_t which = 0;
    if (const int status = cli_command(program(), commands, argc, argv, which); status >= 0)
        return status;
    cli_parsed parsed;
    const int status = cli_read(program(), {.options = OPTIONS, .command = commands[which]},
                                argc - 1, argv + 1, parsed);
    if (status >= 0)
        return status;
    try {
        return which == 0 ? vmu_tool_asm(parsed) : vmu_tool_run(parsed);
    } catch (const std::bad_alloc&) {
        // Every input is bounded far below what a machine holds; should
        // memory still run out, the run ends with a message, not an abort.
        std::fprintf(stderr, "%s: out of memory\n", VMU_TOOL_PROGRAM);
        return 1;
    }
}
