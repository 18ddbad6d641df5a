// Reading and writing save headers, the data file CRC, and telling intact
// files from damaged ones.
#include "save/save_header.h"

#include <algorithm>

#include "files/text.h"

std::uint16_t get_u16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t get_u32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(get_u16(bytes, offset)) |
           static_cast<std::uint32_t>(get_u16(bytes, offset + 2)) << 16;
}

void put_u16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put_u32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    put_u16(bytes, offset, static_cast<std::uint16_t>(value));
    put_u16(bytes, offset + 2, static_cast<std::uint16_t>(value >> 16));
}

std::optional<save_header> read_save_header(std::span<const std::uint8_t> file,
                                            std::size_t offset) {
    if (offset > file.size() || file.size() - offset < SAVE_HEADER_SIZE)
        return std::nullopt;
    const auto h = file.subspan(offset, SAVE_HEADER_SIZE);
    save_header header;
    std::copy_n(h.begin(), 16, header.description.begin());
    std::copy_n(h.begin() + 0x10, 32, header.boot_description.begin());
    std::copy_n(h.begin() + 0x30, 16, header.application.begin());
    header.icon_count = get_u16(h, 0x40);
    header.icon_speed = get_u16(h, 0x42);
    header.eyecatch_type = get_u16(h, 0x44);
    header.crc = get_u16(h, CRC_OFFSET);
    header.payload_length = get_u32(h, 0x48);
    for (std::size_t i = 0; i < 16; ++i)
        header.palette[i] = get_u16(h, 0x60 + 2 * i);
    return header;
}

bool write_save_header(std::span<std::uint8_t> file, std::size_t offset,
                       const save_header& header) {
    if (offset > file.size() || file.size() - offset < SAVE_HEADER_SIZE)
        return false;
    const auto h = file.subspan(offset, SAVE_HEADER_SIZE);
    std::copy(header.description.begin(), header.description.end(), h.begin());
    std::copy(header.boot_description.begin(), header.boot_description.end(), h.begin() + 0x10);
    std::copy(header.application.begin(), header.application.end(), h.begin() + 0x30);
    put_u16(h, 0x40, header.icon_count);
    put_u16(h, 0x42, header.icon_speed);
    put_u16(h, 0x44, header.eyecatch_type);
    put_u16(h, CRC_OFFSET, header.crc);
    put_u32(h, 0x48, header.payload_length);
    for (std::size_t i = 0; i < 16; ++i)
        put_u16(h, 0x60 + 2 * i, header.palette[i]);
    return true;
}

bool header_is_plausible(const save_header& header) {
    return header.icon_count >= 1 && header.icon_count <= 3 && header.eyecatch_type <= 3;
}

std::size_t eyecatch_size(std::uint16_t type) {
    constexpr std::size_t PIXELS = std::size_t{72} * 56;
    switch (type) {
        case 1:
            return PIXELS * 2;  // ARGB4444
        case 2:
            return 512 + PIXELS;  // 256-colour palette, a byte a pixel
        case 3:
            return 32 + PIXELS / 2;  // 16-colour palette, a nibble a pixel
        default:
            return 0;
    }
}

std::size_t header_extent(const save_header& header) {
    return SAVE_HEADER_SIZE + SAVE_ICON_SIZE * header.icon_count +
           eyecatch_size(header.eyecatch_type);
}

std::size_t crc_range(const save_header& header) {
    return header_extent(header) + header.payload_length;
}

