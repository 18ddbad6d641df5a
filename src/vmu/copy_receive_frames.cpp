// What the receiving card's system software does with each frame it takes:
// the checks it makes, the blocks it chooses at the start frame, and the
// file written with the last frame, placed as the card places every file
// (card/card_place.h), its directory slot chosen only then. The real card writes each piece to
// its chosen block as its flash frame comes; those blocks stay free in the
// FAT until the last frame, so the model, which keeps the pieces until then
// and writes the whole image at once, leaves the same file system at every
// moment.
#include <algorithm>
#include <span>

#include "card/card_place.h"
#include "vmu/copy_receive.h"

namespace {

// Not confirmed: the cycles of the card's check of a frame.
constexpr std::int64_t CHECK_CYCLES = 100;
// The work before the answer as the system ROM did it on the processor
// model (cycles of 2 µs): a flash frame's 128 bytes written, 12.4 ms; the
// last frame's piece, the FAT and the entry, 42.7 ms; the name looked for
// among the directory's entries, 0.64 ms and 40 µs an entry looked at (all
// 208 of a standard card: 9.0 ms).
constexpr std::int64_t FLASH_WRITE_CYCLES = 6'198;
constexpr std::int64_t LAST_FRAME_CYCLES = 21'345;
constexpr std::int64_t LAST_REFUSED_CYCLES = 15'391;
constexpr std::int64_t NAME_LOOK_CYCLES = 320;
constexpr std::int64_t NAME_ENTRY_CYCLES = 20;
constexpr int FLASH_TRIES = 3;

using payload = std::span<const std::uint8_t>;

receive_verdict refuse(copy_receive& card, const std::string& reason,
                       std::int64_t cycles = CHECK_CYCLES) {
    card.outcome = receive_outcome::refused;
    card.notes.push_back("refused frame " + std::to_string(card.frame + 1) + ": " + reason);
    return {BLOCK_NAK, cycles};
}

receive_verdict accept(std::int64_t cycles = CHECK_CYCLES) {
    return {BLOCK_ACK, cycles};
}

std::string plural(std::size_t count, const char* thing) {
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

// The layout the file is placed through. Not confirmed: that the card's
// own software refuses a root its FAT contradicts; the model does, since it
// writes the user's card image and a file placed through such a root lands
// in another file's blocks.
bool layout_of(copy_receive& card, card_layout& layout) {
    std::string reason;
    if (!card_read_layout(card.image, layout, reason)) {
        card.notes.push_back("its file system is unreadable: " + reason);
        return false;
    }
    if (!card_layout_sound(card.image, layout, reason)) {
        card.notes.push_back("its root may not be written through: " + reason);
        return false;
    }
    return true;
}

receive_verdict take_start(copy_receive& card, payload bytes) {
    card_layout layout;
    if (!layout_of(card, layout))
        return refuse(card, "no file system");
    card.game = bytes[0] == TYPE_GAME;  // any other type is data
    card.blocks = bytes[1];
    // Not confirmed: a file of no blocks; the card cannot place it.
    if (card.blocks == 0)
        return refuse(card, "a file of no blocks");
    card.placed = card_choose_blocks(card.image, layout, card.game, card.blocks);
    if (card.placed.empty()) {
        return refuse(card, "no room for " + plural(card.blocks, "block") +
                                (card.game ? " free from block 0" : ""));
    }
    card.content.assign(card.blocks * IMAGE_BLOCK_SIZE, 0x00);
    return accept();
}

receive_verdict take_name(copy_receive& card, payload bytes) {
    std::copy(bytes.begin(), bytes.end(), card.name.begin());
    if (card.game)
        return accept();  // only a data file's name is looked for
    card_layout layout;
    if (!layout_of(card, layout))
        return refuse(card, "no file system");
    // The entries in slot order, up to the one that has the name.
    const auto looked_at = [](std::size_t entries) {
        return NAME_LOOK_CYCLES + static_cast<std::int64_t>(entries) * NAME_ENTRY_CYCLES;
    };
    for (const card_file& file : card_files(card.image, layout)) {
        if (file.name == card.name) {
            return refuse(card, "a data file of this name is in slot " + std::to_string(file.slot),
                          CHECK_CYCLES + looked_at(file.slot + 1));
        }
    }
    return accept(CHECK_CYCLES + looked_at(layout.directory.size() * CARD_ENTRIES_PER_BLOCK));
}

receive_verdict take_flash(copy_receive& card) {
    const std::size_t piece = (card.frame - 3) / 2;
    if (card.config.failing_flash == static_cast<std::int64_t>(piece) + 1) {
        return refuse(card,
                      "the flash write of piece " + std::to_string(piece + 1) + " failed " +
                          std::to_string(FLASH_TRIES) + " times",
                      FLASH_TRIES * FLASH_WRITE_CYCLES);
    }
    return accept(FLASH_WRITE_CYCLES);
}

// The last frame: the pieces into their blocks, the chain into the FAT, the
// entry into the directory, all at once. The card looks for a free entry
// only now, after it has written the data and the FAT, and only in the
// directory's first block: without one there it answers 0x0A, the file's
// blocks taken with no entry naming them.
receive_verdict take_last(copy_receive& card) {
    card_layout layout;
    if (!layout_of(card, layout))
        return refuse(card, "no file system");
    card_image written = card.image;
    card_write_chain(written, layout, card.placed, card.content);
    const std::optional<std::size_t> slot = card_free_slot(card.image, layout);
    const bool entered = slot && *slot < CARD_SLOTS_LOOKED_AT;
    card.slot = entered ? *slot : 0;
    card_file entry;
    entry.slot = card.slot;
    entry.type = card.game ? TYPE_GAME : TYPE_DATA;
    entry.protection = 0x00;
    entry.first_block = card.placed.front();
    entry.name = card.name;
    card_set_entry_tail(entry, card.directory);
    if (entered)
        card_put_entry(written, layout, entry);
    std::string reason;
    if (card.store && !card.store(written, reason)) {
        return refuse(card, "cannot store the card image: " + reason, LAST_FRAME_CYCLES);
    }
    card.image = std::move(written);
    if (!entered) {
        return refuse(card,
                      "no free entry among the directory's first " +
                          std::to_string(CARD_SLOTS_LOOKED_AT) + ": " +
                          plural(card.blocks, "block") + " from block " +
                          std::to_string(card.placed.front()) + " are taken with no entry",
                      LAST_REFUSED_CYCLES);
    }
    card.outcome = receive_outcome::taken;
    card.notes.push_back("took " + card_file_name(entry) + " into slot " +
                         std::to_string(entry.slot) + ", " + plural(card.blocks, "block") +
                         " from block " + std::to_string(card.placed.front()));
    return accept(LAST_FRAME_CYCLES);
}

}  // namespace

receive_verdict copy_receive_take_frame(copy_receive& card) {
    const cable_frame due = cable_frame_at(card.frame, card.frame == 0 ? 0 : card.blocks);
    const std::uint8_t code = card.frame_bytes[1];
    if (code != cable_frame_code(due) || card.frame_length != cable_frame_length(due)) {
        return refuse(card, "block code " + card_hex_byte(code) + " with " +
                                plural(card.frame_length, "byte") + " where " +
                                card_hex_byte(cable_frame_code(due)) + " with " +
                                plural(cable_frame_length(due), "byte") + " was due");
    }
    const payload bytes = payload(card.frame_bytes).subspan(2, card.frame_length);
    switch (due) {
        case cable_frame::start:
            return take_start(card, bytes);
        case cable_frame::name:
            return take_name(card, bytes);
        case cable_frame::data: {
            const std::size_t piece = (card.frame - 2) / 2;
            std::copy(bytes.begin(), bytes.end(),
                      card.content.begin() + static_cast<std::ptrdiff_t>(piece * bytes.size()));
            return accept();
        }
        case cable_frame::flash:
            return take_flash(card);
        case cable_frame::directory:
            std::copy(bytes.begin(), bytes.end(), card.directory.begin());
            return accept();
        case cable_frame::last_flash:
            break;
    }
    return take_last(card);
}
