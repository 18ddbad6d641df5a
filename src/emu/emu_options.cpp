// The software VMU's options: a table with a row per option (its name, its
// argument, which card it is for, what it sets, its help), the functions that
// take the values, and the loop that reads a command line through the table.
#include "emu/emu_options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "card/card_disk.h"
#include "save/save_files.h"
#include "save/stamp.h"
#include "vmu/sample_save.h"

namespace {

bool parse_number(const std::string& text, long minimum, long maximum, long& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value >= minimum && value <= maximum;
}

std::string lower_case(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool parse_hex_bytes(const std::string& text, std::string& bytes) {
    if (text.size() != 24)
        return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2) {
        long value = 0;
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !parse_number("0x" + text.substr(i, 2), 0, 255, value)) {
            return false;
        }
        bytes.push_back(static_cast<char>(value));
    }
    return true;
}

struct fault {
    std::string kind;
    long value;
};

// Everything the options set while they are read: the card, the file it
// sends, and what is settled only once all of them are read.
struct emu_setup {
    vmu_sim& vmu;
    emu_options& options;
    vmu_file file;
    std::vector<fault> faults;
    // What a .dci or .vms tells about itself; the options win over it.
    std::optional<save_input> described;
    bool name_given = false;
    bool type_given = false;
    bool stamp_given = false;
    // --card and --entry: a file of a whole card image.
    std::string card;
    std::string entry;
};

// An option as given: its name and its value ("" for a switch).
struct emu_arg {
    const std::string& option;
    const std::string& value;
};

// "bad value for --hold: 'x'", and what a good one is.
std::string bad_value(const emu_arg& a, const std::string& detail = "") {
    return "bad value for " + a.option + ": '" + a.value + "'" +
           (detail.empty() ? "" : " (" + detail + ")");
}

bool set_help(emu_setup& s, const emu_arg&, std::string&) {
    s.options.help = true;
    return true;
}

bool set_version(emu_setup& s, const emu_arg&, std::string&) {
    s.options.version = true;
    return true;
}

bool set_realtime(emu_setup& s, const emu_arg&, std::string&) {
    s.options.realtime = true;
    return true;
}

bool set_no_raise(emu_setup& s, const emu_arg&, std::string&) {
    s.options.realtime_config.raise_tool = false;
    return true;
}

bool set_file(emu_setup& s, const emu_arg& a, std::string& error) {
    save_input input;
    file_error failure;
    const bool loaded = load_save(a.value, input, failure);
    s.card.clear();
    if (!loaded && failure.cause == file_failure::too_large && card_is_image(a.value)) {
        // A whole card: which of its files is for --entry to say.
        s.card = a.value;
        return true;
    }
    if (!loaded) {
        error = failure.cause == file_failure::too_large
                    ? a.value + " is larger than 255 blocks of 512 bytes"
                    : "cannot read " + failure.object + ": " + failure.reason;
        return false;
    }
    s.file.image = input.content;
    s.file.image.resize((s.file.image.size() + 511) / 512 * 512, 0x00);
    s.described.reset();
    if (format_of(a.value) != file_format::bytes)
        s.described = std::move(input);
    return true;
}

bool set_name(emu_setup& s, const emu_arg& a, std::string& error) {
    if (a.value.size() > 12) {
        error = bad_value(a, "at most 12 characters");
        return false;
    }
    s.file.name = a.value;
    s.name_given = true;
    return true;
}

bool set_raw_name(emu_setup& s, const emu_arg& a, std::string& error) {
    if (!parse_hex_bytes(a.value, s.file.name)) {
        error = bad_value(a, "24 hex digits");
        return false;
    }
    s.name_given = true;
    return true;
}

bool set_type(emu_setup& s, const emu_arg& a, std::string& error) {
    s.type_given = true;
    long number = 0;
    if (lower_case(a.value) == "game") {
        s.file.type = 0xCC;
    } else if (lower_case(a.value) == "data") {
        s.file.type = 0x33;
    } else if (parse_number(a.value, 0, 255, number)) {
        s.file.type = static_cast<std::uint8_t>(number);
    } else {
        error = bad_value(a, "game, data or a byte value");
        return false;
    }
    return true;
}

