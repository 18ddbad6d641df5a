// vmurx-save info: what each file is, as text a block per file, or as one
// JSON array (--json).
#include <cstdio>
#include <iterator>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "files/text.h"
#include "save/images.h"
#include "save/stamp.h"
#include "save/vmurx_save.h"

namespace {

// The application identifier as text, when it is printable ASCII (trailing
// NULs and spaces aside).
std::optional<std::string> application_text(const save_header& header) {
    const auto& app = header.application;
    std::size_t length = app.size();
    while (length > 0 && (app[length - 1] == 0 || app[length - 1] == ' '))
        --length;
    bool text = length > 0;
    for (std::size_t i = 0; i < length; ++i)
        text = text && app[i] >= 0x20 && app[i] < 0x7F;
    if (!text)
        return std::nullopt;
    return std::string(app.begin(), app.begin() + static_cast<std::ptrdiff_t>(length));
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
    return (size + IMAGE_BLOCK_SIZE - 1) / IMAGE_BLOCK_SIZE;
}

std::vector<std::string> all_problems(const examined& f) {
    std::vector<std::string> problems = f.input.problems;
    problems.insert(problems.end(), f.analysis.problems.begin(), f.analysis.problems.end());
    if (f.analysis.verdict != save_verdict::intact && !f.analysis.reason.empty())
        problems.push_back(f.analysis.reason);
    return problems;
}

using json = nlohmann::ordered_json;

// A value on one line with a space after every ":" and ",", the layout the
// document has always had; strings as the library writes them, with bytes
// that are not UTF-8 replaced.
std::string inline_text(const json& value) {
    if (!value.is_object() && !value.is_array())
        return json_escape_c1(value.dump(-1, ' ', false, json::error_handler_t::replace));
    std::string out;
    for (auto it = value.begin(); it != value.end(); ++it) {
        out += it == value.begin() ? "" : ", ";
        if (value.is_object())
            out += json(it.key()).dump() + ": ";
        out += inline_text(*it);
    }
    return value.is_object() ? "{" + out + "}" : "[" + out + "]";
}

// A text that names something (a file, a card name): when it is not UTF-8,
// the JSON string cannot say it exactly, so its bytes follow in hex.
void put_name(json& object, const std::string& key, const std::optional<std::string>& text) {
    if (!text) {
        object[key] = nullptr;
        return;
    }
    object[key] = *text;
    if (!is_utf8(*text)) {
        object[key + "_bytes"] =
            hex_string({reinterpret_cast<const std::uint8_t*>(text->data()), text->size()});
    }
}

json optional_number(bool known, std::size_t value) {
    return known ? json(value) : json(nullptr);
}

json info_json(const std::string& path, const examined& f) {
    const save_analysis& a = f.analysis;
    const save_input& in = f.input;
    const bool save = a.header.has_value();
    const bool icondata = a.kind == save_kind::icondata;
    json o;
    put_name(o, "file", path);
    o["format"] = in.format;
    o["type"] = a.kind ? json(kind_name(*a.kind)) : json(nullptr);
    put_name(o, "name", in.name);
    o["stamp"] = in.stamp ? json(stamp_iso(*in.stamp)) : json(nullptr);
    o["protected"] = in.protect ? json(*in.protect) : json(nullptr);
    o["size"] = in.content.size();
    o["blocks"] = blocks_of(in.content.size());
    o["header_offset"] = optional_number(save, a.header_offset);
    o["description"] = save || icondata ? json(description_of(f, false)) : json(nullptr);
    o["boot_description"] = save ? json(description_of(f, true)) : json(nullptr);
    o["application"] = save ? json(hex_string(a.header->application)) : json(nullptr);
    const std::optional<std::string> app = save ? application_text(*a.header) : std::nullopt;
    o["application_text"] = app ? json(*app) : json(nullptr);
    o["icons"] = optional_number(save, save ? a.header->icon_count : 0);
    o["icon_speed"] = optional_number(save, save ? a.header->icon_speed : 0);
    o["eyecatch"] = optional_number(save, save ? a.header->eyecatch_type : 0);
    o["payload"] = optional_number(save, save ? a.header->payload_length : 0);
    o["crc"] =
        a.crc ? json{{"stored", a.crc->stored}, {"computed", a.crc->computed}, {"ok", a.crc->ok()}}
              : json(nullptr);
    o["verdict"] = verdict_name(a.verdict);
    o["problems"] = all_problems(f);
    return o;
}

// The array of objects, a key per line.
std::string document_text(const std::vector<json>& files) {
    std::string out = "[\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
        out += "  {\n";
        for (auto it = files[i].begin(); it != files[i].end(); ++it) {
            out += "    " + json(it.key()).dump() + ": " + inline_text(*it);
            out += std::next(it) == files[i].end() ? "\n" : ",\n";
        }
        out += i + 1 == files.size() ? "  }\n" : "  },\n";
    }
    return out + "]\n";
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
        line("Application:", application_text(h).value_or(hex_string(h.application)));
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
        line("CRC:", "stored " + hex_number(a.crc->stored, 4) + ", computed " +
                         hex_number(a.crc->computed, 4));
    line("Verdict:", verdict_name(a.verdict));
    for (const auto& p : all_problems(f))
        line("Problem:", p);
    return out;
}

}  // namespace

int run_info(const command_line& cl) {
    int status = 0;
    std::vector<json> files;
    bool first = true;
    for (const auto& path : cl.operands) {
        examined f;
        file_error error;
        if (!examine(path, f, error)) {
            report(error.object, error.reason);
            status = 2;
            continue;
        }
        if (cl.json) {
            files.push_back(info_json(path, f));
        } else {
            std::printf("%s%s", first ? "" : "\n", info_text(path, f).c_str());
            first = false;
        }
    }
    if (cl.json)
        std::fputs(document_text(files).c_str(), stdout);
    return status;
}
