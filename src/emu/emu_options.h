// The command line of the programs that run against the software VMU
// (vmurx-emu, vmurx-probe-emu, and the kernel stand-in of the end-to-end
// tests): which file the card sends, how fast it clocks, and which fault it
// shows. The options are a table (emu_options.cpp): adding one is a row and
// the function that takes its value (emu_option_values.cpp); the files they
// name are read once all are (emu_setup.cpp).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "vmu/copy_card.h"
#include "vmu/pc_pause.h"
#include "vmu/vmu_realtime.h"
#include "vmu/vmu_sim.h"

struct emu_request;  // emu/emu_setup.h

/// The card that runs the card-side sender on the processor model (--cpu),
/// as the options set it up; emu/emu_cpu.h builds it.
struct emu_cpu_options {
    std::string card_path;       // --card: a card image; empty: a blank card with the sample save
    std::string entry;           // --entry: the file to send, a name or #SLOT; empty: the first
    long cycles_per_read = 2;    // --cycles-per-read
    long cycles_per_delay = 50;  // --cycles-per-delay, when the delay floor is 0
    std::string sender_path;     // --sender: another build of the sender; empty: the built-in one
    bool docked = false;         // --docked: 5 V present, as in a controller
    bool screen = false;         // --screen: show the card's screen and pins at the end
    pc_pause pause;              // --pc-pause LEN@EVERY and --seed: the PC's pauses
    bool safe = false;           // --speed safe: the sender's SAFE, chosen on its list
    std::string bios_path;       // --bios: the card's system ROM; empty: $VMURX_BIOS
    // What the card's setup tells at the end (the sender on the user's card
    // giving way): not an option, the one result the setup leaves here.
    std::string note;
};

/// Which card is behind the port.
enum class emu_card {
    copy,      // the card's own file manager sending with Copy: the default
    scripted,  // --scripted: the protocol card, every level a count of status reads
    cpu,       // --cpu: the card-side sender on the processor model
    rom,       // --bios: the card's own Copy, its system ROM run on the processor model
};

/// What the options set besides the scripted card, which the caller passes
/// in: which card it is, and the other cards' settings.
struct emu_options {
    /// The tool the card serves, set before parsing: "vmurx", "vmurx-backup",
    /// or "vmurx-probe", which never sends the card a byte and has no frames
    /// to raise its priority in, so the options about those are not its own.
    std::string tool = "vmurx";
    emu_card card = emu_card::copy;
    bool realtime = false;  // --realtime: keep real time on a thread of its own
    vmu_realtime_config realtime_config;
    std::string report_path;  // --report: where the real-time card's report goes; empty: nowhere
    bool replace_report = false;  // --force: an existing report (a regular file only) is replaced
    /// The card's own Copy, configured and given its frames by the options.
    copy_card copy;
    emu_cpu_options cpu;
};

/// The help text of the VMU options for `tool`, a line or more per option.
std::string emu_options_help(const std::string& tool = "vmurx");

/// Sets up `vmu` (the scripted card) and `options` from `args` (the VMU
/// options alone, without the program name); both cards get the file's
/// frames, whichever the options choose. Returns false with a one-line reason in `error` for
/// anything it cannot take; `vmu` is then unusable.
bool emu_parse_options(const std::vector<std::string>& args, vmu_sim& vmu, emu_options& options,
                       std::string& error);

/// The command line of a program run against the software VMU:
/// `program [VMU options] [-- tool options]`. Sets up `vmu` and `options`
/// from the options before "--" and gives the tool's own command line in
/// `tool_argv`: the program name, what follows "--", and a null pointer.
/// The program is `tool`-emu; `summary` is the help's first line. The
/// tool's options in `tool_options` (long names and letters that none of the
/// VMU options has) are taken before "--" too, and handed on ahead of what
/// follows it. Returns -1 to go on, or the status to exit with: 0 after the
/// help or the version, 2 after a wrong VMU option (with the usage) or a
/// file the options name that cannot be sent (without it). With `deferred`
/// the files are not read: what the options ask of the card's file goes
/// there, for a program that sets up the card file after file
/// (vmurx-backup-emu, through emu_setup_card).
int emu_split_command_line(int argc, char* argv[], vmu_sim& vmu, emu_options& options,
                           const char* tool, const char* summary, std::vector<char*>& tool_argv,
                           std::span<const cli_option> tool_options = {},
                           emu_request* deferred = nullptr);

/// Prints "PROGRAM: MESSAGE" on standard error, the message made safe for a
/// terminal as every program's are: it may name files and cards of any
/// bytes.
void emu_fail(const char* program, const std::string& message);
