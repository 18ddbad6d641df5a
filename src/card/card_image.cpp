// Reading a card image: its byte order, its root, FAT, directory and chains.
#include "card/card_image.h"

#include <algorithm>
#include <cstring>

#include "files/text.h"
#include "save/containers.h"
#include "save/save_header.h"

namespace {

constexpr std::size_t ROOT_OFFSET = CARD_ROOT_BLOCK * CARD_BLOCK_SIZE;
constexpr std::size_t ROOT_USER_BLOCKS = 0x50;  // the root's count of user blocks
constexpr std::size_t MARK_SIZE = 16;
constexpr std::uint8_t MARK_BYTE = 0x55;
// One emulator's own gzip container starts with these 16 bytes.
constexpr char CONTAINER_MAGIC[] = "%!Dreamcast$VMU";

std::span<const std::uint8_t> root_of(std::span<const std::uint8_t> bytes) {
    return bytes.subspan(ROOT_OFFSET, CARD_BLOCK_SIZE);
}

// Whether the root's FAT and directory fields lie on the card when the bytes
// are read in this order: only one of the two orders gives such values.
bool fields_in_range(std::span<const std::uint8_t> root) {
    const std::uint16_t fat = get_u16(root, 0x46);
    const std::uint16_t directory = get_u16(root, 0x4A);
    const std::uint16_t directory_size = get_u16(root, 0x4C);
    return fat < CARD_BLOCKS && directory < CARD_BLOCKS && directory_size >= 1 &&
           directory_size <= CARD_BLOCKS;
}

bool chain_runs_down(const card_image& card, const card_layout& layout, std::size_t from,
                     std::size_t to) {
    for (std::size_t block = from; block > to; --block) {
        if (card_fat(card, layout, block) != block - 1)
            return false;
    }
    return card_fat(card, layout, to) == FAT_END;
}

// The directory's blocks as the root names them, highest first, into
// `layout` (whose FAT block is read): false with the reason when they lie
// outside the card or take the root's or the FAT's block.
bool read_directory(const card_image& card, std::span<const std::uint8_t> root, card_layout& layout,
                    std::string& reason) {
    const std::size_t named = get_u16(root, 0x4A);
    const std::size_t size = get_u16(root, 0x4C);
    const bool down_fits = size >= 1 && named < CARD_BLOCKS && named + 1 >= size;
    const bool up_fits = size >= 1 && named + size <= CARD_BLOCKS;
    if (!down_fits && !up_fits) {
        reason = "the directory (" + std::to_string(size) + " blocks from block " +
                 std::to_string(named) + ") lies outside the card";
        return false;
    }
    // Some cards name the directory by its lowest block; the system chain,
    // which always runs from the highest block down, tells.
    std::size_t highest = named;
    if (up_fits && size > 1 &&
        (!down_fits || !chain_runs_down(card, layout, named, named + 1 - size)) &&
        chain_runs_down(card, layout, named + size - 1, named)) {
        highest = named + size - 1;
        layout.directory_from_lowest = true;
    } else if (!down_fits) {
        // Only read upward would it fit, and its chain does not run so:
        // downward from the block named it would leave the card.
        reason = "the directory (" + std::to_string(size) + " blocks down from block " +
                 std::to_string(named) + ") lies outside the card";
        return false;
    }
    for (std::size_t i = 0; i < size; ++i)
        layout.directory.push_back(static_cast<std::uint16_t>(highest - i));
    // Entries written there would overwrite the root or the FAT.
    for (const std::uint16_t block : layout.directory) {
        if (block == CARD_ROOT_BLOCK || block == layout.fat_block) {
            reason = "the directory (" + std::to_string(size) + (size == 1 ? " block" : " blocks") +
                     " from block " + std::to_string(named) + ") takes block " +
                     std::to_string(block) + " of the " +
                     (block == CARD_ROOT_BLOCK ? "root" : "FAT");
            return false;
        }
    }
    return true;
}

}  // namespace

bool card_from_file(std::span<const std::uint8_t> file, card_image& card, std::string& reason) {
    if (file.size() >= MARK_SIZE && std::memcmp(file.data(), CONTAINER_MAGIC, MARK_SIZE) == 0) {
        reason =
            "a compressed container of one emulator, not a card image (let that emulator "
            "export a raw image)";
        return false;
    }
    if (file.size() != CARD_SIZE) {
        reason = "not a card image: " + std::to_string(file.size()) + " bytes, not " +
                 std::to_string(CARD_SIZE);
        return false;
    }
    card.bytes.assign(file.begin(), file.end());
    card.order = card_order::raw;
    if (!fields_in_range(root_of(card.bytes))) {
        std::vector<std::uint8_t> swapped = card.bytes;
        swap_words(swapped);
        if (fields_in_range(root_of(swapped))) {
            card.bytes = std::move(swapped);
            card.order = card_order::dcm;
        }
    }
    return true;
}

