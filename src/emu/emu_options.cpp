// The software VMU's options: a table with a row per option (its name and
// value and help for the command-line layer, which card it is for, the
// function that takes its value), the reading of a command line through it,
// and the help. The files the options name are read afterwards, by
// emu_setup.cpp.
#include "emu/emu_options.h"

#include <array>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli.h"
#include "emu/emu_option_values.h"
#include "emu/emu_setup.h"
#include "files/text.h"

namespace {

// Which card an option is for.
enum class card_mode {
    any,
    realtime,
    copy,
    scripted,
    scripted_counting,
    scripted_realtime,
    cpu,
    cpu_or_rom,
    copy_or_cpu,
    counting_copy_or_cpu,
};
constexpr std::size_t CARD_MODES = static_cast<std::size_t>(card_mode::counting_copy_or_cpu) + 1;

using setter = bool (*)(emu_reading& reading, const emu_arg& given, std::string& error);

struct emu_option {
    cli_option cli;
    card_mode mode;
    bool tool_only;  // about the bytes the tool sends or its frames: not for the probe
    setter set;
};

// In the order of the help, each at the index of its id.
constexpr emu_option OPTIONS[] = {
    {{EMU_FILE, "file", '\0', "PATH",
      "the file to send (default: a built-in two-block sample save); padded with zeros to "
      "whole 512-byte blocks, at most 255 blocks. A .dci, or a .vms with the .vmi beside it, "
      "also gives the name, type and stamp, unless --name, --type or --stamp are given",
      nullptr},
     card_mode::any,
     false,
     emu_set_path},
    {{EMU_CARD, "card", '\0', "CARD",
      "send a file of a whole card image (raw or .dcm): the one that --entry names, with its "
      "name, type, stamp and copy protection; with --cpu: the card the sender runs on, never "
      "changed (default: a blank card holding the sample save), the sender in the game slot of "
      "a copy",
      nullptr},
     card_mode::any,
     false,
     emu_set_path},
    {{EMU_ENTRY, "entry", '\0', "ENTRY",
      "the file's card name, or #N for slot N (as vmurx-card list shows them); with --cpu the "
      "default is the first the sender lists",
      nullptr},
     card_mode::any,
     false,
     emu_set_entry},
    {{EMU_NAME, "name", '\0', "NAME",
      "its name on the card, 1 to 12 characters (default VMURX_DEMO)", nullptr},
     card_mode::any,
     false,
     emu_set_name},
    {{EMU_RAW_NAME, "raw-name", '\0', "HEX", "the 12 bytes of the name block as 24 hex digits",
      nullptr},
     card_mode::any,
     false,
     emu_set_raw_name},
    {{EMU_TYPE, "type", '\0', "TYPE",
      "game, data (in any letter case), or a byte value such as 0x00 (default data)", nullptr},
     card_mode::any,
     false,
     emu_set_type},
    {{EMU_STAMP, "stamp", '\0', "STAMP", "its stamp, YYYYMMDDhhmmss (default 19991231235958)",
      nullptr},
     card_mode::any,
     false,
     emu_set_stamp},
    {{EMU_FAULT, "fault", '\0', "FAULT",
      "a fault of the card or the cable; may be given more than once:\n"
      "  never-ready    the ready signal never comes (Select not wired)\n"
      "  no-peer        the PC's D3 does not reach the card (the card's own Copy only)\n"
      "  stall=N        stop clocking before the first bit of the Nth byte the card sends "
      "(counted from 0)\n"
      "  wrong-code=K   send frame K with a wrong code\n"
      "  bad-trailer=K  end frame K with trailer byte 0x01\n"
      "  short=K        announce and send less in frame K\n"
      "  stop=K         send nothing after frame K\n"
      "Frames count from 1: start, name, then data and flash blocks alternately, then the "
      "directory and the last flash block.",
      nullptr},
     card_mode::any,
     false,
     emu_set_fault},
    {{EMU_SEED, "seed", '\0', "N", "seed of --pc-pause and --jitter (default 1)", nullptr},
     card_mode::any,
     false,
     emu_set_number},
    {{EMU_DOCKED, "docked", '\0', nullptr,
      "the card is in a controller, 5 V present: the card's own Copy asks for a second card, "
      "the sender refuses to send",
      nullptr},
     card_mode::copy_or_cpu,
     false,
     emu_set_switch},
    {{EMU_REALTIME, "realtime", '\0', nullptr,
      "keep real time on a thread of the card's own instead of counting what the PC does; a "
      "port read then costs --read-us (the card's own Copy), and with --scripted a byte other "
      "than the reply or answer the card awaits makes it stop sending",
      nullptr},
     card_mode::any,
     false,
     emu_set_switch},
    {{EMU_NO_RAISE, "no-raise", '\0', nullptr,
      "with --realtime: the tool keeps its priority through frames, as where raising it is not "
      "permitted (the card's thread always takes the best priority it may)",
      nullptr},
     card_mode::realtime,
     true,
     emu_set_switch},
    {{EMU_RC_KHZ, "rc-khz", '\0', "KHZ",
      "the card's own Copy (the default card): its RC clock, 600 to 1200 kHz (default 879); a "
      "bit lasts 16 cycles of a sixth of it",
      nullptr},
     card_mode::copy,
     false,
     emu_set_number},
    {{EMU_READ_US, "read-us", '\0', "US",
      "the card's own Copy: what one port read or write of the PC costs, 1 to 1000 µs "
      "(default 2); the PC's delay unit costs its floor",
      nullptr},
     card_mode::copy,
     false,
     emu_set_number},
    {{EMU_PC_PAUSE, "pc-pause", '\0', "LEN@EVERY",
      "the card's own Copy or --cpu, counting: the PC pauses LEN µs now and then, EVERY µs "
      "apart on average, at moments drawn from --seed, as a loaded PC does",
      nullptr},
     card_mode::counting_copy_or_cpu,
     false,
     emu_set_pc_pause},
    {{EMU_PROTECT, "protect", '\0', nullptr,
      "the card's own Copy: the file is copy-protected, and the card refuses to send it", nullptr},
     card_mode::copy,
     false,
     emu_set_switch},
    {{EMU_SCRIPTED, "scripted", '\0', nullptr,
      "in place of the card's own Copy, the scripted protocol card: every level a number of "
      "status reads, trailers 0x00, for exact control of the timing",
      nullptr},
     card_mode::any,
     false,
     emu_set_switch},
    {{EMU_READY_AFTER, "ready-after", '\0', "N",
      "with --scripted: status reads before the card is ready (default 0)", nullptr},
     card_mode::scripted,
     false,
     emu_set_number},
    {{EMU_HOLD, "hold", '\0', "N",
      "with --scripted: status reads per level of the card clock (default 1)", nullptr},
     card_mode::scripted_counting,
     false,
     emu_set_number},
    {{EMU_JITTER, "jitter", '\0', "N",
      "with --scripted: up to N extra reads (with --realtime: microseconds) per level, varied "
      "by --seed (default 0)",
      nullptr},
     card_mode::scripted,
     false,
     emu_set_number},
    {{EMU_HOLD_US, "hold-us", '\0', "N",
      "with --scripted --realtime: microseconds per level, 1 to 100000 (default 10)", nullptr},
     card_mode::scripted_realtime,
     false,
     emu_set_number},
    {{EMU_SAMPLE_US, "sample-us", '\0', "P",
      "with --scripted --realtime: look at D0 and D1 only every P microseconds, 0 to 100000 "
      "(default 0: see every level)",
      nullptr},
     card_mode::scripted_realtime,
     true,
     emu_set_number},
    {{EMU_REPORT, "report", '\0', "PATH",
      "with --scripted --realtime: write what the card measured to PATH at the end; an "
      "existing file is refused",
      nullptr},
     card_mode::scripted_realtime,
     false,
     emu_set_path},
    {{EMU_FORCE, "force", '\0', nullptr,
      "with --report: replace an existing report (a regular file only)", nullptr},
     card_mode::scripted_realtime,
     false,
     emu_set_switch},
    {{EMU_CPU, "cpu", '\0', nullptr,
      "in place of the card's own Copy, the card-side sender on the processor model: it lists "
      "the card's files, the file --entry names is chosen with the card's buttons, and it sends "
      "it (with --realtime the model runs on its own thread, paced by the clock)",
      nullptr},
     card_mode::any,
     false,
     emu_set_switch},
    {{EMU_CYCLES_PER_READ, "cycles-per-read", '\0', "N",
      "with --cpu: the card's cycles per status read, 1 to 1000000 (default 2)", nullptr},
     card_mode::cpu,
     false,
     emu_set_number},
    {{EMU_CYCLES_PER_DELAY, "cycles-per-delay", '\0', "N",
      "with --cpu: the card's cycles per level the PC sends when the delay floor is 0, 1 to "
      "1000000 (default 50); else the floor's time",
      nullptr},
     card_mode::cpu,
     true,
     emu_set_number},
    {{EMU_SENDER, "sender", '\0', "FILE",
      "with --cpu: run this build of the sender (default: the one built in)", nullptr},
     card_mode::cpu,
     false,
     emu_set_path},
    {{EMU_SCREEN, "screen", '\0', nullptr,
      "with --cpu: at the end, print the card's screen and the port bits it drove on standard "
      "error; on the system ROM (vmurx-emu's ROM card): print each screen the person at the "
      "card passes, as text, with the card's time",
      nullptr},
     card_mode::cpu_or_rom,
     false,
     emu_set_switch},
    {{EMU_SPEED, "speed", '\0', "SPEED",
      "with --cpu: the sender's speed, chosen on its list with Right: fast (default; the levels "
      "the PC's echo cannot confirm last 20 µs) or safe (250 µs)",
      nullptr},
     card_mode::cpu,
     true,
     emu_set_speed},
    {{EMU_BIOS, "bios", '\0', "ROM",
      "in place of the card's own Copy as modelled, the card's 64 KiB system ROM from the file "
      "ROM (an empty ROM: $VMURX_BIOS) run on the processor model with --card's image in its "
      "flash: a person at the card sets its clock, chooses the file --entry names in the file "
      "manager and takes Copy, and the ROM's own Copy sends it",
      nullptr},
     card_mode::any,
     true,
     emu_set_path},
};

constexpr bool each_row_at_its_id() {
    for (std::size_t i = 0; i < std::size(OPTIONS); ++i) {
        if (OPTIONS[i].cli.id != static_cast<int>(i))
            return false;
    }
    return true;
}
static_assert(each_row_at_its_id(), "a row of OPTIONS is not at the index of its id");

// The rows of the options that `tool` has.
std::vector<cli_option> rows_for(const std::string& tool) {
    std::vector<cli_option> rows;
    for (const emu_option& row : OPTIONS) {
        if (!row.tool_only || tool != "vmurx-probe")
            rows.push_back(row.cli);
    }
    return rows;
}

// The option given last of those that need another, by what they need.
struct needs {
    std::array<std::string, CARD_MODES> last;  // at the index of the card_mode

