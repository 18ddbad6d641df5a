// Checking a card: each finding becomes one line of text.
#include "card/card_check.h"

#include <array>
#include <map>

#include "files/text.h"
#include "save/save_header.h"

namespace {

// Who holds each block: -1 none, -2 the system, else a slot.
using owners = std::array<long, CARD_BLOCKS>;
constexpr long NO_OWNER = -1;
constexpr long SYSTEM = -2;

void check_system_chain(const card_image& card, const card_layout& layout, owners& owner,
                        card_report& report) {
    const auto expect = [&](std::size_t block, std::uint16_t next) {
        const std::uint16_t found = card_fat(card, layout, block);
        if (found != next) {
            report.errors.push_back("the system chain is broken at block " + std::to_string(block) +
                                    ": its FAT entry is " + hex_number(found, 4) + ", not " +
                                    hex_number(next, 4));
        }
    };
    expect(CARD_ROOT_BLOCK, FAT_END);
    if (layout.fat_block != CARD_ROOT_BLOCK)
        expect(layout.fat_block, FAT_END);
    const auto& dir = layout.directory;
    for (std::size_t i = 0; i < dir.size(); ++i)
        expect(dir[i], i + 1 < dir.size() ? dir[i + 1] : FAT_END);
    for (const std::uint16_t block : card_system_blocks(layout)) {
        if (owner[block] == SYSTEM && block != CARD_ROOT_BLOCK) {
            report.errors.push_back("block " + std::to_string(block) +
                                    " is taken twice by the root, the FAT and the directory");
        }
        owner[block] = SYSTEM;
    }
}

void check_game(const card_image& card, const card_layout& layout, const card_file& file,
                const card_chain& chain, std::optional<card_file>& game, card_report& report) {
    const std::string label = card_entry_label(file);
    // A data save put in the game's place: the console would run its header
    // as a program. Only a header at 0 where the one at 0x200 is not
    // plausible tells; a game's code at 0 may look like anything. A warning:
    // no data is lost, and the user may have insisted (--force-type).
    if (chain.fault.empty() &&
        analyse_save(card_chain_bytes(card, chain), save_kind::game, card_file_name(file)).kind ==
            save_kind::data)
        report.warnings.push_back(label +
                                  ": a game entry holding a data save (its header is at 0, not at "
                                  "0x200, as a game's)");
    if (game) {
        report.errors.push_back(label + ": a second game (the first is " + card_entry_label(*game) +
                                ")");
        return;
    }
    game = file;
    if (file.first_block != 0)
        report.errors.push_back(label + ": the game starts at block " +
                                std::to_string(file.first_block) + ", not 0");
    for (std::size_t i = 1; i < chain.blocks.size(); ++i) {
        if (chain.blocks[i] != chain.blocks[i - 1] + 1) {
            report.errors.push_back(label + ": the game is not contiguous (block " +
                                    std::to_string(chain.blocks[i]) + " follows block " +
                                    std::to_string(chain.blocks[i - 1]) + ")");
            break;
        }
    }
    if (file.blocks > layout.max_game)
        report.errors.push_back(label + ": the game has " + std::to_string(file.blocks) +
                                " blocks, more than the card's maximum of " +
                                std::to_string(layout.max_game));
}

void check_data_save(const card_image& card, const card_file& file, const card_chain& chain,
                     card_report& report) {
    const auto content = card_chain_bytes(card, chain);
    const save_analysis a = analyse_save(content, save_kind::data, card_file_name(file));
    if (a.verdict == save_verdict::checksum_mismatch) {
        report.warnings.push_back(
            card_entry_label(file) + ": vmurx-save check fails it (checksum " +
            hex_number(a.crc->stored, 4) + ", computed " + hex_number(a.crc->computed, 4) + ")");
    } else if (a.verdict == save_verdict::truncated) {
        report.warnings.push_back(card_entry_label(file) + ": vmurx-save check fails it (" +
                                  a.reason + ")");
    }
}

void check_files(const card_image& card, const card_layout& layout, owners& owner,
                 card_report& report) {
    std::optional<card_file> game;
    std::map<std::string, std::vector<std::size_t>> by_name;
    for (const card_file& file : card_files(card, layout)) {
        const std::string label = card_entry_label(file);
        by_name[card_file_name(file)].push_back(file.slot);
        if (file.type != CARD_TYPE_DATA && file.type != CARD_TYPE_GAME)
            report.errors.push_back(label + ": unknown entry type " + hex_number(file.type, 2));
        const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
        if (!chain.fault.empty())
            report.errors.push_back(label + ": " + chain.fault);
        for (const std::uint16_t block : chain.blocks) {
            if (owner[block] == NO_OWNER) {
                owner[block] = static_cast<long>(file.slot);
                continue;
            }
            const std::string other =
                owner[block] == SYSTEM ? std::string("the system blocks")
                                       : card_entry_label(card_read_entry(
                                             card, layout, static_cast<std::size_t>(owner[block])));
            report.errors.push_back("block " + std::to_string(block) +
                                    " is in two chains: " + other + " and " + label);
        }
        if (file.type == CARD_TYPE_GAME)
            check_game(card, layout, file, chain, game, report);
        else if (file.type == CARD_TYPE_DATA && chain.fault.empty())
            check_data_save(card, file, chain, report);
    }
    for (const auto& [name, slots] : by_name) {
        if (slots.size() < 2)
            continue;
        std::string list;
        for (const std::size_t slot : slots)
            list += (list.empty() ? "#" : ", #") + std::to_string(slot);
        report.warnings.push_back("the name " + printable(card_name_text(name)) +
                                  " is on several entries: " + list);
    }
}

}  // namespace

