// Reading the file to send and making its frames.
#include "send/send_file.h"

#include <algorithm>
#include <optional>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "files/text.h"
#include "save/save_convert.h"
#include "save/save_files.h"
#include "save/save_header.h"

namespace {

// What the source tells of the file before the options' overrides.
struct source_file {
    save_input save;  // the content, and the type a descriptor or an entry tells
    std::optional<std::array<std::uint8_t, NAME_BLOCK_SIZE>> name;
    std::string name_problem;               // why there is none
    bool described = false;                 // a descriptor or a card entry goes with the bytes
    bool odd_type = false;                  // and tells a type neither game nor data
    const char* teller = "the descriptor";  // what tells the type, for a warning
    std::optional<std::array<std::uint8_t, 8>> stamp;  // BCD and the weekday, as an entry has them
    std::uint16_t header_block = 0;
    bool header_given = false;    // an entry's own offset, kept unless the type changes
    bool copy_protected = false;  // a card entry marked so
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
    if (file.type == TYPE_GAME || file.type == TYPE_DATA)
        source.save.kind = file.type == TYPE_GAME ? save_kind::game : save_kind::data;
    else
        source.odd_type = true;
    source.stamp = file.stamp;
    source.header_block = file.header_block;
    source.header_given = true;
    source.copy_protected = file.protection != 0x00;
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
    // The frames carry no copy mark: the card writes every file it takes
    // unprotected (its system ROM on the processor model did so too).
    if (source.copy_protected) {
        item.warnings.push_back(item.label +
                                ": copy-protected on the image; the card takes it unprotected");
    }
    if (!source.stamp)
        return refuse("its time stamp is unknown or not a date (give --stamp)");
    if (source.save.content.empty())
        return refuse("the file is empty");
    const std::size_t blocks =
        (source.save.content.size() + IMAGE_BLOCK_SIZE - 1) / IMAGE_BLOCK_SIZE;
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
    item.content.resize(blocks * IMAGE_BLOCK_SIZE, 0x00);
    card_file entry;
    entry.stamp = *source.stamp;
    entry.blocks = static_cast<std::uint16_t>(blocks);
    entry.header_block = source.header_given ? source.header_block : (item.game ? 1 : 0);
    item.directory = card_entry_tail(entry);
    return true;
}

bool send_load_items(const send_command_line& cl, std::vector<send_item>& items,
                     std::vector<std::string>& warnings, std::string& error) {
    std::vector<std::string> entries = cl.entries;
    if (cl.all) {
        // Every file by its slot, whatever names the card holds twice.
        card_image card;
        card_layout layout;
        file_error failure;
        if (!card_load(cl.card, card, failure)) {
            error = failure.object + ": " + failure.reason;
            return false;
        }
        if (std::string reason; !card_read_layout(card, layout, reason)) {
            error = cl.card + ": not a card: " + reason;
            return false;
        }
        for (const card_file& file : card_files(card, layout))
            entries.push_back("#" + std::to_string(file.slot));
        if (entries.empty()) {
            error = cl.card + ": the card holds no file";
            return false;
        }
    }
    send_command_line one = cl;
    const std::vector<std::string>& names = cl.card.empty() ? cl.files : entries;
    for (const std::string& name : names) {
        (cl.card.empty() ? one.file : one.entry) = name;
        send_item item;
        if (!send_load_item(one, item, error))
            return false;
        warnings.insert(warnings.end(), item.warnings.begin(), item.warnings.end());
        items.push_back(std::move(item));
    }
    return true;
}

namespace {

std::string blocks_text(std::size_t blocks) {
    return std::to_string(blocks) + (blocks == 1 ? " block" : " blocks");
}

// Why the card would refuse `item` on `card` as it stands, or "" when it
// takes it; `sent` names the files placed on the copy by this run.
std::string card_refusal(const card_image& card, const card_layout& layout, const send_item& item,
                         const std::vector<std::array<std::uint8_t, NAME_BLOCK_SIZE>>& sent) {
    const std::vector<card_file> files = card_files(card, layout);
    const auto sent_here = [&](const card_file& file) {
        return std::find(sent.begin(), sent.end(), file.name) != sent.end();
    };
    if (item.game) {
        for (const card_file& file : files) {
            if (file.type == TYPE_GAME) {
                return "a second game: a card holds one, and " +
                       printable(card_name_text(card_file_name(file))) +
                       (sent_here(file) ? " goes before it" : " is on it already");
            }
        }
    } else {
        // The card compares the name with every file's, whatever its type.
        for (const card_file& file : files) {
            if (file.name == item.name) {
                return std::string("a file of this name ") +
                       (sent_here(file) ? "goes before it" : "is on the card already");
            }
        }
    }
    const std::size_t blocks = send_blocks(item);
    if (card_choose_blocks(card, layout, item.game, blocks).empty()) {
        return blocks_text(blocks) + (item.game ? " free from block 0" : "") +
               " are needed, and the card would have " +
               std::to_string(card_free_user_blocks(card, layout)) + " free by then" +
               (item.game ? ", not all of them from block 0" : "");
    }
    const std::optional<std::size_t> slot = card_free_slot(card, layout);
    if (!slot || *slot >= CARD_SLOTS_LOOKED_AT) {
        return "the card would have no free entry left among the first " +
               std::to_string(CARD_SLOTS_LOOKED_AT) +
               " of its directory, the only ones it looks at when it receives a file";
    }
    return "";
}

}  // namespace

std::vector<std::string> send_plan(std::vector<send_item>& items, const card_image* target) {
    std::stable_partition(items.begin(), items.end(),
                          [](const send_item& item) { return item.game; });
    card_image card = target != nullptr
                          ? *target
                          : card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, save_stamp{2000, 1, 1, 0, 0, 0},
                                     card_order::raw);
    card_layout layout;
    std::string reason;
    std::vector<std::string> refusals;
    // A card with no file system refuses the first file's start frame,
    // with nothing moved: the transfer says so.
    if (!card_read_layout(card, layout, reason) || !card_layout_sound(card, layout, reason))
        return refusals;
    std::vector<std::array<std::uint8_t, NAME_BLOCK_SIZE>> sent;
    for (const send_item& item : items) {
        if (std::string why = card_refusal(card, layout, item, sent); !why.empty()) {
            refusals.push_back(item.label + " (" + send_name_text(item) + ", a " +
                               (item.game ? "game" : "data file") + " of " +
                               blocks_text(send_blocks(item)) + "): " + why);
            continue;
        }
        // Placed as the card places it, for the files after it.
        const std::vector<std::uint16_t> blocks =
            card_choose_blocks(card, layout, item.game, send_blocks(item));
        card_write_chain(card, layout, blocks, item.content);
        card_file entry;
        entry.slot = *card_free_slot(card, layout);
        entry.type = item.game ? TYPE_GAME : TYPE_DATA;
        entry.first_block = blocks.front();
        entry.name = item.name;
        card_set_entry_tail(entry, item.directory);
        card_put_entry(card, layout, entry);
        sent.push_back(item.name);
    }
    return refusals;
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
