// vmurx-save: tells what a received save is, whether it arrived intact, shows
// its pictures and converts it to and from the formats other tools exchange.
//
//   vmurx-save COMMAND [OPTION]... FILE...
#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "save/containers.h"
#include "save/images.h"
#include "save/png_file.h"
#include "save/save_files.h"
#include "save/save_header.h"
#include "save/text.h"

namespace {

const char* const PROGRAM = "vmurx-save";

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
    "  --force                     icon, eyecatch, convert: replace existing files\n"
    "  --help                      display this help and exit\n"
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
    "  2  a bad command or option; check and info: a file cannot be read;\n"
    "     check: a file is not a save\n";

int usage_error(const std::string& message) {
    if (!message.empty())
        std::fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
    std::fputs(USAGE, stderr);
    return 2;
}

int fail(const std::string& object, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, object.c_str(), reason.c_str());
    return 1;
}

// The command line of one command: its options and its operands.
struct command_line {
    bool help = false;
    bool json = false;
    bool force = false;
    bool protect = false;
    unsigned frame = 0;
    std::size_t scale = 1;
    std::optional<std::string> name, stamp, type, description, copyright;
    std::vector<std::string> operands;
    std::string error;  // a value that is not acceptable (status 1)
};

enum option_id {
    OPT_HELP = 255,
    OPT_JSON = 256,
    OPT_FORCE,
    OPT_PROTECT,
    OPT_FRAME,
    OPT_SCALE,
    OPT_NAME,
    OPT_STAMP,
    OPT_TYPE,
    OPT_DESCRIPTION,
    OPT_COPYRIGHT
};

bool parse_count(const char* text, unsigned long low, unsigned long high, unsigned long& value) {
    char* end = nullptr;
    if (text[0] < '0' || text[0] > '9')
        return false;
    value = std::strtoul(text, &end, 10);
    return *end == '\0' && value >= low && value <= high;
}

// Parses argv[1..] with getopt_long; `allowed` lists the options of this
// command. Returns false for an unknown option or a missing value.
bool parse_command(int argc, char* argv[], const std::vector<int>& allowed, command_line& cl) {
    static const option all[] = {
        {"help", no_argument, nullptr, OPT_HELP},
        {"json", no_argument, nullptr, OPT_JSON},
        {"force", no_argument, nullptr, OPT_FORCE},
        {"protect", no_argument, nullptr, OPT_PROTECT},
        {"frame", required_argument, nullptr, OPT_FRAME},
        {"scale", required_argument, nullptr, OPT_SCALE},
        {"name", required_argument, nullptr, OPT_NAME},
        {"stamp", required_argument, nullptr, OPT_STAMP},
        {"type", required_argument, nullptr, OPT_TYPE},
        {"description", required_argument, nullptr, OPT_DESCRIPTION},
        {"copyright", required_argument, nullptr, OPT_COPYRIGHT},
    };
    std::vector<option> options{all[0]};
    for (const option& o : all) {
        for (int id : allowed) {
            if (o.val == id)
                options.push_back(o);
        }
    }
    options.push_back({nullptr, 0, nullptr, 0});
    opterr = 0;  // the messages below name this program, not the command
    optind = 1;
    int id;
    while ((id = getopt_long(argc, argv, "", options.data(), nullptr)) != -1) {
        unsigned long number = 0;
        switch (id) {
            case OPT_HELP:
                cl.help = true;
                break;
            case OPT_JSON:
                cl.json = true;
                break;
            case OPT_FORCE:
                cl.force = true;
                break;
            case OPT_PROTECT:
                cl.protect = true;
                break;
            case OPT_FRAME:
                if (!parse_count(optarg, 1, 3, number))
                    cl.error = std::string("bad frame '") + optarg + "' (1 to 3)";
                cl.frame = static_cast<unsigned>(number);
                break;
            case OPT_SCALE:
                if (!parse_count(optarg, 1, 16, number))
                    cl.error = std::string("bad scale '") + optarg + "' (1 to 16)";
                cl.scale = number;
                break;
            case OPT_NAME:
                cl.name = optarg;
                break;
            case OPT_STAMP:
                cl.stamp = optarg;
                break;
            case OPT_TYPE:
                cl.type = optarg;
                break;
            case OPT_DESCRIPTION:
                cl.description = optarg;
                break;
            case OPT_COPYRIGHT:
                cl.copyright = optarg;
                break;
            default:
                if (optopt >= OPT_HELP) {
                    cl.error = std::string("option '") + argv[optind - 1] + "' needs a value";
                } else if (optopt != 0) {
                    cl.error =
                        std::string("unrecognized option '-") + static_cast<char>(optopt) + "'";
                } else {
                    cl.error = std::string("unrecognized option '") + argv[optind - 1] + "'";
                }
                return false;
        }
    }
    for (int i = optind; i < argc; ++i)
        cl.operands.emplace_back(argv[i]);
    return true;
}

