// Preparing the software card's flash: the sender in the game slot of a copy
// of the card, and the list and the presses that go with it.
#include "vmu/cpu_card/card_setup.h"

#include <algorithm>

#include "card/card_edit.h"
#include "save/sample_save.h"

namespace {

// When the sender starts, when the first press comes, and how far apart the
// presses are: the sender reads the whole directory at the RC clock before
// it shows the first file (about 0.15 s), and a redraw takes under 0.1 s.
constexpr double START_MS = 1000;
constexpr double PRESS_EVERY_MS = 400;
constexpr double PRESS_HOLD_MS = 100;

struct set_aside {
    card_file entry;
    std::vector<std::uint8_t> content;
};

// Lets the user area reach up to the lowest system block, as on the cards
// that use the blocks a standard card leaves free.
void widen_user_area(card_image& card, const card_layout& layout) {
    const std::vector<std::uint16_t> system = card_system_blocks(layout);
    const std::uint16_t lowest = *std::min_element(system.begin(), system.end());
    card_set_user_blocks(card, lowest);
}

// A name no entry of the card has: the game is placed under it, then gets
// its own name back, which a data file of the card may share.
std::string unused_name(const card_image& card, const card_layout& layout) {
    const std::vector<card_file> files = card_files(card, layout);
    for (unsigned n = 0;; ++n) {  // a card has at most a few hundred entries
        std::string name = "ASIDE" + std::to_string(n);
        if (std::none_of(files.begin(), files.end(),
                         [&](const card_file& f) { return card_file_name(f) == name; }))
            return name;
    }
}

// Puts a game that was set aside back as an ordinary file elsewhere, then
// gives it back its own entry: type, protection, name and stamp as found.
bool put_back(card_image& card, const set_aside& game, std::string& reason) {
    card_layout layout;
    if (!card_read_layout_to_write(card, layout, reason))
        return false;
    card_new_file file;
    file.name = unused_name(card, layout);
    file.content = game.content;
    file.stamp = save_stamp{2000, 1, 1, 0, 0, 0};
    std::size_t slot = 0;
    if (!card_add(card, file, slot, reason))
        return false;
    card_file entry = game.entry;
    entry.slot = slot;
    entry.first_block = card_read_entry(card, layout, slot).first_block;
    card_put_entry(card, layout, entry);
    return true;
}

}  // namespace

bool cpu_card_install(card_image& card, std::span<const std::uint8_t> sender, std::string& reason) {
    card_layout layout;
    if (!card_read_layout_to_write(card, layout, reason))
        return false;
    std::vector<set_aside> games;
    for (const card_file& file : card_files(card, layout)) {
        if (file.type != CARD_TYPE_GAME)
            continue;
        const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
        games.push_back({file, card_chain_bytes(card, chain)});
    }
    for (const set_aside& game : games) {
        if (!card_remove(card, game.entry.slot, reason))
            return false;
    }

    card_new_file file;
    file.name = CPU_CARD_SENDER_NAME;
    file.game = true;
    file.stamp = save_stamp{2026, 1, 1, 0, 0, 0};
    file.content.assign(sender.begin(), sender.end());
    std::size_t slot = 0;
    if (!card_add(card, file, slot, reason)) {
        // Data files in the way: pack them at the top of a wider user area.
        widen_user_area(card, layout);
        if (!card_defrag(card, reason) || !card_add(card, file, slot, reason))
            return false;
    }
    for (const set_aside& game : games) {
        if (!put_back(card, game, reason))
            return false;
    }
    return true;
}

std::vector<card_file> cpu_card_listed(const card_image& card) {
    std::vector<card_file> listed;
    card_layout layout;
    std::string reason;
    if (!card_read_layout(card, layout, reason))
        return listed;
    for (const card_file& file : card_files(card, layout)) {
        const bool sender_itself = file.type == CARD_TYPE_GAME && file.first_block == 0;
        if ((file.type == CARD_TYPE_DATA || file.type == CARD_TYPE_GAME) && !sender_itself)
            listed.push_back(file);
    }
    return listed;
}

bool cpu_card_list_index(const card_image& card, const card_file& file, std::size_t& index) {
    const std::vector<card_file> listed = cpu_card_listed(card);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const bool same = file.type == CARD_TYPE_GAME
                              ? listed[i].type == CARD_TYPE_GAME && listed[i].name == file.name
                              : listed[i].slot == file.slot;
        if (same) {
            index = i;
            return true;
        }
    }
    return false;
}

card_image cpu_card_sample_card() {
    card_image card =
        card_new({0x40, 0x80, 0xFF, 0xFF}, 0, save_stamp{2026, 1, 1, 0, 0, 0}, card_order::raw);
    card_new_file file;
    file.name = "VMURX_DEMO";
    file.stamp = save_stamp{1999, 12, 31, 23, 59, 58};
    file.content = sample_save();
    std::size_t slot = 0;
    std::string reason;
    card_add(card, file, slot, reason);  // a blank card has room for two blocks
    return card;
}

std::vector<cpu_card_press> cpu_card_choose(std::size_t index, cpu_card_speed speed) {
    std::vector<std::uint8_t> buttons(index, VMU_BUTTON_DOWN);
    if (speed == cpu_card_speed::safe)
        buttons.push_back(VMU_BUTTON_RIGHT);
    buttons.push_back(VMU_BUTTON_A);
    std::vector<cpu_card_press> presses;
    for (std::size_t i = 0; i < buttons.size(); ++i)
        presses.push_back(
            {buttons[i], START_MS + PRESS_EVERY_MS * static_cast<double>(i), PRESS_HOLD_MS});
    return presses;
}

double cpu_card_chosen_ms(std::size_t index, cpu_card_speed speed) {
    const std::size_t presses = index + (speed == cpu_card_speed::safe ? 2 : 1);
    return START_MS + PRESS_EVERY_MS * static_cast<double>(presses);
}
