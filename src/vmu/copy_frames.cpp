// What the card's own Copy sends and shows: its screens' words, the frames
// of a file with Copy's trailers, and the directory entry's bytes its
// directory frame carries.
#include "save/stamp.h"
#include "vmu/copy_card.h"

namespace {

vmu_frame frame_of(std::uint8_t code, std::vector<std::uint8_t> payload, std::uint8_t trailer) {
    vmu_frame frame = vmu_make_frame(code, std::move(payload));
    frame.trailer = trailer;
    return frame;
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

std::array<std::uint8_t, 12> copy_directory_bytes(const vmu_file& file) {
    std::array<std::uint8_t, 12> bytes{};
    for (std::size_t i = 0; i < CABLE_STAMP_LENGTH; ++i)
        bytes[i] = file.stamp[i];
    const std::optional<save_stamp> stamp =
        stamp_from_bcd(std::span<const std::uint8_t, STAMP_BCD_SIZE>(file.stamp, STAMP_BCD_SIZE));
    bytes[7] = stamp && stamp_is_valid(*stamp) ? stamp_weekday_bcd(*stamp) : 0;
    const std::size_t blocks = file.image.size() / 512;
    bytes[8] = static_cast<std::uint8_t>(blocks & 0xFF);
    bytes[9] = static_cast<std::uint8_t>(blocks >> 8);
    bytes[10] = file.type == CABLE_TYPE_GAME ? 1 : 0;
    bytes[11] = 0;
    return bytes;
}

std::vector<vmu_frame> copy_frames(const vmu_file& file,
                                   const std::array<std::uint8_t, 12>& directory) {
    std::vector<vmu_frame> frames;
    const auto blocks = static_cast<std::uint8_t>(file.image.size() / 512);
    frames.push_back(frame_of(CABLE_CODE_START, {file.type, blocks}, COPY_TRAILER));
    std::vector<std::uint8_t> name(CABLE_NAME_LENGTH, ' ');
    for (std::size_t i = 0; i < name.size() && i < file.name.size(); ++i)
        name[i] = static_cast<std::uint8_t>(file.name[i]);
    frames.push_back(frame_of(CABLE_CODE_NAME, name, COPY_TRAILER));
    constexpr std::size_t piece = CABLE_FULL_LENGTH;
    for (std::size_t offset = 0; offset + piece <= file.image.size(); offset += piece) {
        const auto from = file.image.begin() + static_cast<std::ptrdiff_t>(offset);
        frames.push_back(frame_of(CABLE_CODE_DATA, {from, from + piece}, COPY_TRAILER_DATA));
        frames.push_back(frame_of(CABLE_CODE_FLASH, {0x00}, COPY_TRAILER));
    }
    frames.push_back(
        frame_of(CABLE_CODE_DIRECTORY, {directory.begin(), directory.end()}, COPY_TRAILER));
    frames.push_back(frame_of(CABLE_CODE_FLASH, {0x00}, COPY_TRAILER));
    frames.back().await_answer = false;  // the card shows "Copied" at once
    return frames;
}
