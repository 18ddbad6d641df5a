// The header a save file carries: its descriptions, icons, eyecatch and, in a
// data file, a CRC over the whole file. Everything here reads bytes already
// in memory and never touches the system, so untrusted files can be fed to it
// directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cable/cable.h"

inline constexpr std::size_t SAVE_HEADER_SIZE = 0x80;
inline constexpr std::size_t SAVE_ICON_SIZE = 512;
inline constexpr std::size_t GAME_HEADER_OFFSET = 0x200;
inline constexpr std::size_t CRC_OFFSET = 0x46;
/// The largest file a card transfer carries: the block count is one byte.
inline constexpr std::size_t MAX_CARD_FILE_SIZE = 255 * IMAGE_BLOCK_SIZE;

enum class save_kind { data, game, icondata };

/// The fixed 0x80 bytes of a save header, fields as stored.
struct save_header {
    std::array<std::uint8_t, 16> description{};       // VMU menu, Shift-JIS
    std::array<std::uint8_t, 32> boot_description{};  // boot menu, Shift-JIS
    std::array<std::uint8_t, 16> application{};
    std::uint16_t icon_count = 0;
    std::uint16_t icon_speed = 0;
    std::uint16_t eyecatch_type = 0;
    std::uint16_t crc = 0;
    std::uint32_t payload_length = 0;
    std::array<std::uint16_t, 16> palette{};  // ARGB4444

    friend bool operator==(const save_header&, const save_header&) = default;
};

std::uint16_t get_u16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t get_u32(std::span<const std::uint8_t> bytes, std::size_t offset);
void put_u16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void put_u32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);

/// The header at `offset`, or nothing when the bytes end before it does.
std::optional<save_header> read_save_header(std::span<const std::uint8_t> file, std::size_t offset);

/// Writes the header's fields at `offset`, where read_save_header reads them;
/// the reserved bytes 0x4C-0x5F keep what they hold. False, with nothing
/// written, when the bytes end before the header does.
bool write_save_header(std::span<std::uint8_t> file, std::size_t offset, const save_header& header);

/// Whether a header looks like one: 1 to 3 icons and an eyecatch type 0 to 3.
bool header_is_plausible(const save_header& header);

/// Bytes of an eyecatch of this type (0 for none or an unknown type).
std::size_t eyecatch_size(std::uint16_t type);

/// Header, icons and eyecatch together.
std::size_t header_extent(const save_header& header);

/// CRC-16, polynomial 0x1021, MSB first, continuing from `crc`.
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

/// The CRC of a data file over its first `length` bytes (at most the file's
/// size), with its own two CRC bytes counted as zero.
std::uint16_t data_file_crc(std::span<const std::uint8_t> file, std::size_t length);

/// Bytes a data file's CRC covers.
std::size_t crc_range(const save_header& header);

/// What the bytes of a file say about it: its kind, where its header stands,
/// whether it is whole, and everything odd found on the way.
enum class save_verdict { intact, checksum_mismatch, truncated, not_a_save };

struct crc_check {
    std::uint16_t stored = 0;
    std::uint16_t computed = 0;
    bool ok() const { return stored == computed; }
};

struct save_analysis {
    std::optional<save_kind> kind;  // nothing: not a save
    std::optional<save_header> header;
    std::size_t header_offset = 0;
    std::optional<crc_check> crc;  // data files
    save_verdict verdict = save_verdict::not_a_save;
    std::vector<std::string> problems;
    std::string reason;  // why it failed, in a few words; empty when intact
};

/// Looks at a file's content. `declared` is the kind a descriptor or the user
/// named (data or game), else the kind comes from where a plausible header
/// stands. `card_name` picks the card's icon file layout for ICONDATA_VMS.
save_analysis analyse_save(std::span<const std::uint8_t> file, std::optional<save_kind> declared,
                           const std::string& card_name);

const char* verdict_name(save_verdict verdict);
const char* kind_name(save_kind kind);

/// The card's own icon file: a description, and offsets of a monochrome and
/// a colour icon (0 when absent).
struct icondata_header {
    std::array<std::uint8_t, 16> description{};
    std::uint32_t mono_offset = 0;
    std::uint32_t colour_offset = 0;
};
inline constexpr std::size_t ICONDATA_MONO_SIZE = 128;
inline constexpr std::size_t ICONDATA_COLOUR_SIZE = 32 + 512;
inline constexpr char ICONDATA_NAME[] = "ICONDATA_VMS";

std::optional<icondata_header> read_icondata_header(std::span<const std::uint8_t> file);
