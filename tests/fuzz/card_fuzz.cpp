// Fuzz target for the card reader: any bytes are refused or read as a card;
// the input cut or padded to a card's size is then read, listed and checked,
// which must terminate and never crash, and its changes must keep what
// holds: a card writes back to its own bytes, a removed file leaves a
// readable card, a packed card is clean with every file's bytes kept, and a
// repaired card has no more errors than before, a second repair frees at
// most the lost blocks the first kept, and a third changes nothing.
//
// Bytes past the card make its root lie: each three (a field, its value
// low byte first) set the root's FAT block, directory block or size, user
// blocks or largest game. A card whose own root a writer may write through
// is the truth; remove, add, defrag and repair then run on the lying card,
// and each change must keep card_untouched.h's rule against the truth: no
// block but the system blocks and those the change owns changes, nor any
// file it does not own. Without such bytes the card is held to it as it is.
//
// Its mutator is steered: half the time it sets one of the fields that say
// where everything is (the root's FAT and directory block and size, the
// user blocks, the largest game; a directory entry's first block and size; a
// FAT entry) to a value near a boundary, in either byte order, since a
// change of one such field is what a random byte flip seldom makes and what
// once sent every program past the card.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_image.h"
#include "card/card_repair.h"
#include "card_untouched.h"
#include "save/save_header.h"

