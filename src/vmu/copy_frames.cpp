// What the card's own Copy sends and shows: its screens' words, the frames
// of a file in the cable's order with its trailers, and the directory
// entry's bytes its directory frame carries.
#include <algorithm>
#include <optional>
#include <span>

#include "card/card_place.h"
#include "save/stamp.h"
#include "vmu/copy_card.h"

namespace {

// The payload of frame `index` (of kind `kind`) of `file`.
std::vector<std::uint8_t> payload_of(cable_frame kind, std::size_t index, const vmu_file& file,
                                     const directory_tail& directory) {
    switch (kind) {
        case cable_frame::start:
            return {file.type, static_cast<std::uint8_t>(file.image.size() / IMAGE_BLOCK_SIZE)};
        case cable_frame::name: {
            std::vector<std::uint8_t> name(NAME_BLOCK_SIZE, ' ');
            for (std::size_t i = 0; i < name.size() && i < file.name.size(); ++i)
                name[i] = static_cast<std::uint8_t>(file.name[i]);
            return name;
        }
        case cable_frame::data: {
            // Data frame 2 + 2p carries piece p.
            const auto from =
                file.image.begin() + static_cast<std::ptrdiff_t>((index - 2) / 2 * DATA_BLOCK_SIZE);
            return {from, from + DATA_BLOCK_SIZE};
        }
        case cable_frame::directory:
            return {directory.begin(), directory.end()};
        case cable_frame::flash:
        case cable_frame::last_flash:
            break;
    }
    return {0x00};
}

}  // namespace

const char* copy_screen_text(copy_screen screen) {
    switch (screen) {
        case copy_screen::copy_prompt:
            return "Copy ?";
        case copy_screen::connect_vm:
            return "Connect VM";
        case copy_screen::unable_to_copy:
            return "Unable to copy";
        case copy_screen::copying:
            return "Copying";
        case copy_screen::copied:
            return "Copied";
        case copy_screen::copy_failed:
            return "Copy failed";
        case copy_screen::not_enough_memory:
            return "Not enough free memory";
        case copy_screen::same_file_exists:
            return "Same file exists";
    }
    return "";
}

directory_tail copy_directory_bytes(const vmu_file& file) {
    card_file entry;
    std::copy_n(file.stamp, STAMP_BCD_SIZE, entry.stamp.begin());
    const std::optional<save_stamp> stamp =
        stamp_from_bcd(std::span<const std::uint8_t, STAMP_BCD_SIZE>(file.stamp, STAMP_BCD_SIZE));
    entry.stamp[CABLE_DIRECTORY_WEEKDAY] =
        stamp && stamp_is_valid(*stamp) ? stamp_weekday_bcd(*stamp) : 0;
    entry.blocks = static_cast<std::uint16_t>(file.image.size() / IMAGE_BLOCK_SIZE);
    entry.header_block = file.type == TYPE_GAME ? 1 : 0;
    return card_entry_tail(entry);
}

std::vector<vmu_frame> copy_frames(const vmu_file& file, const directory_tail& directory) {
    const std::size_t blocks = file.image.size() / IMAGE_BLOCK_SIZE;
    std::vector<vmu_frame> frames;
    frames.reserve(cable_frame_count(blocks));
    for (std::size_t index = 0; index < cable_frame_count(blocks); ++index) {
        const cable_frame kind = cable_frame_at(index, blocks);
        frames.push_back(
            vmu_make_frame(cable_frame_code(kind), payload_of(kind, index, file, directory)));
        frames.back().trailer = cable_frame_trailer(kind);
    }
    frames.back().await_answer = false;  // the card shows "Copied" at once
    return frames;
}