bool set_stamp(emu_setup& s, const emu_arg& a, std::string& error) {
    // Any fourteen digits: a test may send a date that does not exist.
    const std::optional<save_stamp> stamp = parse_stamp_digits(a.value);
    if (!stamp) {
        error = bad_value(a, "YYYYMMDDhhmmss");
        return false;
    }
    stamp_to_bcd(*stamp, s.file.stamp);
    s.stamp_given = true;
    return true;
}

// A whole number from `minimum` to `maximum` into `target`.
template <typename T>
bool set_number(const emu_arg& a, long minimum, long maximum, const char* detail, T& target,
                std::string& error) {
    long number = 0;
    if (!parse_number(a.value, minimum, maximum, number)) {
        error = bad_value(a, detail);
        return false;
    }
    target = static_cast<T>(number);
    return true;
}

bool set_ready_after(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 0, LONG_MAX, "", s.vmu.ready_after, error);
}

bool set_hold(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 1, INT_MAX, "", s.vmu.hold, error);
}

bool set_jitter(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 0, INT_MAX, "", s.vmu.jitter, error);
}

bool set_seed(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 0, INT_MAX, "", s.vmu.seed, error);
}

bool set_hold_us(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 1, 100'000, "1 to 100000", s.options.realtime_config.hold_us, error);
}

