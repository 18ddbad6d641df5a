// Parsing the software VMU's options into a configured card.
#include "vmu_options.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "sample_save.h"
#include "save/save_files.h"
#include "save/stamp.h"

const char* const VMU_OPTIONS_HELP =
    "VMU options (the simulated card):\n"
    "  --file PATH        the file to send (default: a built-in two-block sample save);\n"
    "                     padded with zeros to whole 512-byte blocks, at most 255 blocks.\n"
    "                     A .dci, or a .vms with the .vmi beside it, also gives the name,\n"
    "                     type and stamp, unless --name, --type or --stamp are given\n"
    "  --name NAME        its name on the card, at most 12 characters (default VMURX_DEMO)\n"
    "  --raw-name HEX     the 12 bytes of the name block as 24 hex digits\n"
    "  --type TYPE        game, data (in any letter case), or a byte value such as 0x00\n"
    "                     (default data)\n"
    "  --stamp STAMP      its time stamp, YYYYMMDDhhmmss (default 19991231235958)\n"
    "  --ready-after N    status reads before the card signals ready (default 0)\n"
    "  --hold N           status reads per level of the card's clock (default 1)\n"
    "  --jitter N         up to N extra reads (with --realtime: microseconds) per level,\n"
    "                     varied by --seed (default 0)\n"
    "  --seed N           seed of the jitter (default 1)\n"
    "  --fault FAULT      a fault of the card; may be given more than once:\n"
    "                       never-ready    never signal ready\n"
    "                       stall=N        stop clocking before the first bit of the Nth\n"
    "                                      byte the card sends (counted from 0)\n"
    "                       wrong-code=K   send frame K with a wrong block code\n"
    "                       bad-trailer=K  end frame K with the trailer byte 0x01\n"
    "                       short=K        announce and send a shorter payload in frame K\n"
    "                       stop=K         send nothing after frame K\n"
    "                     Frames count from 1: start, name, then data and flash blocks\n"
    "                     alternately, then the directory and the last flash block.\n"
    "  --realtime         keep real time on a thread of its own instead of counting\n"
    "                     status reads; a byte other than the reply or answer the card\n"
    "                     awaits makes it stop sending\n"
    "  --hold-us N        with --realtime: microseconds per level, 1 to 100000 (default 10)\n"
    "  --sample-us P      with --realtime: look at D0 and D1 only every P microseconds,\n"
    "                     0 to 100000 (default 0: see every level)\n"
    "  --report PATH      with --realtime: write what the card measured to PATH at the end\n"
    "  --no-raise         with --realtime: the tool keeps its priority through frames, as\n"
    "                     where raising it is not permitted (the card's thread always\n"
    "                     takes the best priority it may)\n"
    "  --help             this text\n";

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

}  // namespace

