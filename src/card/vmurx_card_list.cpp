// vmurx-card list: the card's files as a table or one JSON object, with the
// free and total user blocks.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "card/card_check.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "card/vmurx_card.h"
#include "files/text.h"
#include "save/save_header.h"

namespace {

// A file as list shows it.
struct listed {
    card_file entry;
    std::optional<save_stamp> stamp;
    std::optional<std::string> description;
    save_verdict verdict = save_verdict::not_a_save;
};

listed look_at(const card_image& card, const card_layout& layout, const card_file& entry) {
    listed f{entry, card_file_stamp(entry), std::nullopt, save_verdict::not_a_save};
    const auto content =
        card_chain_bytes(card, card_follow_chain(card, layout, entry.first_block, entry.blocks));
    std::optional<save_kind> declared;
    if (entry.type == TYPE_DATA)
        declared = save_kind::data;
    else if (entry.type == TYPE_GAME)
        declared = save_kind::game;
    const save_analysis a = analyse_save(content, declared, card_file_name(entry));
    f.verdict = a.verdict;
    if (a.header) {
        f.description = sjis_to_utf8(a.header->description);
    } else if (const auto icon = read_icondata_header(content);
               icon && a.kind == save_kind::icondata) {
        f.description = sjis_to_utf8(icon->description);
    }
    return f;
}

std::string type_text(std::uint8_t type) {
    if (type == TYPE_DATA)
        return "data";
    if (type == TYPE_GAME)
        return "game";
    return hex_number(type, 2);
}

void print_table(const card_image& card, const card_layout& layout,
                 const std::vector<listed>& files) {
    std::printf("%4s  %-4s  %-12s  %6s  %5s  %-19s  %s\n", "SLOT", "TYPE", "NAME", "BLOCKS",
                "FIRST", "STAMP", "DESCRIPTION");
    for (const listed& f : files) {
        std::printf("%4zu  %-4s  %-12s  %6u  %5u  %-19s  %s\n", f.entry.slot,
                    type_text(f.entry.type).c_str(), card_shown_name(f.entry).c_str(),
                    f.entry.blocks, f.entry.first_block,
                    f.stamp ? stamp_iso(*f.stamp).c_str() : "-",
                    printable(f.description.value_or("")).c_str());
    }
    std::printf("%zu of %u user blocks free\n", card_free_user_blocks(card, layout),
                layout.user_end);
}

void print_json(const std::string& path, const card_image& card, const card_layout& layout,
                const std::vector<listed>& files) {
    using json = nlohmann::ordered_json;
    json out;
    out["card"] = path;
    out["format"] = card.order == card_order::dcm ? "dcm" : "raw";
    out["user_blocks"] = layout.user_end;
    out["free_blocks"] = card_free_user_blocks(card, layout);
    out["icon_shape"] = layout.icon_shape;
    out["color"] = layout.colour ? json(hex_string(*layout.colour)) : json(nullptr);
    out["stamp"] = layout.stamp ? json(stamp_iso(*layout.stamp)) : json(nullptr);
    out["files"] = json::array();
    for (const listed& f : files) {
        json file;
        file["slot"] = f.entry.slot;
        file["name"] = card_name_text(card_file_name(f.entry));
        file["type"] = type_text(f.entry.type);
        file["first_block"] = f.entry.first_block;
        file["blocks"] = f.entry.blocks;
        file["header_block"] = f.entry.header_block;
        file["protected"] = f.entry.protection == CARD_PROTECTED;
        file["stamp"] = f.stamp ? json(stamp_iso(*f.stamp)) : json(nullptr);
        file["description"] = f.description ? json(*f.description) : json(nullptr);
        file["verdict"] = verdict_name(f.verdict);
        out["files"].push_back(file);
    }
    // The card's path may be any bytes; what is not UTF-8 becomes U+FFFD.
    std::printf("%s\n",
                json_escape_c1(out.dump(2, ' ', false, json::error_handler_t::replace)).c_str());
}

}  // namespace

int card_list_command(const card_command_line& cl) {
    if (cl.operands.size() != 1)
        return card_usage_error("list takes one CARD");
    const std::string& path = cl.operands.front();
    card_image card;
    card_layout layout;
    if (!card_open(path, card, layout))
        return 2;
    std::vector<listed> files;
    for (const card_file& entry : card_files(card, layout))
        files.push_back(look_at(card, layout, entry));
    if (cl.json)
        print_json(path, card, layout, files);
    else
        print_table(card, layout, files);
    // A root that the card contradicts (a directory over a file's blocks, a
    // FAT that is no system block) gives entries read from somewhere else:
    // they are listed, since they may help a recovery, and not as a card.
    std::string unsound;
    if (!card_layout_sound(card, layout, unsound))
        return card_fail(path,
                         unsound + "; the list is read through it (vmurx-card check tells more)");
    return 0;
}