std::vector<std::uint8_t> card_to_file(const card_image& card) {
    std::vector<std::uint8_t> bytes = card.bytes;
    if (card.order == card_order::dcm)
        swap_words(bytes);
    return bytes;
}

bool card_has_mark(const card_image& card) {
    const auto root = root_of(card.bytes);
    return std::all_of(root.begin(), root.begin() + MARK_SIZE,
                       [](std::uint8_t b) { return b == MARK_BYTE; });
}

bool card_read_layout(const card_image& card, card_layout& layout, std::string& reason) {
    layout = {};
    if (!card_has_mark(card)) {
        reason = "no format mark in block 255: not a formatted card";
        return false;
    }
    const auto root = root_of(card.bytes);
    const std::uint16_t fat = get_u16(root, 0x46);
    if (fat >= CARD_BLOCKS) {
        reason = "the FAT (block " + std::to_string(fat) + ") lies outside the card";
        return false;
    }
    // Its entries would be the root's own fields, the format mark first.
    if (fat == CARD_ROOT_BLOCK) {
        reason = "the FAT takes block 255 of the root";
        return false;
    }
    layout.fat_block = fat;
    if (!read_directory(card, root, layout, reason))
        return false;

    layout.user_blocks = get_u16(root, ROOT_USER_BLOCKS);
    // The directory's blocks run down from the highest: its last is the lowest.
    const std::size_t lowest_system = std::min<std::size_t>(fat, layout.directory.back());
    layout.user_end = static_cast<std::uint16_t>(std::min<std::size_t>(
        {layout.user_blocks, lowest_system, static_cast<std::size_t>(CARD_ROOT_BLOCK)}));
    const std::uint16_t max_game = get_u16(root, 0x56);
    layout.max_game = max_game == 0 ? CARD_DEFAULT_MAX_GAME : max_game;
    layout.icon_shape = root[0x4E];
    if (root[0x10] == 1)
        layout.colour = std::array<std::uint8_t, 4>{root[0x13], root[0x12], root[0x11], root[0x14]};
    layout.stamp = stamp_from_bcd(root.subspan<0x30, STAMP_BCD_SIZE>());
    if (layout.stamp && !stamp_is_valid(*layout.stamp))
        layout.stamp.reset();
    return true;
}

namespace {

std::string blocks_text(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " block" : " blocks");
}

std::string fat_named(const card_layout& layout) {
    return "the FAT the root names (field 0x46: block " + std::to_string(layout.fat_block) + ")";
}

std::string directory_named(const card_image& card) {
    const auto root = root_of(card.bytes);
    return "the directory the root names (fields 0x4A and 0x4C: " +
           blocks_text(get_u16(root, 0x4C)) + " from block " + std::to_string(get_u16(root, 0x4A)) +
           ")";
}

// The system chain as the FAT holds it: the root's block and the FAT's each
// end a chain of their own, the directory's run from its highest down.
bool agrees_with_chain(const card_image& card, const card_layout& layout, std::string& reason) {
    const auto disagrees = [&](const std::string& named, std::size_t block, std::uint16_t next) {
        const std::uint16_t found = card_fat(card, layout, block);
        if (found == next)
            return false;
        reason = named + " disagrees with the system chain: block " + std::to_string(block) +
                 "'s FAT entry is " + hex_number(found, 4) + ", not " + hex_number(next, 4);
        return true;
    };
    if (disagrees(fat_named(layout), CARD_ROOT_BLOCK, FAT_END) ||
        disagrees(fat_named(layout), layout.fat_block, FAT_END))
        return false;
    const auto& dir = layout.directory;
    for (std::size_t i = 0; i < dir.size(); ++i) {
        if (disagrees(directory_named(card), dir[i], i + 1 < dir.size() ? dir[i + 1] : FAT_END))
            return false;
    }
    return true;
}

}  // namespace

