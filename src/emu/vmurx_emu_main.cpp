// vmurx-emu: the unchanged tool against a software card, to try a whole
// transfer without a parallel port or a card: the card's own Copy by
// default, the scripted protocol card with --scripted, with --cpu the
// processor model running the card-side sender, or with --bios the card's
// own system ROM on that model.
//
//   vmurx-emu [VMU options] [-- vmurx options]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "block/program.h"
#include "cli/cli.h"
#include "emu/emu_card.h"
#include "emu/emu_options.h"
#include "main/vmurx.h"
#include "platform/emu/emu_platform.h"

namespace {

emu_options& options() {
    static emu_options chosen;
    return chosen;
}

// The tool ends the process itself, so the card's report is written and the
// card shown on the way out. The report is an output like the received file,
// so a run whose report could not be written ends with status 1 even where
// the transfer succeeded.
void end_emu_run(int status) {
    const bool reported = emu_write_report(options(), "vmurx-emu");
    emu_show_card(options(), "vmurx-emu", stderr);
    std::exit(status == 0 && !reported ? 1 : status);
}

// vmurx's own -n and -v: no VMU option takes those letters, so they may
// come before "--" as well (vmurx has no long options; -h stays this
// program's help, and -d names no port a software card needs).
const cli_option VMURX_OPTIONS[] = {
    {0, nullptr, 'n', "NAME", "store the file under NAME", nullptr},
    {0, nullptr, 'v', nullptr, "verbose", nullptr},
};

}  // namespace

int main(int argc, char* argv[]) {
    std::vector<char*> tool_argv;
    const int status = emu_split_command_line(
        argc, argv, emu_vmu(), options(), "vmurx",
        "Runs vmurx against a software card that sends one file over a simulated cable:\n"
        "the card's own Copy, unless --scripted, --cpu or --bios chooses another.",
        tool_argv, VMURX_OPTIONS);
    if (status >= 0)
        return status;
    std::string error;
    if (!emu_put_card(options(), error)) {
        // As for the protocol card's files: what the options name is unusable.
        emu_fail("vmurx-emu", error);
        return CLI_USAGE;
    }
    set_program_end(end_emu_run);
    return vmurx_main(static_cast<int>(tool_argv.size()) - 1, tool_argv.data());
}