bool set_sample_us(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_number(a, 0, 100'000, "0 to 100000", s.options.realtime_config.sample_us, error);
}

bool set_report(emu_setup& s, const emu_arg& a, std::string&) {
    s.options.realtime_config.report_path = a.value;
    return true;
}

bool set_force(emu_setup& s, const emu_arg&, std::string&) {
    s.options.realtime_config.replace_report = true;
    return true;
}

bool set_fault(emu_setup& s, const emu_arg& a, std::string& error) {
    if (a.value == "never-ready") {
        s.vmu.ready_after = VMU_NEVER;
        return true;
    }
    const auto equals = a.value.find('=');
    const std::string kind = a.value.substr(0, equals);
    const bool kind_known = kind == "stall" || kind == "wrong-code" || kind == "bad-trailer" ||
                            kind == "short" || kind == "stop";
    const long minimum = kind == "stall" ? 0 : 1;
    long number = 0;
    if (!kind_known || equals == std::string::npos ||
        !parse_number(a.value.substr(equals + 1), minimum, INT_MAX, number)) {
        error = "unknown fault '" + a.value + "' (see --help)";
        return false;
    }
    s.faults.push_back({kind, number});
    return true;
}

bool set_card(emu_setup& s, const emu_arg& a, std::string&) {
    s.card = a.value;
    return true;
}

bool set_entry(emu_setup& s, const emu_arg& a, std::string& error) {
    if (a.value.empty()) {
        error = bad_value(a, "a name or #SLOT");
        return false;
    }
    s.entry = a.value;
    return true;
}

// The file of a card image that --card and --entry name, with the name, type
// and stamp of its entry where the options do not give them.
bool take_card_file(emu_setup& s, std::string& error) {
    if (s.options.cpu.enabled) {
        // The sender itself finds the entry on the card and sends it.
        s.options.cpu.card_path = s.card;
        s.options.cpu.entry = s.entry;
        return true;
    }
    if (s.card.empty() != s.entry.empty()) {
        error = s.card.empty() ? "--entry needs --card CARD"
                               : s.card + " is a card image: name the file to send with --card " +
                                     s.card + " --entry ENTRY (a name or #slot of vmurx-card list)";
        return false;
    }
    if (s.card.empty())
        return true;
    card_file entry;
    if (!card_take_file(s.card, s.entry, entry, s.file.image, error))
        return false;
    s.described.reset();
    if (!s.name_given)
        s.file.name.assign(entry.name.begin(), entry.name.end());
    if (!s.type_given)
        s.file.type = entry.type;
    if (!s.stamp_given)
        std::copy_n(entry.stamp.begin(), STAMP_BCD_SIZE, s.file.stamp);
    return true;
}

bool set_cpu(emu_setup& s, const emu_arg&, std::string&) {
    s.options.cpu.enabled = true;
    return true;
}

bool set_cycles(const emu_arg& a, long& cycles, std::string& error) {
    if (!parse_number(a.value, 1, 1000000, cycles)) {
        error = bad_value(a, "1 to 1000000");
        return false;
    }
    return true;
}

bool set_cycles_per_read(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_cycles(a, s.options.cpu.cycles_per_read, error);
}

bool set_cycles_per_delay(emu_setup& s, const emu_arg& a, std::string& error) {
    return set_cycles(a, s.options.cpu.cycles_per_delay, error);
}

bool set_sender(emu_setup& s, const emu_arg& a, std::string&) {
    s.options.cpu.sender_path = a.value;
    return true;
}

bool set_docked(emu_setup& s, const emu_arg&, std::string&) {
    s.options.cpu.docked = true;
    return true;
}

bool set_screen(emu_setup& s, const emu_arg&, std::string&) {
    s.options.cpu.screen = true;
    return true;
}

// Which card an option is for.
enum class card_mode { any, realtime, counting, cpu };

struct emu_option {
    const char* name;      // "--file"
    const char* argument;  // its value in the help ("PATH"); null for a switch
    card_mode mode;
    bool tool_only;  // about the bytes the tool sends or its frames: not for the probe
    bool (*set)(emu_setup& setup, const emu_arg& given, std::string& error);
    const char* help;  // its lines after the first are indented to the help column
};

// In the order of the help.
const emu_option OPTIONS[] = {
    {"--file", "PATH", card_mode::any, false, set_file,
     "the file to send (default: a built-in two-block sample save);\n"
     "padded with zeros to whole 512-byte blocks, at most 255 blocks.\n"
     "A .dci, or a .vms with the .vmi beside it, also gives the name,\n"
     "type and stamp, unless --name, --type or --stamp are given"},
    {"--name", "NAME", card_mode::any, false, set_name,
     "its name on the card, at most 12 characters (default VMURX_DEMO)"},
    {"--raw-name", "HEX", card_mode::any, false, set_raw_name,
     "the 12 bytes of the name block as 24 hex digits"},
    {"--type", "TYPE", card_mode::any, false, set_type,
     "game, data (in any letter case), or a byte value such as 0x00\n"
     "(default data)"},
    {"--stamp", "STAMP", card_mode::any, false, set_stamp,
     "its time stamp, YYYYMMDDhhmmss (default 19991231235958)"},
    {"--ready-after", "N", card_mode::any, false, set_ready_after,
     "status reads before the card signals ready (default 0)"},
    {"--hold", "N", card_mode::counting, false, set_hold,
     "status reads per level of the card's clock (default 1)"},
    {"--jitter", "N", card_mode::any, false, set_jitter,
     "up to N extra reads (with --realtime: microseconds) per level,\n"
     "varied by --seed (default 0)"},
    {"--seed", "N", card_mode::any, false, set_seed, "seed of the jitter (default 1)"},
    {"--fault", "FAULT", card_mode::any, false, set_fault,
     "a fault of the card; may be given more than once:\n"
     "  never-ready    never signal ready\n"
     "  stall=N        stop clocking before the first bit of the Nth\n"
     "                 byte the card sends (counted from 0)\n"
     "  wrong-code=K   send frame K with a wrong block code\n"
     "  bad-trailer=K  end frame K with the trailer byte 0x01\n"
     "  short=K        announce and send a shorter payload in frame K\n"
     "  stop=K         send nothing after frame K\n"
     "Frames count from 1: start, name, then data and flash blocks\n"
     "alternately, then the directory and the last flash block."},
    {"--realtime", nullptr, card_mode::any, false, set_realtime,
     "keep real time on a thread of its own instead of counting\n"
     "status reads; a byte other than the reply or answer the card\n"
     "awaits makes it stop sending"},
    {"--hold-us", "N", card_mode::realtime, false, set_hold_us,
     "with --realtime: microseconds per level, 1 to 100000 (default 10)"},
    {"--sample-us", "P", card_mode::realtime, true, set_sample_us,
     "with --realtime: look at D0 and D1 only every P microseconds,\n"
     "0 to 100000 (default 0: see every level)"},
    {"--report", "PATH", card_mode::realtime, false, set_report,
     "with --realtime: write what the card measured to PATH at the end;\n"
     "an existing file is refused"},
    {"--force", nullptr, card_mode::realtime, false, set_force,
     "with --report: replace an existing report (a regular file only)"},
    {"--no-raise", nullptr, card_mode::realtime, true, set_no_raise,
     "with --realtime: the tool keeps its priority through frames, as\n"
     "where raising it is not permitted (the card's thread always\n"
     "takes the best priority it may)"},
    {"--help", nullptr, card_mode::any, false, set_help, "this text"},
    {"--version", nullptr, card_mode::any, false, set_version,
     "output version information and exit"},
    {"--card", "CARD", card_mode::any, false, set_card,
     "send a file of a whole card image (raw or .dcm): the one that\n"
     "--entry names, with its name, type and stamp; with --cpu: the\n"
     "card the sender runs on, never changed (default: a blank card\n"
     "holding the sample save), the sender in the game slot of a copy"},
    {"--entry", "ENTRY", card_mode::any, false, set_entry,
     "the file's card name, or #N for slot N (as vmurx-card list\n"
     "shows them); with --cpu the default is the first the sender lists"},
    {"--cpu", nullptr, card_mode::any, false, set_cpu,
     "run the card's own sender on the processor model instead:\n"
     "it lists the card's files, the file --entry names is chosen\n"
     "with the card's buttons, and it sends it (the options above\n"
     "but --realtime are for the protocol-level card; with\n"
     "--realtime the model runs on its own thread, paced by the clock)"},
    {"--cycles-per-read", "N", card_mode::cpu, false, set_cycles_per_read,
     "with --cpu: the card's cycles per status read (default 2)"},
    {"--cycles-per-delay", "N", card_mode::cpu, true, set_cycles_per_delay,
     "with --cpu: the card's cycles per level the PC sends, when the\n"
     "delay floor is 0 (default 50); else the floor's time"},
    {"--sender", "FILE", card_mode::cpu, false, set_sender,
     "with --cpu: run this build of the sender (default: the one\n"
     "built in)"},
    {"--docked", nullptr, card_mode::cpu, false, set_docked,
     "with --cpu: the card sits in a controller (5 V present)"},
    {"--screen", nullptr, card_mode::cpu, false, set_screen,
     "with --cpu: at the end, print the card's screen and the port\n"
     "bits it drove on standard error"},
};

// Where the help of every option begins.
constexpr int HELP_COLUMN = 21;

bool serves(const emu_option& row, const std::string& tool) {
    return !row.tool_only || tool == "vmurx";
}

const emu_option* find_option(const std::string& name, const std::string& tool) {
    for (const emu_option& row : OPTIONS) {
        if ((name == row.name || (name == "-h" && row.set == set_help)) && serves(row, tool))
            return &row;
    }
    return nullptr;
}

bool apply_fault(const fault& f, vmu_sim& vmu, std::string& error) {
    if (f.kind == "stall") {
        vmu.stall_byte = f.value;
        vmu.stall_bit = 0;
        return true;
    }
    if (static_cast<std::size_t>(f.value) > vmu.frames.size()) {
        error = "--fault " + f.kind + "=" + std::to_string(f.value) + ": the transfer has only " +
                std::to_string(vmu.frames.size()) + " frames";
        return false;
    }
    vmu_frame& frame = vmu.frames[static_cast<std::size_t>(f.value - 1)];
    if (f.kind == "wrong-code") {
        frame.code = frame.code == 8 ? 4 : 8;
    } else if (f.kind == "bad-trailer") {
        frame.trailer = 0x01;
    } else if (f.kind == "short") {
        // Frames announce 128 bytes or 1 to 16, so a full data block shrinks
        // to the longest short frame.
        const std::size_t size = frame.payload.size();
        if (size <= 1) {
            error = "--fault short=" + std::to_string(f.value) + ": that frame has one byte";
            return false;
        }
        const std::size_t length = size == 128 ? 16 : size - 1;
        frame.payload.resize(length);
        frame.header = vmu_header_for(length);
    } else {  // stop
        vmu.frames.resize(static_cast<std::size_t>(f.value));
    }
    return true;
}

// What a described file tells and the options did not say, then the frames
// and their faults.
bool finish_setup(emu_setup& s, std::string& error) {
    if (!take_card_file(s, error))
        return false;
    if (s.described) {
        const save_input& described = *s.described;
        if (described.name && !s.name_given)
            s.file.name = *described.name;
        if (described.stamp && stamp_is_valid(*described.stamp) && !s.stamp_given)
            stamp_to_bcd(*described.stamp, s.file.stamp);
        const std::optional<save_kind> kind =
            described.kind
                ? described.kind
                : analyse_save(described.content, std::nullopt, described.name.value_or("")).kind;
        if (kind == save_kind::game && !s.type_given)
            s.file.type = 0xCC;
    }
    s.vmu.frames = vmu_transfer_frames(s.file);
    for (const fault& f : s.faults) {
        if (!apply_fault(f, s.vmu, error))
            return false;
    }
    return true;
}

}  // namespace