bool card_layout_sound(const card_image& card, const card_layout& layout, std::string& reason) {
    if (!agrees_with_chain(card, layout, reason))
        return false;
    // The system blocks are the top of the card: a root that leaves a block
    // out among them hides part of the directory or names the wrong one.
    const std::vector<std::uint16_t> blocks = card_system_blocks(layout);
    std::array<bool, CARD_BLOCKS> system{};
    for (const std::uint16_t block : blocks)
        system[block] = true;
    const std::size_t lowest = *std::min_element(blocks.begin(), blocks.end());
    for (std::size_t block = lowest; block < CARD_BLOCKS; ++block) {
        if (!system[block]) {
            const auto root = root_of(card.bytes);
            reason = "the FAT and the directory the root names (fields 0x46: block " +
                     std::to_string(layout.fat_block) +
                     "; 0x4A and 0x4C: " + blocks_text(get_u16(root, 0x4C)) + " from block " +
                     std::to_string(get_u16(root, 0x4A)) + ") leave block " +
                     std::to_string(block) + " out of the system blocks from " +
                     std::to_string(lowest) + " to 255";
            return false;
        }
    }
    // Past the console's 200 blocks, or past a smaller count of the root's.
    const std::size_t user = std::min<std::size_t>(layout.user_blocks, CARD_STANDARD_USER_BLOCKS);
    if (lowest < user) {
        reason = (lowest == layout.fat_block ? fat_named(layout) : directory_named(card)) +
                 " takes block " + std::to_string(lowest) + " of the user area (blocks 0 to " +
                 std::to_string(user - 1) + ")";
        return false;
    }
    // A file whose chain runs on into a system block is that file's damage:
    // the writers spare the system blocks (remove frees none of them), and
    // check says which file it is.
    return true;
}

bool card_read_layout_to_write(const card_image& card, card_layout& layout, std::string& reason) {
    return card_read_layout(card, layout, reason) && card_layout_sound(card, layout, reason);
}

void card_set_user_blocks(card_image& card, std::uint16_t blocks) {
    put_u16(card_block(card, CARD_ROOT_BLOCK), ROOT_USER_BLOCKS, blocks);
}

std::uint16_t card_fat(const card_image& card, const card_layout& layout, std::size_t block) {
    return get_u16(card.bytes, layout.fat_block * CARD_BLOCK_SIZE + 2 * block);
}

void card_set_fat(card_image& card, const card_layout& layout, std::size_t block,
                  std::uint16_t value) {
    put_u16(card.bytes, layout.fat_block * CARD_BLOCK_SIZE + 2 * block, value);
}

std::vector<std::uint16_t> card_system_blocks(const card_layout& layout) {
    std::vector<std::uint16_t> blocks{CARD_ROOT_BLOCK, layout.fat_block};
    blocks.insert(blocks.end(), layout.directory.begin(), layout.directory.end());
    return blocks;
}

std::size_t card_slot_count(const card_layout& layout) {
    return layout.directory.size() * CARD_ENTRIES_PER_BLOCK;
}

namespace {

std::size_t entry_offset(const card_layout& layout, std::size_t slot) {
    return layout.directory[slot / CARD_ENTRIES_PER_BLOCK] * CARD_BLOCK_SIZE +
           slot % CARD_ENTRIES_PER_BLOCK * CARD_ENTRY_SIZE;
}

}  // namespace

card_file card_read_entry(const card_image& card, const card_layout& layout, std::size_t slot) {
    const auto e = std::span<const std::uint8_t>(card.bytes)
                       .subspan(entry_offset(layout, slot), CARD_ENTRY_SIZE);
    card_file file;
    file.slot = slot;
    file.type = e[0x00];
    file.protection = e[0x01];
    file.first_block = get_u16(e, 0x02);
    std::copy_n(e.begin() + 0x04, CARD_NAME_SIZE, file.name.begin());
    std::copy_n(e.begin() + 0x10, file.stamp.size(), file.stamp.begin());
    file.blocks = get_u16(e, 0x18);
    file.header_block = get_u16(e, 0x1A);
    std::copy_n(e.begin() + 0x1C, file.reserved.size(), file.reserved.begin());
    return file;
}

void card_put_entry(card_image& card, const card_layout& layout, const card_file& file) {
    const auto e = std::span<std::uint8_t>(card.bytes)
                       .subspan(entry_offset(layout, file.slot), CARD_ENTRY_SIZE);
    e[0x00] = file.type;
    e[0x01] = file.protection;
    put_u16(e, 0x02, file.first_block);
    std::copy(file.name.begin(), file.name.end(), e.begin() + 0x04);
    std::copy(file.stamp.begin(), file.stamp.end(), e.begin() + 0x10);
    put_u16(e, 0x18, file.blocks);
    put_u16(e, 0x1A, file.header_block);
    std::copy(file.reserved.begin(), file.reserved.end(), e.begin() + 0x1C);
}

