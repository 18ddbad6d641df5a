// The software receiving card's options: a table with a row per option, the
// values taken in order, then the card image read.
#include "emu/receive_options.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "card/card_disk.h"
#include "cli/cli.h"
#include "emu/emu_option_values.h"
#include "files/text.h"

namespace {

enum option_id { CARD, READ_US, PC_PAUSE, SEED, FAULT, DOCKED, REALTIME, NO_RAISE, BIOS, SCREEN };

const cli_option OPTIONS[] = {
    {CARD, "card", '\0', "IMAGE",
     "the card's flash: a card image (raw or .dcm), written in one piece when the card takes "
     "the last frame, and only then (required)",
     nullptr},
    {READ_US, "read-us", '\0', "US",
     "what one port read or write of the PC costs, 1 to 1000 µs (default 2); the PC's delay "
     "unit costs its floor",
     nullptr},
    {PC_PAUSE, "pc-pause", '\0', "LEN@EVERY",
     "counting: the PC pauses LEN µs now and then, EVERY µs apart on average, at moments drawn "
     "from --seed, as a loaded PC does",
     nullptr},
    {SEED, "seed", '\0', "N", "seed of --pc-pause (default 1)", nullptr},
    {FAULT, "fault", '\0', "FAULT",
     "a fault of the card or the cable; may be given more than once:\n"
     "  no-peer  the PC's D3 does not reach the card\n"
     "  no-echo  Select is not wired: it reads high\n"
     "  stall=N  stop answering before the Nth answer byte (counted from 0)\n"
     "  flip=N   take the Nth byte (counted from 0) with its last bit flipped\n"
     "  flash=N  the Nth flash frame's write fails three times (counted from 1)",
     nullptr},
    {DOCKED, "docked", '\0', nullptr,
     "the card is in a controller, 5 V present: it does not enter receive mode", nullptr},
    {REALTIME, "realtime", '\0', nullptr,
     "keep real time on a thread of the card's own instead of counting what the PC does; a "
     "port read then costs --read-us",
     nullptr},
    {NO_RAISE, "no-raise", '\0', nullptr,
     "with --realtime: the tool keeps its priority through frames", nullptr},
    {BIOS, "bios", '\0', "ROM",
     "in place of the modelled card, the card's 64 KiB system ROM from the file ROM (an empty "
     "ROM: $VMURX_BIOS) run on the processor model with --card's image in its flash: a person "
     "at the card sets its clock and stays on the file manager's file list, where the ROM's "
     "own receive mode takes the file; the image is written once the ROM is done",
     nullptr},
    {SCREEN, "screen", '\0', nullptr,
     "with --bios: print each screen the person at the card passes, with the card's time", nullptr},
};

std::string bad_value(const cli_given& given, const std::string& detail) {
    return "bad value for --" + std::string(OPTIONS[given.id].name) + ": '" + given.value + "' (" +
           detail + ")";
}

bool take_fault(const std::string& value, receive_config& config) {
    if (value == "no-peer" || value == "no-echo") {
        (value == "no-peer" ? config.peer_present : config.select_wired) = false;
        return true;
    }
    const std::size_t equals = value.find('=');
    const std::string kind = value.substr(0, equals);
    std::int64_t* target = kind == "stall"   ? &config.stall_answer
                           : kind == "flip"  ? &config.flip_byte
                           : kind == "flash" ? &config.failing_flash
                                             : nullptr;
    std::uint64_t number = 0;
    if (target == nullptr || equals == std::string::npos ||
        !cli_parse_uint(value.substr(equals + 1), kind == "flash" ? 1 : 0,
                        std::numeric_limits<int>::max(), number)) {
        return false;
    }
    *target = static_cast<std::int64_t>(number);
    return true;
}

// The value of one option; a reason when it is wrong.
std::string take_option(const cli_given& given, receive_options& options, std::string& image) {
    copy_receive& card = options.card;
    std::uint64_t number = 0;
    switch (given.id) {
        case CARD:
            image = given.value;
            return "";
        case READ_US:
            if (!cli_parse_uint(given.value, 1, 1'000, number))
                return bad_value(given, "1 to 1000");
            card.pc.access_ps = static_cast<std::int64_t>(number) * PS_PER_US;
            return "";
        case PC_PAUSE:
            return emu_parse_pc_pause(given.value, card.pc.pause)
                       ? ""
                       : bad_value(given, EMU_PC_PAUSE_FORM);
        case SEED:
            if (!cli_parse_uint(given.value, 0, std::numeric_limits<int>::max(), number))
                return bad_value(given, "0 or more");
            card.pc.pause.seed = static_cast<std::uint32_t>(number);
            return "";
        case FAULT:
            return take_fault(given.value, card.config)
                       ? ""
                       : "unknown fault '" + given.value + "' (see --help)";
        case DOCKED:
            card.config.console_power = true;
            return "";
        case REALTIME:
            options.realtime = true;
            return "";
        case BIOS:
            options.bios = true;
            options.bios_path = given.value;
            return "";
        case SCREEN:
            options.screen = true;
            return "";
        default:  // NO_RAISE
            options.realtime_config.raise_tool = false;
            return "";
    }
}

// The values in their order, then the rules between options.
std::string take_options(const cli_parsed& parsed, receive_options& options, std::string& image) {
    bool no_raise = false;
    bool pc_pause = false;
    std::string modelled;  // the last option given that only the modelled card has
    for (const cli_given& given : parsed.options) {
        if (std::string error = take_option(given, options, image); !error.empty())
            return error;
        no_raise = no_raise || given.id == NO_RAISE;
        pc_pause = pc_pause || given.id == PC_PAUSE;
        if (given.id == READ_US || given.id == PC_PAUSE || given.id == SEED || given.id == FAULT ||
            given.id == DOCKED) {
            modelled = "--" + std::string(OPTIONS[given.id].name);
        }
    }
    // The ROM's receive mode is as the firmware makes it: none of the
    // model's settings reach it, and it runs counting only.
    if (options.bios && !modelled.empty())
        return modelled + " is for the modelled card, not for --bios";
    if (options.bios && options.realtime)
        return "--bios runs the ROM counting; not with --realtime";
    if (options.screen && !options.bios)
        return "--screen needs --bios";
    if (no_raise && !options.realtime)
        return "--no-raise needs --realtime";
    // In real time the PC's own time passes, with whatever pauses it has.
    if (pc_pause && options.realtime)
        return "--pc-pause counts the PC's time; not with --realtime";
    options.operands = parsed.operands;
    return "";
}

// The card image: read, and a card, stored when the last frame changes it.
bool load_image(const std::string& path, copy_receive& card, std::string& error) {
    // Held from here to the last frame's write, as every program that
    // changes a card holds it: another program's change meanwhile is never
    // overwritten.
    auto held = std::make_shared<card_held>();
    file_error failure;
    if (!card_hold(path, false, *held, failure)) {
        error = "--card " + failure.object + ": " + failure.reason;
        return false;
    }
    card.image = held->card;
    card.store = [held](const card_image& image, std::string& reason) {
        file_error failure;
        if (!card_store_held(*held, image, failure)) {
            reason = failure.reason;
            return false;
        }
        // The image just written is a new file under the card's name: held
        // again for the next file of the sitting, as long as it holds what
        // was written. Otherwise the old hold stays, and the next store is
        // refused as another program's change.
        card_held again;
        if (card_hold(held->file.path, false, again, failure) &&
            again.file.bytes == card_to_file(image))
            *held = std::move(again);
        return true;
    };
    card_layout layout;
    std::string reason;
    if (!card_read_layout(card.image, layout, reason)) {
        error = "--card " + path + ": not a card: " + reason;
        return false;
    }
    return true;
}

const char* const NO_CARD = "no card: give --card IMAGE (vmurx-card new makes a blank one)";

const char* const SUMMARY =
    "Runs vmurx-send against a software card whose file list switches to\n"
    "\"Waiting for data\" as a real card's does: it takes the file into the card\n"
    "image, placed as the card places it, or refuses it as the card would. With\n"
    "--bios the card's own system ROM receives it on the processor model.";

}  // namespace

std::string receive_options_help() {
    return "Card options (the software card):\n" + cli_options_help(OPTIONS);
}

bool receive_parse_options(const std::vector<std::string>& args, receive_options& options,
                           std::string& error) {
    std::vector<std::string> words{"vmurx-send-emu"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(words.size());
    for (std::string& word : words)
        argv.push_back(word.data());
    cli_parsed parsed;
    if (!cli_parse({.options = OPTIONS}, static_cast<int>(argv.size()), argv.data(), parsed,
                   error)) {
        return false;
    }
    std::string image;
    error = take_options(parsed, options, image);
    if (error.empty() && image.empty())
        error = NO_CARD;
    options.image_path = image;
    return error.empty() && load_image(image, options.card, error);
}

// vmurx-send's rows that may come before "--" take ids from here on, past
// every card option's.
constexpr int TOOL_ID = 1000;

// "-d/--device, -q/--quiet, --name": the tool's options taken here too.
std::string listed(std::span<const cli_option> rows) {
    std::string text;
    for (const cli_option& row : rows) {
        text += std::string(text.empty() ? "" : ", ") +
                (row.letter != '\0' ? std::string("-") + row.letter + "/" : "") + "--" + row.name;
    }
    return text;
}

// `text` broken at spaces into lines of at most 80 characters.
std::string wrapped(const std::string& text) {
    constexpr std::size_t WIDTH = 80;
    std::string out;
    std::size_t line = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find(' ', at), text.size());
        const std::size_t length = end - at;
        if (line != 0 && line + 1 + length > WIDTH) {
            out += '\n';
            line = 0;
        } else if (line != 0) {
            out += ' ';
            ++line;
        }
        out.append(text, at, length);
        line += length;
        at = end + 1;
    }
    return out;
}

cli_program make_program(std::span<const cli_option> tool_options) {
    std::string tool_text = "\nFILE and the vmurx-send options: see 'vmurx-send-emu -- -h'";
    if (!tool_options.empty()) {
        tool_text +=
            ";\n" + wrapped(listed(tool_options) +
                            " may also come before '--'; vmurx-send's --card, --entry and --all "
                            "follow it, since --card here names the software card");
    }
    return {"vmurx-send-emu",
            "Usage: vmurx-send-emu --card IMAGE [card options] FILE [-- vmurx-send options]\n"
            "       vmurx-send-emu --bios ROM --card IMAGE [--screen] FILE [-- options]\n" +
                std::string(SUMMARY) + "\n\n" + receive_options_help() + tool_text + ".\n",
            printable};
}

// The program as the last command line read shows it.
cli_program& program() {
    static cli_program emu = make_program({});
    return emu;
}

int receive_no_card() {
    return cli_usage_error(program(), NO_CARD);
}

int receive_split_command_line(int argc, char* argv[], receive_options& options,
                               std::vector<char*>& tool_argv,
                               std::span<const cli_option> tool_options) {
    program() = make_program(tool_options);
    const cli_program& shown = program();
    std::vector<cli_option> rows(std::begin(OPTIONS), std::end(OPTIONS));
    for (std::size_t i = 0; i < tool_options.size(); ++i) {
        rows.push_back(tool_options[i]);
        rows.back().id = TOOL_ID + static_cast<int>(i);
    }
    const int own = cli_split(argc, argv, tool_argv);
    cli_parsed parsed;
    const int status = cli_read(
        shown, {.options = rows, .hint = "the vmurx-send options follow '--'"}, own, argv, parsed);
    if (status >= 0)
        return status;
    // The words for vmurx-send kept for as long as it runs.
    static std::vector<std::string> tool_words;
    tool_words = cli_take_tool_words(parsed, TOOL_ID, tool_options);
    std::string image;
    if (std::string error = take_options(parsed, options, image); !error.empty())
        return cli_usage_error(shown, error);
    std::string error;
    options.image_path = image;
    if (!image.empty() && !load_image(image, options.card, error)) {
        std::fprintf(stderr, "%s: %s\n", shown.name, printable(error).c_str());
        return CLI_USAGE;
    }
    // vmurx-send takes its options given here and the words that were no
    // option, before what follows "--".
    tool_argv.pop_back();
    std::vector<char*> words;
    words.reserve(tool_words.size() + options.operands.size());
    for (std::string& word : tool_words)
        words.push_back(word.data());
    for (std::string& operand : options.operands)
        words.push_back(operand.data());
    tool_argv.insert(tool_argv.begin() + 1, words.begin(), words.end());
    tool_argv.push_back(nullptr);
    return -1;
}
