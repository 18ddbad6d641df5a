// A whole memory card as emulators and SD-card adapters keep it: 256 blocks of
// 512 bytes, the root in block 255, the FAT and the directory it names. Reads
// the raw image and the Nexus dump order (every four bytes reversed), telling
// the two apart by content, and gives the card's layout, its FAT, its
// directory entries and the chains of blocks they start. Pure functions over
// bytes in memory: a card from anywhere can be fed to them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cable/cable.h"
#include "save/stamp.h"

inline constexpr std::size_t CARD_BLOCK_SIZE = 512;
inline constexpr std::size_t CARD_BLOCKS = 256;
inline constexpr std::size_t CARD_SIZE = CARD_BLOCKS * CARD_BLOCK_SIZE;
inline constexpr std::uint16_t CARD_ROOT_BLOCK = 255;
inline constexpr std::size_t CARD_ENTRY_SIZE = 32;
inline constexpr std::size_t CARD_ENTRIES_PER_BLOCK = CARD_BLOCK_SIZE / CARD_ENTRY_SIZE;
inline constexpr std::size_t CARD_NAME_SIZE = 12;
/// The user area of a card as the console formats it.
inline constexpr std::uint16_t CARD_STANDARD_USER_BLOCKS = 200;
/// The largest game when the root leaves its field 0.
inline constexpr std::uint16_t CARD_DEFAULT_MAX_GAME = 128;

inline constexpr std::uint16_t FAT_FREE = 0xFFFC;
inline constexpr std::uint16_t FAT_END = 0xFFFA;
inline constexpr std::uint16_t FAT_DAMAGED = 0xFFFF;

inline constexpr std::uint8_t CARD_TYPE_NONE = 0x00;
// A directory entry's type byte: the file types the cable carries.
inline constexpr std::uint8_t CARD_TYPE_DATA = CABLE_TYPE_DATA;
inline constexpr std::uint8_t CARD_TYPE_GAME = CABLE_TYPE_GAME;
inline constexpr std::uint8_t CARD_PROTECTED = 0xFF;

/// How a card file keeps its bytes: as on the card, or every four reversed.
enum class card_order { raw, dcm };

struct card_image {
    std::vector<std::uint8_t> bytes;  // CARD_SIZE bytes, always in the card's own order
    card_order order = card_order::raw;
};

/// The card of a card file's bytes, in whichever order they come. False with
/// the reason for anything but CARD_SIZE bytes, and for an emulator's own
/// compressed container.
bool card_from_file(std::span<const std::uint8_t> file, card_image& card, std::string& reason);

/// The bytes of the card's file, in its order.
std::vector<std::uint8_t> card_to_file(const card_image& card);

/// What the root says, with the directory resolved against the FAT.
struct card_layout {
    std::uint16_t fat_block = 254;
    std::vector<std::uint16_t> directory;  // its blocks, highest first (slot 0 in the first)
    bool directory_from_lowest = false;    // the root named the lowest block
    std::uint16_t user_blocks = CARD_STANDARD_USER_BLOCKS;  // as the root says
    std::uint16_t user_end = CARD_STANDARD_USER_BLOCKS;     // first block past the usable user area
    std::uint16_t max_game = CARD_DEFAULT_MAX_GAME;
    std::uint8_t icon_shape = 0;
    std::optional<std::array<std::uint8_t, 4>> colour;  // red, green, blue, alpha when flagged
    std::optional<save_stamp> stamp;                    // the format stamp, when it is a date
};

/// Whether block 255 starts with the format mark.
bool card_has_mark(const card_image& card);

/// The layout of a card; false with the reason when the mark is missing or
/// the FAT or the directory lie outside the card.
bool card_read_layout(const card_image& card, card_layout& layout, std::string& reason);

/// Whether a writer may write through the layout: the FAT and the directory
/// agree with the system chain in the FAT (the root's and the FAT's block
/// each end a chain, the directory's run down from its highest to its end),
/// take with the root every block from the lowest of them to 255, and lie
/// past the user area (the root's count of user blocks, at most the
/// standard 200). A root that names a block of the user area makes every
/// write land in a file, and one the system chain contradicts may hide files
/// whose blocks a write would then take: false with the reason, which names
/// the root's field and its value. The fields alone cannot tell which of the
/// root and the FAT is wrong, so nothing may mend either.
bool card_layout_sound(const card_image& card, const card_layout& layout, std::string& reason);

/// card_read_layout, then card_layout_sound: the layout every writer writes
/// through.
bool card_read_layout_to_write(const card_image& card, card_layout& layout, std::string& reason);

/// Sets the root's count of user blocks (card_layout::user_blocks). The
/// usable user area still ends at the lowest system block: a count up to the
/// directory lets files use the blocks a standard card leaves unused there.
void card_set_user_blocks(card_image& card, std::uint16_t blocks);

std::uint16_t card_fat(const card_image& card, const card_layout& layout, std::size_t block);
void card_set_fat(card_image& card, const card_layout& layout, std::size_t block,
                  std::uint16_t value);

/// The blocks the root, the FAT and the directory take.
std::vector<std::uint16_t> card_system_blocks(const card_layout& layout);

/// A directory entry, its fields as stored.
struct card_file {
    std::size_t slot = 0;
    std::uint8_t type = CARD_TYPE_NONE;
    std::uint8_t protection = 0;
    std::uint16_t first_block = 0;
    std::array<std::uint8_t, CARD_NAME_SIZE> name{};
    std::array<std::uint8_t, 8> stamp{};  // BCD: century, year, ..., second, weekday
    std::uint16_t blocks = 0;
    std::uint16_t header_block = 0;
    std::array<std::uint8_t, 4> reserved{};
};

std::size_t card_slot_count(const card_layout& layout);
card_file card_read_entry(const card_image& card, const card_layout& layout, std::size_t slot);
void card_put_entry(card_image& card, const card_layout& layout, const card_file& file);
void card_clear_entry(card_image& card, const card_layout& layout, std::size_t slot);

/// Every slot in use, in slot order.
std::vector<card_file> card_files(const card_image& card, const card_layout& layout);

/// The name: the 12 bytes with trailing NULs removed.
std::string card_file_name(const card_file& file);

/// The entry's stamp, when it is a date.
std::optional<save_stamp> card_file_stamp(const card_file& file);

/// The eight stamp bytes of an entry or the root: the stamp and its weekday.
std::array<std::uint8_t, 8> card_stamp_bytes(const save_stamp& stamp);

/// How a chain is broken.
/// (enters_free: a free or a damaged block.)
enum class card_chain_fault { none, first_outside, leaves_card, enters_free, loops, wrong_length };

/// The blocks of a chain as followed from its first block, and why it is
/// broken if it is (empty when whole and as long as expected).
struct card_chain {
    std::vector<std::uint16_t> blocks;
    std::string fault;
    card_chain_fault kind = card_chain_fault::none;
};

/// Follows the chain from `first` to its end, stopping where it leaves the
/// card, enters a free or damaged block or loops; `expected` blocks long.
card_chain card_follow_chain(const card_image& card, const card_layout& layout, std::uint16_t first,
                             std::size_t expected);

/// The bytes of the chain's blocks, in chain order.
std::vector<std::uint8_t> card_chain_bytes(const card_image& card, const card_chain& chain);

std::span<std::uint8_t, CARD_BLOCK_SIZE> card_block(card_image& card, std::size_t block);
std::span<const std::uint8_t, CARD_BLOCK_SIZE> card_block(const card_image& card,
                                                          std::size_t block);