bool vmu_parse_options(const std::vector<std::string>& args, vmu_sim& vmu, vmu_options& options,
                       std::string& error) {
    vmu_file file;
    file.image = vmu_sample_save();
    file.name = "VMURX_DEMO";
    std::vector<fault> faults;
    // What a .dci or .vms tells about itself; the options win over it.
    std::optional<save_input> described;
    bool name_given = false, type_given = false, stamp_given = false;
    std::string realtime_only;  // the last option that needs --realtime
    std::string counting_only;  // the last option that only the counting card has

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
        if (option == "--help") {
            options.help = true;
            continue;
        }
        if (option == "--realtime") {
            options.realtime = true;
            continue;
        }
        if (option == "--no-raise") {
            options.realtime_config.raise_tool = false;
            realtime_only = option;
            continue;
        }
        static const char* const takes_value[] = {
            "--file",        "--name",      "--raw-name", "--type", "--stamp",
            "--ready-after", "--hold",      "--jitter",   "--seed", "--fault",
            "--hold-us",     "--sample-us", "--report"};
        bool known = false;
        for (const char* name : takes_value)
            known = known || option == name;
        if (!known) {
            error = "unknown VMU option '" + args[i] + "' (options for vmurx go after --)";
            return false;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                error = "option " + option + " needs a value";
                return false;
            }
            value = args[++i];
        }

        long number = 0;
        const std::string bad = "bad value for " + option + ": '" + value + "'";
        if (option == "--file") {
            save_input input;
            file_error failure;
            if (!load_save(value, input, failure)) {
                error = failure.too_large ? value + " is larger than 255 blocks of 512 bytes"
                                          : "cannot read " + failure.object + ": " + failure.reason;
                return false;
            }
            file.image = input.content;
            file.image.resize((file.image.size() + 511) / 512 * 512, 0x00);
            described.reset();
            if (format_of(value) != file_format::bytes)
                described = std::move(input);
        } else if (option == "--name") {
            if (value.size() > 12) {
                error = bad + " (at most 12 characters)";
                return false;
            }
            file.name = value;
            name_given = true;
        } else if (option == "--raw-name") {
            if (!parse_hex_bytes(value, file.name)) {
                error = bad + " (24 hex digits)";
                return false;
            }
            name_given = true;
        } else if (option == "--type") {
            type_given = true;
            if (lower_case(value) == "game") {
                file.type = 0xCC;
            } else if (lower_case(value) == "data") {
                file.type = 0x33;
            } else if (parse_number(value, 0, 255, number)) {
                file.type = static_cast<std::uint8_t>(number);
            } else {
                error = bad + " (game, data or a byte value)";
                return false;
            }
        } else if (option == "--stamp") {
            const std::optional<save_stamp> stamp = parse_stamp_digits(value);
            if (!stamp) {
                error = bad + " (YYYYMMDDhhmmss)";
                return false;
            }
            stamp_to_bcd(*stamp, file.stamp);
            stamp_given = true;
        } else if (option == "--ready-after") {
            if (!parse_number(value, 0, LONG_MAX, number)) {
                error = bad;
                return false;
            }
            vmu.ready_after = number;
        } else if (option == "--hold-us" || option == "--sample-us") {
            const long minimum = option == "--hold-us" ? 1 : 0;
            if (!parse_number(value, minimum, 100'000, number)) {
                error = bad + " (" + std::to_string(minimum) + " to 100000)";
                return false;
            }
            int& target = option == "--hold-us" ? options.realtime_config.hold_us
                                                : options.realtime_config.sample_us;
            target = static_cast<int>(number);
            realtime_only = option;
        } else if (option == "--report") {
            options.realtime_config.report_path = value;
            realtime_only = option;
        } else if (option == "--hold" || option == "--jitter" || option == "--seed") {
            if (option == "--hold")
                counting_only = option;
            const long minimum = option == "--hold" ? 1 : 0;
            if (!parse_number(value, minimum, INT_MAX, number)) {
                error = bad;
                return false;
            }
            if (option == "--hold")
                vmu.hold = static_cast<int>(number);
            if (option == "--jitter")
                vmu.jitter = static_cast<int>(number);
            if (option == "--seed")
                vmu.seed = static_cast<std::uint32_t>(number);
        } else {  // --fault
            if (value == "never-ready") {
                vmu.ready_after = VMU_NEVER;
                continue;
            }
            const auto equals = value.find('=');
            const std::string kind = value.substr(0, equals);
            const bool kind_known = kind == "stall" || kind == "wrong-code" ||
                                    kind == "bad-trailer" || kind == "short" || kind == "stop";
            const long minimum = kind == "stall" ? 0 : 1;
            if (!kind_known || equals == std::string::npos ||
                !parse_number(value.substr(equals + 1), minimum, INT_MAX, number)) {
                error = "unknown fault '" + value + "' (see --help)";
                return false;
            }
            faults.push_back({kind, number});
        }
    }

    if (!options.realtime && !realtime_only.empty()) {
        error = realtime_only + " needs --realtime";
        return false;
    }
    if (options.realtime && !counting_only.empty()) {
        error = "--hold counts status reads; with --realtime use --hold-us";
        return false;
    }

    if (described) {
        if (described->name && !name_given)
            file.name = *described->name;
        if (described->stamp && stamp_is_valid(*described->stamp) && !stamp_given)
            stamp_to_bcd(*described->stamp, file.stamp);
        const std::optional<save_kind> kind =
            described->kind
                ? described->kind
                : analyse_save(described->content, std::nullopt, described->name.value_or("")).kind;
        if (kind == save_kind::game && !type_given)
            file.type = 0xCC;
    }

    vmu.frames = vmu_transfer_frames(file);
    for (const fault& f : faults) {
        if (!apply_fault(f, vmu, error))
            return false;
    }
    return true;
}

int vmu_split_command_line(int argc, char* argv[], vmu_sim& vmu, vmu_options& options,
                           const char* tool, const char* summary, std::vector<char*>& tool_argv) {
    std::vector<std::string> vmu_args;
    int separator = 1;
    while (separator < argc && std::string(argv[separator]) != "--")
        vmu_args.emplace_back(argv[separator++]);

    std::string error;
    if (!vmu_parse_options(vmu_args, vmu, options, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", argv[0], error.c_str(), argv[0]);
        return 2;
    }
    if (options.help) {
        std::printf(
            "Usage: %s [VMU options] [-- %s options]\n%s\n\n%s\n%s options: see '%s -- -h'.\n",
            argv[0], tool, summary, VMU_OPTIONS_HELP, tool, argv[0]);
        return 0;
    }

    // The tool sees the program name and what follows "--".
    tool_argv.assign({argv[0]});
    for (int i = separator + 1; i < argc; ++i)
        tool_argv.push_back(argv[i]);
    tool_argv.push_back(nullptr);
    return -1;
}