std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc) {
    for (std::uint8_t byte : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

std::uint16_t data_file_crc(std::span<const std::uint8_t> file, std::size_t length) {
    length = std::min(length, file.size());
    if (length <= CRC_OFFSET)
        return crc16(file.first(length));
    const std::uint8_t zeros[2] = {0, 0};
    std::uint16_t crc = crc16(file.first(CRC_OFFSET));
    crc = crc16(std::span(zeros).first(std::min<std::size_t>(2, length - CRC_OFFSET)), crc);
    if (length > CRC_OFFSET + 2)
        crc = crc16(file.subspan(CRC_OFFSET + 2, length - CRC_OFFSET - 2), crc);
    return crc;
}

const char* verdict_name(save_verdict verdict) {
    switch (verdict) {
        case save_verdict::intact:
            return "intact";
        case save_verdict::checksum_mismatch:
            return "checksum-mismatch";
        case save_verdict::truncated:
            return "truncated";
        default:
            return "not-a-save";
    }
}

const char* kind_name(save_kind kind) {
    switch (kind) {
        case save_kind::data:
            return "data";
        case save_kind::game:
            return "game";
        default:
            return "icondata";
    }
}

std::optional<icondata_header> read_icondata_header(std::span<const std::uint8_t> file) {
    if (file.size() < 0x18)
        return std::nullopt;
    icondata_header header;
    std::copy_n(file.begin(), 16, header.description.begin());
    header.mono_offset = get_u32(file, 0x10);
    header.colour_offset = get_u32(file, 0x14);
    return header;
}

namespace {

bool fits(std::span<const std::uint8_t> file, std::uint32_t offset, std::size_t size) {
    return offset <= file.size() && file.size() - offset >= size;
}

save_analysis analyse_icondata(std::span<const std::uint8_t> file) {
    save_analysis result;
    result.kind = save_kind::icondata;
    const auto header = read_icondata_header(file);
    if (!header) {
        result.verdict = save_verdict::truncated;
        result.reason = "the icon file ends inside its header";
        return result;
    }
    result.verdict = save_verdict::intact;
    const bool has_mono = header->mono_offset != 0;
    const bool has_colour = header->colour_offset != 0;
    if (!has_mono && !has_colour)
        result.problems.push_back("the icon file names no icon");
    if ((has_mono && !fits(file, header->mono_offset, ICONDATA_MONO_SIZE)) ||
        (has_colour && !fits(file, header->colour_offset, ICONDATA_COLOUR_SIZE))) {
        result.verdict = save_verdict::truncated;
        result.reason = "an icon lies beyond the end of the file";
    }
    return result;
}

// The kind of save the file is: the declared one, unless the other kind's
// header is there instead (reported in `result`, not obeyed); without a
// declaration, the kind whose header is plausible, data first. Nothing, with
// the reason in `result`, when neither header is.
std::optional<save_kind> choose_kind(std::span<const std::uint8_t> file,
                                     std::optional<save_kind> declared, bool data_ok, bool game_ok,
                                     save_analysis& result) {
    if (declared) {
        const bool says_data = declared == save_kind::data;
        if (says_data ? !data_ok && game_ok : !game_ok && data_ok) {
            result.problems.push_back(std::string("the descriptor says ") + kind_name(*declared) +
                                      ", but the header is a " + (says_data ? "game" : "data") +
                                      " file's");
            return says_data ? save_kind::game : save_kind::data;
        }
        return declared;
    }
    if (data_ok)
        return save_kind::data;
    if (game_ok)
        return save_kind::game;
    result.reason = file.size() < SAVE_HEADER_SIZE ? "too short for a save header"
                                                   : "no save header at 0 or 0x200";
    return std::nullopt;
}

// A game file is whole when its header, icons and eyecatch are there.
void check_game(std::span<const std::uint8_t> file, const save_header& header,
                save_analysis& result) {
    if (header.crc != 0)
        result.problems.push_back("a game file with a nonzero CRC field");
    const std::size_t end = GAME_HEADER_OFFSET + header_extent(header);
    if (end > file.size()) {
        result.verdict = save_verdict::truncated;
        result.reason = "header, icons and eyecatch need " + std::to_string(end) +
                        " bytes, the file has " + std::to_string(file.size());
    } else {
        result.verdict = save_verdict::intact;
    }
}

// A data file is whole when its checksum's range is there and matches; more
// than a block beyond the range is more than padding.
void check_data(std::span<const std::uint8_t> file, const save_header& header,
                save_analysis& result) {
    const std::size_t range = crc_range(header);
    result.crc = crc_check{header.crc, data_file_crc(file, range)};
    if (range > file.size()) {
        result.verdict = save_verdict::truncated;
        result.reason = "the checksum covers " + std::to_string(range) + " bytes, the file has " +
                        std::to_string(file.size());
    } else if (!result.crc->ok()) {
        result.verdict = save_verdict::checksum_mismatch;
        result.reason = "the stored CRC " + hex_number(result.crc->stored, 4) +
                        " differs from the computed " + hex_number(result.crc->computed, 4);
    } else {
        result.verdict = save_verdict::intact;
    }
    if (range <= file.size() && file.size() - range >= IMAGE_BLOCK_SIZE) {
        result.problems.push_back(std::to_string(file.size() - range) +
                                  " bytes beyond the checksum's range, more than padding");
    }
}

}  // namespace

save_analysis analyse_save(std::span<const std::uint8_t> file, std::optional<save_kind> declared,
                           const std::string& card_name) {
    if (declared == save_kind::icondata || (!declared && card_name == ICONDATA_NAME))
        return analyse_icondata(file);

    save_analysis result;
    const auto at_data = read_save_header(file, 0);
    const auto at_game = read_save_header(file, GAME_HEADER_OFFSET);
    const std::optional<save_kind> kind =
        choose_kind(file, declared, at_data && header_is_plausible(*at_data),
                    at_game && header_is_plausible(*at_game), result);
    if (!kind)
        return result;
    const std::size_t offset = kind == save_kind::game ? GAME_HEADER_OFFSET : 0;
    const auto& header = kind == save_kind::game ? at_game : at_data;
    result.header_offset = offset;

    if (!header) {
        // Only a declared kind gets here: the descriptor names a save, so a
        // file too short for its header is a truncated one.
        result.kind = kind;
        result.verdict = save_verdict::truncated;
        result.reason = "the file ends inside its header";
        return result;
    }
    if (!header_is_plausible(*header)) {
        result.reason = "the " + std::string(kind_name(*kind)) + " file's header at " +
                        (offset == 0 ? "0" : "0x200") + " is not valid (" +
                        std::to_string(header->icon_count) + " icons, eyecatch type " +
                        std::to_string(header->eyecatch_type) + ")";
        return result;
    }
    result.kind = kind;
    result.header = header;
    if (kind == save_kind::game)
        check_game(file, *header, result);
    else
        check_data(file, *header, result);
    return result;
}
