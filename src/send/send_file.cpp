// Reading the file to send and making its frames.
#include "send/send_file.h"

#include <algorithm>
#include <optional>

#include "card/card_disk.h"
#include "card/card_place.h"
#include "files/text.h"
#include "save/save_files.h"
#include "save/save_header.h"

namespace {

// What the source tells of the file before the options' overrides.
struct source_file {
    std::vector<std::uint8_t> content;
    std::optional<std::array<std::uint8_t, NAME_BLOCK_SIZE>> name;
    std::string name_problem;  // why there is none
    std::optional<bool> game;
    std::string type_problem;
    std::optional<std::array<std::uint8_t, 8>> stamp;  // BCD and the weekday, as an entry has them
    std::uint16_t header_block = 0;
    bool header_given = false;  // an entry's own offset, kept unless the type changes
};

std::array<std::uint8_t, NAME_BLOCK_SIZE> name_bytes(const std::string& name) {
    // Padded with NULs, as the card library pads. The card compares all 12
    // bytes for a name already there, so a name padded otherwise on the card
    // would not be found (the card's own padding is not confirmed).
    std::array<std::uint8_t, NAME_BLOCK_SIZE> bytes{};
    std::copy_n(name.begin(), std::min(name.size(), bytes.size()), bytes.begin());
    return bytes;
}

bool from_save(const std::string& path, source_file& source, std::string& error) {
    save_input input;
    file_error failure;
    if (!load_save(path, input, failure)) {
        error = failure.object + ": " + failure.reason;
        return false;
    }
    source.content = std::move(input.content);
    if (input.name) {
        source.name = name_bytes(*input.name);
    } else {
        source.name_problem = input.long_name.empty()
                                  ? "the card name is unknown"
                                  : "its name " + input.long_name + " is longer than 12 bytes";
    }
    if (input.stamp && stamp_is_valid(*input.stamp))
        source.stamp = card_stamp_bytes(*input.stamp);
    std::optional<save_kind> kind = input.kind;
    if (!kind && input.format == "dci") {
        source.type_problem = "its type is neither game (0xCC) nor data (0x33)";
    } else if (!kind) {
        kind = analyse_save(source.content, std::nullopt, input.name.value_or("")).kind;
        if (!kind)
            source.type_problem = "it is not a save, so its type is unknown";
    }
    if (kind)
        source.game = *kind == save_kind::game;
    return true;
}

bool from_card(const std::string& image, const std::string& entry, source_file& source,
               std::string& error) {
    card_file file;
    if (!card_take_file(image, entry, file, source.content, error))
        return false;
    source.name = file.name;
    if (file.type == TYPE_GAME || file.type == TYPE_DATA)
        source.game = file.type == TYPE_GAME;
    else
        source.type_problem = "its type is neither game (0xCC) nor data (0x33)";
    source.stamp = file.stamp;
    source.header_block = file.header_block;
    source.header_given = true;
    return true;
}

}  // namespace

std::size_t send_blocks(const send_item& item) {
    return item.content.size() / IMAGE_BLOCK_SIZE;
}

std::string send_name_text(const send_item& item) {
    std::string name(item.name.begin(), item.name.end());
    while (!name.empty() && name.back() == '\0')
        name.pop_back();
    return printable(name);
}

bool send_load_item(const send_command_line& cl, send_item& item, std::string& error) {
    source_file source;
    item.label = cl.card.empty() ? cl.file : cl.card + ":" + cl.entry;
    if (!(cl.card.empty() ? from_save(cl.file, source, error)
                          : from_card(cl.card, cl.entry, source, error))) {
        return false;
    }
    const auto refuse = [&](const std::string& reason) {
        error = item.label + ": " + reason;
        return false;
    };
    if (cl.name)
        source.name = name_bytes(*cl.name);
    if (cl.game && cl.game != source.game)
        source.header_given = false;
    if (cl.game)
        source.game = cl.game;
    if (cl.stamp)
        source.stamp = card_stamp_bytes(*cl.stamp);
    if (!source.name)
        return refuse(source.name_problem + " (give --name)");
    if (!source.game)
        return refuse(source.type_problem + " (give --type)");
    if (!source.stamp)
        return refuse("its time stamp is unknown or not a date (give --stamp)");
    if (source.content.empty())
        return refuse("the file is empty");
    const std::size_t blocks = (source.content.size() + IMAGE_BLOCK_SIZE - 1) / IMAGE_BLOCK_SIZE;
    if (blocks > CARD_STANDARD_USER_BLOCKS) {
        return refuse("the file has " + std::to_string(blocks) +
                      " blocks; a card holds files of at most " +
                      std::to_string(CARD_STANDARD_USER_BLOCKS));
    }
    // A card's root allows games of at most 128 blocks, and vmurx-card check
    // counts a larger one an error; the card's receive mode does not check
    // it, so vmurx-send does, as vmurx-card add does.
    if (*source.game && blocks > CARD_DEFAULT_MAX_GAME) {
        return refuse("the game has " + std::to_string(blocks) +
                      " blocks; a card takes games of at most " +
                      std::to_string(CARD_DEFAULT_MAX_GAME));
    }
    item.name = *source.name;
    item.game = *source.game;
    item.content = std::move(source.content);
    item.content.resize(blocks * IMAGE_BLOCK_SIZE, 0x00);
    card_file entry;
    entry.stamp = *source.stamp;
    entry.blocks = static_cast<std::uint16_t>(blocks);
    entry.header_block = source.header_given ? source.header_block : (item.game ? 1 : 0);
    item.directory = card_entry_tail(entry);
    return true;
}

std::vector<std::uint8_t> send_frame(const send_item& item, std::size_t index) {
    const std::size_t blocks = send_blocks(item);
    const cable_frame kind = cable_frame_at(index, blocks);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(DATA_BLOCK_SIZE + 3);
    bytes.push_back(cable_header_for(cable_frame_length(kind)));
    bytes.push_back(cable_frame_code(kind));
    switch (kind) {
        case cable_frame::start:
            bytes.push_back(item.game ? TYPE_GAME : TYPE_DATA);
            bytes.push_back(static_cast<std::uint8_t>(blocks));
            break;
        case cable_frame::name:
            bytes.insert(bytes.end(), item.name.begin(), item.name.end());
            break;
        case cable_frame::data: {
            const auto piece = item.content.begin() +
                               static_cast<std::ptrdiff_t>((index - 2) / 2 * DATA_BLOCK_SIZE);
            bytes.insert(bytes.end(), piece, piece + DATA_BLOCK_SIZE);
            break;
        }
        case cable_frame::directory:
            bytes.insert(bytes.end(), item.directory.begin(), item.directory.end());
            break;
        case cable_frame::flash:
        case cable_frame::last_flash:
            bytes.push_back(0x00);
            break;
    }
    bytes.push_back(cable_frame_trailer(kind));
    return bytes;
}
