// Reading the file to send and making its frames.
#include "send/send_file.h"

#include <algorithm>
#include <optional>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_place.h"
#include "files/text.h"
#include "save/save_convert.h"
#include "save/save_files.h"
#include "save/save_header.h"

namespace {

// What the source tells of the file before the options' overrides.
struct source_file {
    save_input save;  // the content, and the type a descriptor or an entry tells
    std::optional<std::array<std::uint8_t, CABLE_NAME_LENGTH>> name;
    std::string name_problem;               // why there is none
    bool described = false;                 // a descriptor or a card entry goes with the bytes
    bool odd_type = false;                  // and tells a type neither game nor data
    const char* teller = "the descriptor";  // what tells the type, for a warning
    std::optional<std::array<std::uint8_t, 8>> stamp;  // BCD and the weekday, as an entry has them
    std::uint16_t header_block = 0;
    bool header_given = false;  // an entry's own offset, kept unless the type changes
};

std::array<std::uint8_t, CABLE_NAME_LENGTH> name_bytes(const std::string& name) {
    // Padded with NULs, as the card library pads. The card compares all 12
    // bytes for a name already there, so a name padded otherwise on the card
    // would not be found (the card's own padding is not confirmed).
    std::array<std::uint8_t, CABLE_NAME_LENGTH> bytes{};
    std::copy_n(name.begin(), std::min(name.size(), bytes.size()), bytes.begin());
    return bytes;
}

bool from_save(const std::string& path, source_file& source, std::string& error) {
    save_input& input = source.save;
    file_error failure;
    if (!load_save(path, input, failure)) {
        if (failure.cause == file_failure::too_large && card_is_image(path)) {
            error = path + ": a whole card image, not a save: send one of its files with --card " +
                    path + " --entry ENTRY (a name or #N, as vmurx-card list shows them)";
        } else {
            error = failure.object + ": " + failure.reason;
        }
        return false;
    }
    if (input.name) {
        source.name = name_bytes(*input.name);
    } else {
        source.name_problem = input.long_name.empty()
                                  ? "the card name is unknown"
                                  : "its name " + input.long_name + " is longer than 12 bytes";
    }
    if (input.stamp && stamp_is_valid(*input.stamp))
        source.stamp = card_stamp_bytes(*input.stamp);
    source.described = input.format == "dci" || !input.descriptor.empty();
    source.odd_type = !input.kind && input.format == "dci";
    return true;
}

bool from_card(const std::string& image, const std::string& entry, source_file& source,
               std::string& error) {
    card_file file;
    if (!card_take_file(image, entry, file, source.save.content, error))
        return false;
    source.name = file.name;
    source.save.name = card_name_text(card_file_name(file));
    source.described = true;
    source.teller = "the card entry";
    if (file.type == CARD_TYPE_GAME || file.type == CARD_TYPE_DATA)
        source.save.kind = file.type == CARD_TYPE_GAME ? save_kind::game : save_kind::data;
    else
        source.odd_type = true;
    source.stamp = file.stamp;
    source.header_block = file.header_block;
    source.header_given = true;
    return true;
}

}  // namespace

std::size_t send_blocks(const send_item& item) {
    return item.content.size() / CABLE_BLOCK_SIZE;
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
    if (cl.name) {
        source.name = name_bytes(*cl.name);
        source.save.name = cl.name;
    }
    if (cl.stamp)
        source.stamp = card_stamp_bytes(*cl.stamp);
    if (!source.name)
        return refuse(source.name_problem + " (give --name)");
    // The type as vmurx-card add decides it.
    std::optional<save_kind> given;
    if (cl.game)
        given = *cl.game ? save_kind::game : save_kind::data;
    const card_type_choice type = save_card_type(source.save, given, cl.force_type);
    if (type.refusal == card_type_refusal::contradicted) {
        return refuse("--type " + std::string(kind_name(*given)) +
                      " contradicts the save's header, a " + kind_name(*type.header_kind) +
                      " file's (--force-type sends it all the same)");
    }
    if (type.refusal == card_type_refusal::unknown) {
        return refuse(source.odd_type ? "its type is neither game (0xCC) nor data (0x33) (give "
                                        "--type)"
                                      : "it is not a save, so its type is unknown (give --type)");
    }
    const bool game = type.kind == save_kind::game;
    if (type.descriptor_overruled) {
        item.warnings.push_back(item.label + ": " + source.teller + " says " +
                                kind_name(*source.save.kind) + ", but the header is a " +
                                kind_name(*type.header_kind) + " file's: sent as " +
                                kind_name(*type.header_kind));
    }
    if (source.save.kind != type.kind)
        source.header_given = false;
    if (!source.stamp)
        return refuse("its time stamp is unknown or not a date (give --stamp)");
    if (source.save.content.empty())
        return refuse("the file is empty");
    const std::size_t blocks =
        (source.save.content.size() + CABLE_BLOCK_SIZE - 1) / CABLE_BLOCK_SIZE;
    if (blocks > CARD_STANDARD_USER_BLOCKS) {
        return refuse("the file has " + std::to_string(blocks) +
                      " blocks; a card holds files of at most " +
                      std::to_string(CARD_STANDARD_USER_BLOCKS));
    }
    // A card's root allows games of at most 128 blocks, and vmurx-card check
    // counts a larger one an error; the card's receive mode does not check
    // it, so vmurx-send does, as vmurx-card add does.
    if (game && blocks > CARD_DEFAULT_MAX_GAME) {
        return refuse("the game has " + std::to_string(blocks) +
                      " blocks; a card takes games of at most " +
                      std::to_string(CARD_DEFAULT_MAX_GAME));
    }
    // Bytes with nothing to tell what they are, and no save's header in
    // them (a picture, a text), go to a card only when the user insists.
    if (!source.described && !type.is_save && !cl.force_type) {
        return refuse(
            "it is not a save (no save header at 0 or 0x200); --force-type sends it "
            "as the --type given all the same");
    }
    item.name = *source.name;
    item.game = game;
    item.content = std::move(source.save.content);
    item.content.resize(blocks * CABLE_BLOCK_SIZE, 0x00);
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
    bytes.reserve(CABLE_FULL_LENGTH + 3);
    bytes.push_back(cable_header_for(cable_frame_length(kind)));
    bytes.push_back(cable_frame_code(kind));
    switch (kind) {
        case cable_frame::start:
            bytes.push_back(item.game ? CABLE_TYPE_GAME : CABLE_TYPE_DATA);
            bytes.push_back(static_cast<std::uint8_t>(blocks));
            break;
        case cable_frame::name:
            bytes.insert(bytes.end(), item.name.begin(), item.name.end());
            break;
        case cable_frame::data: {
            const auto piece = item.content.begin() +
                               static_cast<std::ptrdiff_t>((index - 2) / 2 * CABLE_FULL_LENGTH);
            bytes.insert(bytes.end(), piece, piece + CABLE_FULL_LENGTH);
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
