// Fuzz target for the card reader: any bytes are refused or read as a card;
// the input cut or padded to a card's size is then read, listed and checked,
// which must terminate and never crash, and its changes must keep what
// holds: a card writes back to its own bytes, a removed file leaves a
// readable card, a packed card is clean with every file's bytes kept, and a
// repaired card has no more errors than before, a second repair frees at
// most the lost blocks the first kept, and a third changes nothing.
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
    if (!contents.empty()) {
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
    if (size != CARD_SIZE || random() % 2 == 0)
        return LLVMFuzzerMutate(data, size, max_size);
    constexpr std::size_t ROOT = CARD_ROOT_BLOCK * IMAGE_BLOCK_SIZE;
    // The root's FAT block, directory block and size, user blocks, largest
    // game; the first block and size of an entry of a standard directory; an
    // entry of a standard FAT.
    const std::size_t entry = (241 + random() % 13) * IMAGE_BLOCK_SIZE + random() % 16 * 32;
    const std::size_t offsets[] = {
        ROOT + 0x46,  ROOT + 0x4A,
        ROOT + 0x4C,  ROOT + 0x50,
        ROOT + 0x56,  entry + 0x02,
        entry + 0x18, 254 * IMAGE_BLOCK_SIZE + 2 * (random() % CARD_BLOCKS)};
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
    return 0;
}