namespace {

void require(bool condition, const char* rule) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

// What list reads of every file: its chain, its bytes and their analysis.
std::map<std::size_t, std::vector<std::uint8_t>> list_files(const card_image& card,
                                                            const card_layout& layout) {
    std::map<std::size_t, std::vector<std::uint8_t>> contents;
    for (const card_file& file : card_files(card, layout)) {
        const card_chain chain = card_follow_chain(card, layout, file.first_block, file.blocks);
        require(chain.blocks.size() <= CARD_BLOCKS, "a chain visits each block once at most");
        contents[file.slot] = card_chain_bytes(card, chain);
        analyse_save(contents[file.slot], std::nullopt, card_file_name(file));
        std::size_t slot = 0;
        std::string reason;
        if (card_find_entry(card, layout, "#" + std::to_string(file.slot), slot, reason))
            require(slot == file.slot, "#N names slot N");
        card_output_name(card_file_name(file));
    }
    return contents;
}

void try_changes(const card_image& card, const card_layout& layout, const card_report& report,
                 const std::map<std::size_t, std::vector<std::uint8_t>>& contents) {
    std::string reason;
    // A file can be removed where the root may be written through; where it
    // may not, the refusal changes nothing.
    std::string unsound;
    if (!contents.empty() && !card_layout_sound(card, layout, unsound)) {
        card_image removed = card;
        require(!card_remove(removed, contents.begin()->first, reason) && reason == unsound &&
                    removed.bytes == card.bytes,
                "nothing is removed through a root the card contradicts");
    } else if (!contents.empty()) {
        card_image removed = card;
        require(card_remove(removed, contents.begin()->first, reason), "a file can be removed");
        card_layout again;
        require(card_read_layout(removed, again, reason), "a card stays a card after remove");
        card_check(removed);
    }
    card_image packed = card;
    if (!card_defrag(packed, reason))
        return;
    require(report.errors.empty() && report.lost_blocks.empty(), "only a clean card is packed");
    const card_report after = card_check(packed);
    require(after.errors.empty() && after.lost_blocks.empty(), "a packed card is clean");
    for (const auto& [slot, bytes] : contents) {
        const card_file file = card_read_entry(packed, layout, slot);
        require(card_chain_bytes(packed, card_follow_chain(packed, layout, file.first_block,
                                                           file.blocks)) == bytes,
                "packing keeps every file's bytes");
    }
}

void try_repair(const card_image& card, const card_report& report) {
    card_image repaired = card;
    card_repair_report done;
    std::string reason;
    if (!card_repair(repaired, done, reason))
        return;
    for (const std::string& error : card_check(repaired).errors) {
        require(std::find(report.errors.begin(), report.errors.end(), error) != report.errors.end(),
                "a repair adds no error");
    }
    // A second run may free the lost blocks the first kept for a file it cut
    // short, and nothing else; a third changes nothing.
    card_image freed = repaired;
    card_layout layout;
    require(card_read_layout(freed, layout, reason), "a repaired card stays a card");
    for (const std::uint16_t block : card_check(repaired).lost_blocks)
        card_set_fat(freed, layout, block, FAT_FREE);
    card_image second = repaired;
    card_repair_report again;
    require(card_repair(second, again, reason), "a repaired card can be repaired again");
    require(second.bytes == repaired.bytes || second.bytes == freed.bytes,
            "a second repair frees only lost blocks");
    const card_image third_before = second;
    require(card_repair(second, again, reason) && again.mended.empty() &&
                second.bytes == third_before.bytes,
            "a third repair changes nothing");
}

constexpr std::size_t LIE_SIZE = 3;
constexpr std::size_t MOST_LIES = 3;
constexpr std::size_t LIE_FIELDS[] = {0x46, 0x4A, 0x4C, 0x50, 0x56};

// The card with the lies of `tail` told in its root.
card_image lying(const card_image& card, std::span<const std::uint8_t> tail) {
    card_image told = card;
    for (std::size_t at = 0; at + LIE_SIZE <= tail.size() && at < MOST_LIES * LIE_SIZE;
         at += LIE_SIZE) {
        const std::size_t offset =
            CARD_ROOT_BLOCK * CARD_BLOCK_SIZE + LIE_FIELDS[tail[at] % std::size(LIE_FIELDS)];
        told.bytes[offset] = tail[at + 1];
        told.bytes[offset + 1] = tail[at + 2];
    }
    return told;
}

void keeps_rule(const card_image& before, const card_layout& truth, const card_image& after,
                const card_change_owns& owns) {
    const std::string fault = card_untouched_fault(before, truth, after, owns);
    if (!fault.empty())
        std::fprintf(stderr, "%s\n", fault.c_str());
    require(fault.empty(), "a writer keeps what it does not own, whatever the root says");
}

// Every writer on the lying card, judged against the truth, `card`. Add and
// defrag only where the truth is clean, as vmurx-card runs them: a file
// added into a free block that a broken chain runs into changes that chain.
void try_lies(const card_image& card, const card_layout& truth, const card_report& report,
              std::span<const std::uint8_t> tail) {
    const card_image told = lying(card, tail);
    const bool clean = report.errors.empty();
    std::string reason;
    card_layout layout;
    if (card_read_layout(told, layout, reason)) {
        const std::vector<card_file> files = card_files(told, layout);
        if (!files.empty()) {
            card_image removed = told;
            card_change_owns owns;
            owns.slot = files.front().slot;
            if (card_remove(removed, files.front().slot, reason))
                keeps_rule(told, truth, removed, owns);
        }
    }
    if (clean) {
        for (const bool game : {false, true}) {
            card_image added = told;
            card_change_owns owns;
            owns.blocks = card_free_blocks(card, truth);
            card_new_file file{game ? "FUZZGAME" : "FUZZDATA",
                               game,
                               false,
                               {2002, 3, 4, 5, 6, 7},
                               std::vector<std::uint8_t>(3 * CARD_BLOCK_SIZE + 7, 0xA5)};
            std::size_t slot = 0;
            if (card_add(added, file, slot, reason))
                keeps_rule(told, truth, added, owns);
        }
        card_image packed = told;
        card_change_owns owns;
        owns.blocks = card_free_blocks(card, truth);
        const auto held = card_file_blocks(card, truth);
        for (std::size_t block = 0; block < CARD_BLOCKS; ++block)
            owns.blocks[block] = owns.blocks[block] || held[block];
        owns.moves = true;
        if (card_defrag(packed, reason))
            keeps_rule(told, truth, packed, owns);
    }
    card_image repaired = told;
    card_repair_report done;
    card_change_owns owns;
    owns.mends = true;
    if (card_repair(repaired, done, reason))
        keeps_rule(told, truth, repaired, owns);
}

// Where a 16-bit field of the card lies in the file: as it is, or with every
// four bytes reversed (the Nexus order).
void put_field(std::uint8_t* data, std::size_t offset, std::uint16_t value, bool nexus) {
    const auto at = [&](std::size_t byte) {
        return nexus ? (byte & ~std::size_t{3}) + 3 - byte % 4 : byte;
    };
    data[at(offset)] = static_cast<std::uint8_t>(value);
    data[at(offset + 1)] = static_cast<std::uint8_t>(value >> 8);
}

// A value near where a block number or count turns wrong.
std::uint16_t boundary_value(std::minstd_rand& random) {
    static constexpr std::uint16_t values[] = {
        0,   1,   2,   5,   12,  13,  127, 128, 129, 198,    199,    200,    201,   240,
        241, 242, 252, 253, 254, 255, 256, 257, 300, 0x0100, 0xFFFA, 0xFFFC, 0xFFFF};
    if (random() % 4 == 0)
        return static_cast<std::uint16_t>(random());
    return values[random() % std::size(values)];
}

}  // namespace

extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t max_size);

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                               std::size_t max_size, unsigned int seed) {
    std::minstd_rand random(seed);
    if (size < CARD_SIZE || random() % 2 == 0)
        return LLVMFuzzerMutate(data, size, max_size);
    // A quarter of the time a lie for the root, past the card.
    const std::size_t lies = random() % 4 == 0 ? 1 + random() % MOST_LIES : 0;
    if (lies > 0 && CARD_SIZE + lies * LIE_SIZE <= max_size) {
        for (std::size_t i = 0; i < lies; ++i) {
            std::uint8_t* lie = data + CARD_SIZE + i * LIE_SIZE;
            const std::uint16_t value = boundary_value(random);
            lie[0] = static_cast<std::uint8_t>(random());
            lie[1] = static_cast<std::uint8_t>(value);
            lie[2] = static_cast<std::uint8_t>(value >> 8);
        }
        return CARD_SIZE + lies * LIE_SIZE;
    }
    constexpr std::size_t ROOT = CARD_ROOT_BLOCK * CARD_BLOCK_SIZE;
    // The root's FAT block, directory block and size, user blocks, largest
    // game; the first block and size of an entry of a standard directory; an
    // entry of a standard FAT.
    const std::size_t entry = (241 + random() % 13) * CARD_BLOCK_SIZE + random() % 16 * 32;
    const std::size_t offsets[] = {
        ROOT + 0x46,  ROOT + 0x4A,
        ROOT + 0x4C,  ROOT + 0x50,
        ROOT + 0x56,  entry + 0x02,
        entry + 0x18, 254 * CARD_BLOCK_SIZE + 2 * (random() % CARD_BLOCKS)};
    put_field(data, offsets[random() % std::size(offsets)], boundary_value(random),
              random() % 4 == 0);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    card_image card;
    std::string reason;
    if (!card_from_file(std::span<const std::uint8_t>(data, size), card, reason))
        require(!reason.empty(), "a refusal says why");

    std::vector<std::uint8_t> bytes(data, data + std::min(size, CARD_SIZE));
    bytes.resize(CARD_SIZE, 0);
    if (!card_from_file(bytes, card, reason))
        return 0;  // the compressed container's mark
    require(card_to_file(card) == bytes, "a card writes back to its own bytes");

    const card_report report = card_check(card);
    card_layout layout;
    if (!card_read_layout(card, layout, reason)) {
        require(report.errors.size() == 1 && report.errors.front() == reason,
                "an unreadable root is check's only error");
        return 0;
    }
    require(layout.user_end <= CARD_ROOT_BLOCK, "the user area lies below the root");
    try_changes(card, layout, report, list_files(card, layout));
    try_repair(card, report);
    if (card_layout_sound(card, layout, reason))
        try_lies(card, layout, report,
                 std::span<const std::uint8_t>(data, size).subspan(std::min(size, CARD_SIZE)));
    return 0;
}
