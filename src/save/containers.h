// The two descriptor formats other tools exchange saves in: the 108-byte .VMI
// beside a .VMS, and the .DCI that carries the card's directory entry before
// the file's blocks. Pure functions over bytes in memory.
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

/// Bytes of a fixed-size text field up to the first NUL, trailing spaces
/// removed.
std::string trim_field(std::span<const std::uint8_t> field);

inline constexpr std::size_t VMI_SIZE = 108;
inline constexpr std::uint16_t VMI_MODE_PROTECTED = 0x0001;
inline constexpr std::uint16_t VMI_MODE_GAME = 0x0002;

struct vmi_record {
    std::string description;  // at most 32 bytes
    std::string copyright;    // at most 32 bytes
    save_stamp stamp;
    std::string resource_name;  // the .VMS file's name without ".VMS", at most 8
    std::string card_name;      // at most 12
    std::uint16_t mode = 0;
    std::uint32_t file_size = 0;
};

/// Reads a VMI leniently: odd checksums and paddings become `problems`.
/// Nothing when the bytes are too short.
std::optional<vmi_record> parse_vmi(std::span<const std::uint8_t> bytes,
                                    std::vector<std::string>& problems);

/// The 108 bytes of a VMI; texts padded with NULs, cut to their fields.
std::vector<std::uint8_t> build_vmi(const vmi_record& vmi);

/// The card's directory entry of a file, its fields as its 32 bytes store
/// them: the card's directory holds such entries, and a DCI one before the
/// file's blocks.
inline constexpr std::size_t CARD_ENTRY_SIZE = 32;
inline constexpr std::uint8_t CARD_TYPE_NONE = 0x00;  // a free slot; else TYPE_GAME or TYPE_DATA
inline constexpr std::uint8_t CARD_PROTECTED = 0xFF;

struct directory_entry {
    std::uint8_t type = CARD_TYPE_NONE;
    std::uint8_t protection = 0;  // CARD_PROTECTED: copy-protected
    std::uint16_t first_block = 0;
    std::array<std::uint8_t, NAME_BLOCK_SIZE> name{};
    std::array<std::uint8_t, 8> stamp{};  // BCD: century, year, ..., second, weekday
    std::uint16_t blocks = 0;
    std::uint16_t header_block = 0;  // 0 data, 1 game
    std::array<std::uint8_t, 4> reserved{};
};

directory_entry entry_from_bytes(std::span<const std::uint8_t, CARD_ENTRY_SIZE> bytes);
void entry_to_bytes(const directory_entry& entry, std::span<std::uint8_t, CARD_ENTRY_SIZE> bytes);

/// The name: the 12 bytes with trailing NULs removed.
std::string card_file_name(const directory_entry& entry);

/// The name's 12 bytes for `name`, padded with NULs, cut to 12.
std::array<std::uint8_t, NAME_BLOCK_SIZE> card_name_bytes(const std::string& name);

/// The entry's stamp, when it is a date.
std::optional<save_stamp> card_file_stamp(const directory_entry& entry);

/// The eight stamp bytes of an entry or the root: the stamp and its weekday.
std::array<std::uint8_t, 8> card_stamp_bytes(const save_stamp& stamp);

struct dci_file {
    directory_entry entry;
    std::vector<std::uint8_t> content;  // whole blocks, in the card's byte order
};

/// Reverses every group of four bytes (a trailing partial group stays).
void swap_words(std::span<std::uint8_t> bytes);

/// Reads a DCI leniently: stray bytes after the last whole block, a size
/// that disagrees with the blocks present and unusual bytes become
/// `problems`. Nothing when the entry itself is missing.
std::optional<dci_file> parse_dci(std::span<const std::uint8_t> bytes,
                                  std::vector<std::string>& problems);

/// A DCI of `content`, padded with zeros to whole blocks; the entry's size is
/// theirs, its first block and reserved bytes 0.
std::vector<std::uint8_t> build_dci(const directory_entry& entry,
                                    std::span<const std::uint8_t> content);