// A file read and looked at.
struct examined {
    save_input input;
    save_analysis analysis;
};

bool examine(const std::string& path, examined& file, file_error& error) {
    if (!load_save(path, file.input, error))
        return false;
    file.analysis = analyse_save(file.input.content, file.input.kind, file.input.name.value_or(""));
    return true;
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string application_text(const save_header& header) {
    const auto& app = header.application;
    std::size_t length = app.size();
    while (length > 0 && (app[length - 1] == 0 || app[length - 1] == ' '))
        --length;
    bool text = length > 0;
    for (std::size_t i = 0; i < length; ++i)
        text = text && app[i] >= 0x20 && app[i] < 0x7F;
    if (text)
        return std::string(app.begin(), app.begin() + static_cast<std::ptrdiff_t>(length));
    return hex_string(app);
}

std::string description_of(const examined& f, bool boot) {
    if (f.analysis.header) {
        return boot ? sjis_to_utf8(f.analysis.header->boot_description)
                    : sjis_to_utf8(f.analysis.header->description);
    }
    if (!boot && f.analysis.kind == save_kind::icondata) {
        if (const auto icon = read_icondata_header(f.input.content))
            return sjis_to_utf8(icon->description);
    }
    return "";
}

std::size_t blocks_of(std::size_t size) {
    return (size + SAVE_BLOCK_SIZE - 1) / SAVE_BLOCK_SIZE;
}

std::vector<std::string> all_problems(const examined& f) {
    std::vector<std::string> problems = f.input.problems;
    problems.insert(problems.end(), f.analysis.problems.begin(), f.analysis.problems.end());
    if (f.analysis.verdict != save_verdict::intact && !f.analysis.reason.empty())
        problems.push_back(f.analysis.reason);
    return problems;
}

std::string info_json(const std::string& path, const examined& f) {
    const save_analysis& a = f.analysis;
    const save_input& in = f.input;
    const auto number = [](std::optional<std::size_t> n) {
        return n ? std::to_string(*n) : std::string("null");
    };
    const bool save = a.header.has_value();
    const bool icondata = a.kind == save_kind::icondata;
    std::string out = "  {\n";
    const auto field = [&](const char* key, const std::string& value, bool last = false) {
        out += std::string("    \"") + key + "\": " + value + (last ? "\n" : ",\n");
    };
    field("file", json_quote(path));
    field("format", json_quote(in.format));
    field("type", a.kind ? json_quote(kind_name(*a.kind)) : "null");
    field("name", in.name ? json_quote(*in.name) : "null");
    field("stamp", in.stamp ? json_quote(stamp_iso(*in.stamp)) : "null");
    field("protected", in.protect ? (*in.protect ? "true" : "false") : "null");
    field("size", std::to_string(in.content.size()));
    field("blocks", std::to_string(blocks_of(in.content.size())));
    field("header_offset", save ? std::to_string(a.header_offset) : "null");
    field("description", save || icondata ? json_quote(description_of(f, false)) : "null");
    field("boot_description", save ? json_quote(description_of(f, true)) : "null");
    field("application", save ? json_quote(hex_string(a.header->application)) : "null");
    field("icons", number(save ? std::optional<std::size_t>(a.header->icon_count) : std::nullopt));
    field("icon_speed",
          number(save ? std::optional<std::size_t>(a.header->icon_speed) : std::nullopt));
    field("eyecatch",
          number(save ? std::optional<std::size_t>(a.header->eyecatch_type) : std::nullopt));
    field("payload",
          number(save ? std::optional<std::size_t>(a.header->payload_length) : std::nullopt));
    field("crc", a.crc ? "{\"stored\": " + std::to_string(a.crc->stored) +
                             ", \"computed\": " + std::to_string(a.crc->computed) +
                             ", \"ok\": " + (a.crc->ok() ? "true" : "false") + "}"
                       : "null");
    field("verdict", json_quote(verdict_name(a.verdict)));
    std::string problems = "[";
    for (const auto& p : all_problems(f))
        problems += (problems.size() > 1 ? ", " : "") + json_quote(p);
    field("problems", problems + "]", true);
    return out + "  }";
}

std::string info_text(const std::string& path, const examined& f) {
    const save_analysis& a = f.analysis;
    const save_input& in = f.input;
    std::string out;
    const auto line = [&](const char* label, const std::string& value) {
        char head[32];
        std::snprintf(head, sizeof head, "%-18s", label);
        out += head + printable(value) + "\n";
    };
    line("File:", path);
    line("Format:",
         in.format + (in.descriptor.empty() ? "" : " (descriptor " + in.descriptor + ")"));
    line("Type:", a.kind ? kind_name(*a.kind) : "unknown");
    line("Card name:", in.name.value_or("unknown"));
    line("Time stamp:", in.stamp ? stamp_iso(*in.stamp) : "unknown");
    line("Copy-protected:", in.protect ? (*in.protect ? "yes" : "no") : "unknown");
    line("Size:", std::to_string(in.content.size()) + " bytes, " +
                      std::to_string(blocks_of(in.content.size())) + " blocks");
    if (a.header) {
        const save_header& h = *a.header;
        line("Header at:", a.header_offset == 0 ? "0" : "0x200");
        line("Description:", description_of(f, false));
        line("Boot description:", description_of(f, true));
        line("Application:", application_text(h));
        line("Icons:", std::to_string(h.icon_count) + ", speed " + std::to_string(h.icon_speed));
        line("Eyecatch:", h.eyecatch_type == 0
                              ? "none"
                              : "type " + std::to_string(h.eyecatch_type) + ", " +
                                    std::to_string(eyecatch_size(h.eyecatch_type)) + " bytes");
        if (a.kind == save_kind::data)
            line("Payload:", std::to_string(h.payload_length) + " bytes");
    } else if (a.kind == save_kind::icondata) {
        line("Description:", description_of(f, false));
    }
    if (a.crc)
        line("CRC:", "stored " + hex16(a.crc->stored) + ", computed " + hex16(a.crc->computed));
    line("Verdict:", verdict_name(a.verdict));
    for (const auto& p : all_problems(f))
        line("Problem:", p);
    return out;
}

int run_info(const command_line& cl) {
    int status = 0;
    std::string json;
    bool first = true;
    for (const auto& path : cl.operands) {
        examined f;
        file_error error;
        if (!examine(path, f, error)) {
            std::fflush(stdout);
            std::fprintf(stderr, "%s: %s: %s\n", PROGRAM, error.object.c_str(),
                         error.reason.c_str());
            status = 2;
            continue;
        }
        if (cl.json) {
            json += (json.empty() ? "" : ",\n") + info_json(path, f);
        } else {
            std::printf("%s%s", first ? "" : "\n", info_text(path, f).c_str());
            first = false;
        }
    }
    if (cl.json)
        std::printf("[\n%s%s]\n", json.c_str(), json.empty() ? "" : "\n");
    return status;
}

int run_check(const command_line& cl) {
    bool failed = false;
    bool unusable = false;
    for (const auto& path : cl.operands) {
        examined f;
        file_error error;
        std::string result;
        if (!examine(path, f, error)) {
            result = "cannot read (" + error.reason + ")";
            unusable = true;
        } else {
            const save_analysis& a = f.analysis;
            switch (a.verdict) {
                case save_verdict::intact:
                    result = a.kind == save_kind::data   ? "OK"
                             : a.kind == save_kind::game ? "OK (game file, no checksum)"
                                                         : "OK (icon file, no checksum)";
                    break;
                case save_verdict::checksum_mismatch:
                    result = "FAILED (checksum " + hex16(a.crc->stored) + ", computed " +
                             hex16(a.crc->computed) + ")";
                    failed = true;
                    break;
                case save_verdict::truncated:
                    result = "FAILED (truncated: " + a.reason + ")";
                    failed = true;
                    break;
                default:
                    result = "not a save (" + a.reason + ")";
                    unusable = true;
            }
        }
        std::printf("%s: %s\n", printable(path).c_str(), result.c_str());
    }
    return unusable ? 2 : failed ? 1 : 0;
}

int write_picture(const std::string& path, const rgba_image& image, const command_line& cl) {
    std::vector<std::uint8_t> png;
    std::string reason;
    if (!encode_png(scale_image(image, cl.scale), png, reason))
        return fail(path, reason);
    file_error error;
    if (!write_outputs({{path, png, std::nullopt}}, cl.force, error))
        return fail(error.object, error.reason);
    return 0;
}

int run_picture(const command_line& cl, bool eyecatch) {
    if (cl.operands.size() != 2)
        return usage_error("expected FILE and OUT.png");
    const std::string& path = cl.operands[0];
    examined f;
    file_error error;
    if (!examine(path, f, error))
        return fail(error.object, error.reason);
    const save_analysis& a = f.analysis;
    if (!a.kind)
        return fail(path, "not a save (" + a.reason + ")");
    std::optional<rgba_image> image;
    if (a.kind == save_kind::icondata) {
        if (eyecatch)
            return fail(path, "the card's icon file has no eyecatch");
        image = decode_icondata(f.input.content);
    } else if (!a.header) {
        return fail(path, a.reason);
    } else if (eyecatch) {
        if (a.header->eyecatch_type == 0)
            return fail(path, "no eyecatch in this save");
        image = decode_eyecatch(f.input.content, a.header_offset);
    } else {
        if (cl.frame > a.header->icon_count) {
            return fail(path, "no frame " + std::to_string(cl.frame) + " (the save has " +
                                  std::to_string(a.header->icon_count) + " icons)");
        }
        image = decode_icons(f.input.content, a.header_offset, cl.frame);
    }
    if (!image)
        return fail(path, "the picture runs past the end of the file");
    return write_picture(cl.operands[1], *image, cl);
}

std::string out_base(const std::string& path) {
    const auto slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = base.rfind('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}

int run_convert(const command_line& cl) {
    if (cl.operands.size() != 2)
        return usage_error("expected IN and OUT");
    const std::string& in_path = cl.operands[0];
    std::string out_path = cl.operands[1];
    if (format_of(out_path) == file_format::vmi) {
        // A .vmi names the pair: the .vms beside it is written with it.
        out_path.back() = out_path.back() == 'I' ? 'S' : 's';
    }
    if (cl.name && (cl.name->empty() || cl.name->size() > 12))
        return fail(*cl.name, "a card name has 1 to 12 bytes");
    std::optional<save_stamp> stamp;
    if (cl.stamp) {
        stamp = parse_stamp_text(*cl.stamp);
        if (!stamp) {
            return fail(*cl.stamp,
                        "not a time stamp YYYYMMDDhhmmss between the years 1900 and 9999");
        }
    }
    std::optional<save_kind> kind;
    if (cl.type) {
        if (*cl.type != "game" && *cl.type != "data")
            return fail(*cl.type, "the type is game or data");
        kind = *cl.type == "game" ? save_kind::game : save_kind::data;
    }
    if (cl.description && cl.description->size() > 32)
        return fail("--description", "at most 32 bytes");
    if (cl.copyright && cl.copyright->size() > 32)
        return fail("--copyright", "at most 32 bytes");

    examined f;
    file_error error;
    if (!load_save(in_path, f.input, error))
        return fail(error.object, error.reason);
    save_input& in = f.input;
    if (cl.name)
        in.name = cl.name;
    if (stamp)
        in.stamp = stamp;
    if (kind)
        in.kind = kind;
    if (cl.protect)
        in.protect = true;
    f.analysis = analyse_save(in.content, in.kind, in.name.value_or(""));

    const file_format target = format_of(out_path);
    std::vector<output_file> outputs;
    if (target == file_format::bytes) {
        outputs.push_back({out_path, in.content, in.stamp});
    } else {
        if (!in.name)
            return fail(in_path, "the card name is unknown (give --name)");
        if (in.name->size() > 12)
            return fail(*in.name, "a card name has 1 to 12 bytes");
        if (!in.stamp)
            return fail(in_path, "the time stamp is unknown (give --stamp)");
        if (!stamp_is_valid(*in.stamp))
            return fail(in_path, "the time stamp " + stamp_iso(*in.stamp) +
                                     " is not a date between the years 1900 and 9999");
        std::optional<save_kind> type = in.kind ? in.kind : f.analysis.kind;
        if (!type) {
            return fail(in_path, "not a save, so its type is unknown (give --type)");
        }
        const bool game = type == save_kind::game;
        const bool protect = in.protect.value_or(false);
        if (target == file_format::dci) {
            card_entry entry;
            entry.type = game ? DCI_TYPE_GAME : DCI_TYPE_DATA;
            entry.protection = protect ? 0xFF : 0x00;
            entry.name = *in.name;
            entry.stamp = in.stamp;
            entry.header_block = game ? 1 : 0;
            outputs.push_back({out_path, build_dci(entry, in.content), in.stamp});
        } else {
            vmi_record vmi;
            vmi.resource_name = out_base(out_path);
            if (vmi.resource_name.empty() || vmi.resource_name.size() > 8) {
                return fail(out_path, "the VMI's resource name '" + vmi.resource_name +
                                          "' (the name without .vms) must have 1 to 8 bytes");
            }
            if (cl.description) {
                vmi.description = *cl.description;
            } else if (f.analysis.header) {
                vmi.description = trim_field(f.analysis.header->description);
            } else if (const auto icon = read_icondata_header(in.content);
                       icon && f.analysis.kind == save_kind::icondata) {
                vmi.description = trim_field(icon->description);
            }
            vmi.copyright = cl.copyright.value_or("");
            vmi.stamp = *in.stamp;
            vmi.card_name = *in.name;
            vmi.mode = static_cast<std::uint16_t>((protect ? VMI_MODE_PROTECTED : 0) |
                                                  (game ? VMI_MODE_GAME : 0));
            vmi.file_size = static_cast<std::uint32_t>(in.content.size());
            // The descriptor's extension in the letter case of the .vms.
            std::string vmi_path = out_path;
            vmi_path.back() = vmi_path.back() == 'S' ? 'I' : 'i';
            outputs.push_back({out_path, in.content, in.stamp});
            outputs.push_back({vmi_path, build_vmi(vmi), in.stamp});
        }
    }
    if (!write_outputs(outputs, cl.force, error))
        return fail(error.object, error.reason);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2)
        return usage_error("missing command");
    const std::string command = argv[1];
    if (command == "--help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("vmurx-save (vmurx) %s\n", VMURX_VERSION);
        return 0;
    }
    std::vector<int> allowed;
    if (command == "info")
        allowed = {OPT_JSON};
    else if (command == "check")
        allowed = {};
    else if (command == "icon")
        allowed = {OPT_FRAME, OPT_SCALE, OPT_FORCE};
    else if (command == "eyecatch")
        allowed = {OPT_SCALE, OPT_FORCE};
    else if (command == "convert")
        allowed = {OPT_NAME,        OPT_STAMP,     OPT_TYPE, OPT_PROTECT,
                   OPT_DESCRIPTION, OPT_COPYRIGHT, OPT_FORCE};
    else
        return usage_error("unknown command '" + command + "'");

    command_line cl;
    if (!parse_command(argc - 1, argv + 1, allowed, cl))
        return usage_error(cl.error);
    if (cl.help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (!cl.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", PROGRAM, cl.error.c_str());
        return 1;
    }
    if (command == "info" || command == "check") {
        if (cl.operands.empty())
            return usage_error("no FILE given");
        return command == "info" ? run_info(cl) : run_check(cl);
    }
    if (command == "convert")
        return run_convert(cl);
    return run_picture(cl, command == "eyecatch");
}