    void note(card_mode mode, const std::string& option) {
        last[static_cast<std::size_t>(mode)] = option;
    }

    // What is wrong with the card the options chose, or "".
    std::string fault(const emu_options& options) const {
        const auto given = [this](card_mode mode) -> const std::string& {
            return last[static_cast<std::size_t>(mode)];
        };
        const std::string& realtime = given(card_mode::realtime);
        const std::string& copy = given(card_mode::copy);
        const std::string& scripted = given(card_mode::scripted);
        const std::string& scripted_counting = given(card_mode::scripted_counting);
        const std::string& scripted_realtime = given(card_mode::scripted_realtime);
        const std::string& cpu = given(card_mode::cpu);
        const std::string& cpu_or_rom = given(card_mode::cpu_or_rom);
        const std::string& copy_or_cpu = given(card_mode::copy_or_cpu);
        const std::string& counting_copy_or_cpu = given(card_mode::counting_copy_or_cpu);
        const bool scripted_card = options.card == emu_card::scripted;
        // The ROM's Copy is as the firmware makes it: none of the models'
        // settings reach it.
        const std::string& modelled = !copy.empty()          ? copy
                                      : !copy_or_cpu.empty() ? copy_or_cpu
                                                             : counting_copy_or_cpu;
        if (!modelled.empty() && options.card == emu_card::rom)
            return modelled + " is for the modelled cards, not for --bios";
        // In real time the tool misses bits of the ROM's first header (its
        // eight 55 µs levels, clocked by the ROM whether anyone follows, come
        // before the tool masks): 0 to 7 of 8 taken in every run tried, the
        // card's own lines showing all eight. On that loaded 2-core machine
        // the modelled Copy in real time also lost bits a frame or two
        // later, so the load could not be told apart from a fault of the
        // ROM's card on its thread: refused until an idle machine settles it.
        if (options.card == emu_card::rom && options.realtime)
            return "--bios runs the ROM counting; not with --realtime";
        if (!copy.empty() && options.card != emu_card::copy)
            return copy + " is for the card's own Copy, not for --scripted or --cpu";
        if (!cpu.empty() && options.card != emu_card::cpu)
            return cpu + " needs --cpu";
        if (!cpu_or_rom.empty() && options.card != emu_card::cpu && options.card != emu_card::rom)
            return cpu_or_rom + " needs --cpu or --bios";
        const std::string copy_or_cpu_any =
            !copy_or_cpu.empty() ? copy_or_cpu : counting_copy_or_cpu;
        if (!copy_or_cpu_any.empty() && scripted_card)
            return copy_or_cpu_any + " is for the card's own Copy or --cpu, not for --scripted";
        // Neither real-time card reads the PC's pauses: the PC's own time
        // passes there, with whatever pauses it has.
        if (!counting_copy_or_cpu.empty() && options.realtime)
            return counting_copy_or_cpu + " counts the PC's time; not with --realtime";
        // Only the card's own Copy has the missing D3 wire to show.
        if (!options.copy.config.peer_present && options.card != emu_card::copy)
            return "--fault no-peer is for the card's own Copy, not for --scripted or --cpu";
        const std::string scripted_any = !scripted.empty()            ? scripted
                                         : !scripted_counting.empty() ? scripted_counting
                                                                      : scripted_realtime;
        if (!scripted_any.empty() && !scripted_card)
            return scripted_any + " is for the scripted card: add --scripted";
        if (!scripted_realtime.empty() && !options.realtime)
            return scripted_realtime + " needs --realtime";
        if (!realtime.empty() && !options.realtime)
            return realtime + " needs --realtime";
        if (options.realtime && !scripted_counting.empty())
            return "--hold counts status reads; with --realtime use --hold-us";
        return "";
    }
};

// The values of `parsed` in their order, then the options that only one
// kind of card has.
bool take_options(const cli_parsed& parsed, emu_reading& reading, std::string& error) {
    needs needed;
    for (const cli_given& given : parsed.options) {
        const emu_option& row = OPTIONS[static_cast<std::size_t>(given.id)];
        const emu_arg arg{given.id, std::string("--") + row.cli.name, given.value};
        if (!row.set(reading, arg, error))
            return false;
        needed.note(row.mode, arg.option);
    }
    error = needed.fault(reading.options);
    return error.empty();
}

// The tool's rows that may come before "--" take ids from here on, past
// every VMU option's.
constexpr int TOOL_ID = 1000;

// What a command line of `tool`'s card may hold: the VMU options, then the
// tool's own that are taken among them.
struct emu_syntax {
    std::vector<cli_option> rows;
    std::string hint;
    explicit emu_syntax(const std::string& tool, std::span<const cli_option> tool_options = {})
        : rows(rows_for(tool)), hint("the " + tool + " options follow '--'") {
        for (std::size_t i = 0; i < tool_options.size(); ++i) {
            cli_option row = tool_options[i];
            row.id = TOOL_ID + static_cast<int>(i);
            rows.push_back(row);
        }
    }
    cli_syntax syntax() const { return {.options = rows, .operands = false, .hint = hint.c_str()}; }
};

// The words made for the tool's command line, kept for as long as it runs.
std::vector<std::string> kept_tool_words;

}  // namespace

