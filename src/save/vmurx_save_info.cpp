// vmurx-save info: what each file is, as text a block per file, or as one
// JSON array (--json).
#include <cstdio>

#include "save/images.h"
#include "save/stamp.h"
#include "save/text.h"
#include "save/vmurx_save.h"

namespace {

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

}  // namespace

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