std::string emu_options_help(const std::string& tool) {
    std::string help = "VMU options (the simulated card):\n";
    for (const emu_option& row : OPTIONS) {
        if (!serves(row, tool))
            continue;
        std::string head = std::string(row.set == set_help ? "  -h, " : "  ") + row.name;
        if (row.argument != nullptr)
            head += std::string(" ") + row.argument;
        head.resize(HELP_COLUMN, ' ');
        help += head;
        for (const char* line = row.help; *line != '\0';) {
            const char* end = std::strchr(line, '\n');
            const std::size_t length =
                end != nullptr ? static_cast<std::size_t>(end - line) : std::strlen(line);
            if (line != row.help)
                help.append(HELP_COLUMN, ' ');
            help.append(line, length);
            help += '\n';
            line += end != nullptr ? length + 1 : length;
        }
    }
    return help;
}

bool emu_parse_options(const std::vector<std::string>& args, vmu_sim& vmu, emu_options& options,
                       std::string& error) {
    emu_setup setup{vmu, options, {}, {}, std::nullopt, false, false, false, {}, {}};
    setup.file.image = vmu_sample_save();
    setup.file.name = "VMURX_DEMO";
    std::string realtime_only;  // the last option that needs --realtime
    std::string counting_only;  // the last option that only the counting card has
    std::string cpu_only;       // the last option that needs --cpu

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string value;
        bool has_value = false;
        if (auto equals = option.find('=');
            option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            has_value = true;
        }
        const emu_option* row = find_option(option, options.tool);
        if (row == nullptr) {
            error = "unknown VMU option '" + args[i] + "' (options for " + options.tool +
                    " go after --)";
            return false;
        }
        if (row->argument == nullptr) {
            value.clear();  // a switch ignores "=VALUE"
        } else if (!has_value) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!row->set(setup, {option, value}, error))
            return false;
        if (row->mode == card_mode::realtime)
            realtime_only = option;
        if (row->mode == card_mode::counting)
            counting_only = option;
        if (row->mode == card_mode::cpu)
            cpu_only = option;
    }

    if (!options.cpu.enabled && !cpu_only.empty()) {
        error = cpu_only + " needs --cpu";
        return false;
    }

    if (!options.realtime && !realtime_only.empty()) {
        error = realtime_only + " needs --realtime";
        return false;
    }
    if (options.realtime && !counting_only.empty()) {
        error = "--hold counts status reads; with --realtime use --hold-us";
        return false;
    }
    return finish_setup(setup, error);
}

int emu_split_command_line(int argc, char* argv[], vmu_sim& vmu, emu_options& options,
                           const char* tool, const char* summary, std::vector<char*>& tool_argv) {
    std::vector<std::string> vmu_args;
    int separator = 1;
    while (separator < argc && std::string(argv[separator]) != "--")
        vmu_args.emplace_back(argv[separator++]);

    std::string error;
    options.tool = tool;
    if (!emu_parse_options(vmu_args, vmu, options, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", argv[0], error.c_str(), argv[0]);
        return 2;
    }
    if (options.help) {
        std::printf(
            "Usage: %s [VMU options] [-- %s options]\n%s\n\n%s\n%s options: see '%s -- -h'.\n",
            argv[0], tool, summary, emu_options_help(tool).c_str(), tool, argv[0]);
        return 0;
    }
    if (options.version) {
        std::printf("%s-emu (vmurx) %s\n", tool, VMURX_VERSION);
        return 0;
    }

    // The tool sees the program name and what follows "--".
    tool_argv.assign({argv[0]});
    for (int i = separator + 1; i < argc; ++i)
        tool_argv.push_back(argv[i]);
    tool_argv.push_back(nullptr);
    return -1;
}