void card_clear_entry(card_image& card, const card_layout& layout, std::size_t slot) {
    const auto at = card.bytes.begin() + static_cast<std::ptrdiff_t>(entry_offset(layout, slot));
    std::fill(at, at + CARD_ENTRY_SIZE, 0);
}

std::vector<card_file> card_files(const card_image& card, const card_layout& layout) {
    std::vector<card_file> files;
    for (std::size_t slot = 0; slot < card_slot_count(layout); ++slot) {
        card_file file = card_read_entry(card, layout, slot);
        if (file.type != CARD_TYPE_NONE)
            files.push_back(file);
    }
    return files;
}

std::string card_file_name(const card_file& file) {
    std::string name(file.name.begin(), file.name.end());
    while (!name.empty() && name.back() == '\0')
        name.pop_back();
    return name;
}

std::optional<save_stamp> card_file_stamp(const card_file& file) {
    auto stamp = stamp_from_bcd(std::span<const std::uint8_t>(file.stamp).first<STAMP_BCD_SIZE>());
    if (!stamp || !stamp_is_valid(*stamp))
        return std::nullopt;
    return stamp;
}

std::array<std::uint8_t, 8> card_stamp_bytes(const save_stamp& stamp) {
    std::array<std::uint8_t, 8> bytes{};
    stamp_to_bcd(stamp, std::span<std::uint8_t>(bytes).first<STAMP_BCD_SIZE>());
    bytes[STAMP_BCD_SIZE] = stamp_weekday_bcd(stamp);
    return bytes;
}

card_chain card_follow_chain(const card_image& card, const card_layout& layout, std::uint16_t first,
                             std::size_t expected) {
    card_chain chain;
    std::array<bool, CARD_BLOCKS> seen{};
    std::size_t block = first;
    while (true) {
        if (block >= CARD_BLOCKS) {
            chain.fault =
                chain.blocks.empty()
                    ? "the first block " + std::to_string(block) + " lies outside the card"
                    : "the chain leaves the card after block " +
                          std::to_string(chain.blocks.back()) + " (next " +
                          hex_number(static_cast<unsigned>(block), 4) + ")";
            chain.kind = chain.blocks.empty() ? card_chain_fault::first_outside
                                              : card_chain_fault::leaves_card;
            return chain;
        }
        const std::uint16_t next = card_fat(card, layout, block);
        if (next == FAT_FREE || next == FAT_DAMAGED) {
            chain.fault = std::string("the chain enters ") +
                          (next == FAT_FREE ? "the free" : "the damaged") + " block " +
                          std::to_string(block);
            chain.kind = card_chain_fault::enters_free;
            return chain;
        }
        if (seen[block]) {
            chain.fault = "the chain loops back to block " + std::to_string(block);
            chain.kind = card_chain_fault::loops;
            return chain;
        }
        seen[block] = true;
        chain.blocks.push_back(static_cast<std::uint16_t>(block));
        if (next == FAT_END)
            break;
        block = next;
    }
    if (chain.blocks.size() != expected) {
        chain.fault = "the chain has " + std::to_string(chain.blocks.size()) +
                      " blocks, the entry says " + std::to_string(expected);
        chain.kind = card_chain_fault::wrong_length;
    }
    return chain;
}

std::vector<std::uint8_t> card_chain_bytes(const card_image& card, const card_chain& chain) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(chain.blocks.size() * CARD_BLOCK_SIZE);
    for (const std::uint16_t block : chain.blocks) {
        const auto b = card_block(card, block);
        bytes.insert(bytes.end(), b.begin(), b.end());
    }
    return bytes;
}

std::span<std::uint8_t, CARD_BLOCK_SIZE> card_block(card_image& card, std::size_t block) {
    return std::span<std::uint8_t>(card.bytes)
        .subspan(block * CARD_BLOCK_SIZE)
        .first<CARD_BLOCK_SIZE>();
}

std::span<const std::uint8_t, CARD_BLOCK_SIZE> card_block(const card_image& card,
                                                          std::size_t block) {
    return std::span<const std::uint8_t>(card.bytes)
        .subspan(block * CARD_BLOCK_SIZE)
        .first<CARD_BLOCK_SIZE>();
}