std::string emu_options_help(const std::string& tool) {
    return "VMU options (the simulated card):\n" + cli_options_help(rows_for(tool));
}

bool emu_parse_options(const std::vector<std::string>& args, vmu_sim& vmu, emu_options& options,
                       std::string& error) {
    std::vector<std::string> words{options.tool + "-emu"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size());
    for (std::string& word : words)
        argv.push_back(word.data());
    const emu_syntax syntax(options.tool);
    cli_parsed parsed;
    if (!cli_parse(syntax.syntax(), static_cast<int>(argv.size()), argv.data(), parsed, error))
        return false;
    emu_request request;
    emu_reading reading{vmu, options, request};
    return take_options(parsed, reading, error) && emu_setup_card(request, vmu, options, error);
}

int emu_split_command_line(int argc, char* argv[], vmu_sim& vmu, emu_options& options,
                           const char* tool, const char* summary, std::vector<char*>& tool_argv,
                           std::span<const cli_option> tool_options, emu_request* deferred) {
    options.tool = tool;
    const std::string name = options.tool + "-emu";
    std::string tool_text = "\n" + std::string(tool) + " options: see '" + name + " -- -h'";
    if (!tool_options.empty()) {
        std::string listed;
        for (const cli_option& row : tool_options) {
            const std::string letter =
                row.letter != '\0' ? std::string("-") + row.letter : std::string();
            listed +=
                std::string(listed.empty() ? "" : ", ") + letter +
                (row.name == nullptr ? ""
                                     : (letter.empty() ? "" : "/") + std::string("--") + row.name);
        }
        tool_text += ";\n" + listed + " may also come before '--'";
    }
    tool_text += ".\n";
    const cli_program program{name.c_str(),
                              "Usage: " + name + " [VMU options] [-- " + tool + " options]\n" +
                                  summary + "\n\n" + emu_options_help(tool) + tool_text,
                              printable};
    const int own = cli_split(argc, argv, tool_argv);
    cli_parsed parsed;
    const int status =
        cli_read(program, emu_syntax(options.tool, tool_options).syntax(), own, argv, parsed);
    if (status >= 0)
        return status;
    // The tool's options given here come first on its command line, then
    // what follows "--" (with the null pointer that ends it).
    kept_tool_words = cli_take_tool_words(parsed, TOOL_ID, tool_options);
    std::vector<char*> words;
    words.reserve(kept_tool_words.size());
    for (std::string& word : kept_tool_words)
        words.push_back(word.data());
    tool_argv.insert(tool_argv.begin() + 1, words.begin(), words.end());
    emu_request request;
    emu_reading reading{vmu, options, request};
    std::string error;
    if (!take_options(parsed, reading, error))
        return cli_usage_error(program, error);
    if (deferred != nullptr) {
        *deferred = request;
        return -1;
    }
    // A file that cannot be read is no wrong command line: no usage after it.
    if (!emu_setup_card(request, vmu, options, error)) {
        emu_fail(program.name, error);
        return CLI_USAGE;
    }
    return -1;
}

void emu_fail(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, printable(message).c_str());
}