std::string card_name_text(const std::string& name) {
    std::string text;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string card_entry_label(const card_file& file) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) about
    // a literal + a temporary string.
    std::string label = "#";
    label += std::to_string(file.slot);
    label += ' ';
    label += printable(card_name_text(card_file_name(file)));
    return label;
}

card_report card_check(const card_image& card) {
    card_report report;
    card_layout layout;
    std::string reason;
    if (!card_read_layout(card, layout, reason)) {
        report.errors.push_back(reason);
        return report;
    }
    if (layout.directory_from_lowest)
        report.warnings.push_back("the root names the directory by its lowest block (" +
                                  std::to_string(layout.directory.back()) + ")");
    if (layout.user_blocks > CARD_STANDARD_USER_BLOCKS)
        report.warnings.push_back("an unlocked user area of " + std::to_string(layout.user_blocks) +
                                  " blocks");
    owners owner;
    owner.fill(NO_OWNER);
    check_system_chain(card, layout, owner, report);
    check_files(card, layout, owner, report);
    if (!card_layout_sound(card, layout, report.unwritable))
        report.errors.push_back(report.unwritable);
    // Only the user area: blocks past it are no file's to lose, and some
    // tools and games mark them taken (blocks 200 to 240 of a standard card).
    for (std::size_t block = 0; block < layout.user_end; ++block) {
        const std::uint16_t entry = card_fat(card, layout, block);
        if (owner[block] == NO_OWNER && entry != FAT_FREE && entry != FAT_DAMAGED)
            report.lost_blocks.push_back(static_cast<std::uint16_t>(block));
    }
    if (!report.lost_blocks.empty()) {
        report.warnings.push_back(
            std::to_string(report.lost_blocks.size()) +
            (report.lost_blocks.size() == 1 ? " lost block" : " lost blocks") +
            " (allocated, in no file): " + card_block_ranges(report.lost_blocks));
    }
    return report;
}

std::string card_block_ranges(const std::vector<std::uint16_t>& blocks) {
    std::string text;
    for (std::size_t i = 0; i < blocks.size();) {
        std::size_t last = i;
        while (last + 1 < blocks.size() && blocks[last + 1] == blocks[last] + 1)
            ++last;
        if (!text.empty())
            text += ", ";
        text += std::to_string(blocks[i]);
        if (last > i) {
            text += '-';
            text += std::to_string(blocks[last]);
        }
        i = last + 1;
    }
    return text;
}
