// Setting the software card up from the options read: the file it sends (a
// save, with what a .dci or .vms tells about itself, or an entry of a whole
// card image), the name, type and stamp the options give on top, then its
// frames and their faults.
#include "emu/emu_setup.h"

#include <algorithm>
#include <array>
#include <utility>

#include "cable/cable.h"
#include "card/card_disk.h"
#include "card/card_image.h"
#include "card/card_place.h"
#include "save/sample_save.h"
#include "save/save_files.h"

namespace {

// The card's file as the source makes it, before the options' own values.
struct sent_file {
    vmu_file file;
    bool copy_protected = false;  // the card entry's copy byte forbids a copy
    // The card entry's own bytes 0x10 to 0x1B, which the card's own Copy
    // sends in its directory frame; without an entry they are made from the
    // file.
    std::optional<directory_tail> directory;
    std::string card;  // a card image whose entry is sent
    // What a .dci or .vms tells about itself; the options win over it.
    std::optional<save_input> described;
};

// --file: a save, or a card image whose entry --entry names.
bool load_file(const std::string& path, sent_file& sent, std::string& error) {
    save_input input;
    file_error failure;
    if (!load_save(path, input, failure)) {
        if (failure.cause == file_failure::too_large && card_is_image(path)) {
            sent.card = path;
            return true;
        }
        error = failure.cause == file_failure::too_large
                    ? path + " is larger than 255 blocks of 512 bytes"
                    : "cannot read " + failure.object + ": " + failure.reason;
        return false;
    }
    sent.file.image = input.content;
    sent.file.image.resize((sent.file.image.size() + 511) / 512 * 512, 0x00);
    if (format_of(path) != file_format::bytes)
        sent.described = std::move(input);
    return true;
}

// The entry of a card image that --card and --entry name, with its name,
// type and stamp.
bool take_card_file(const std::string& card, const std::string& entry, sent_file& sent,
                    std::string& error) {
    vmu_file& file = sent.file;
    if (entry.empty()) {
        // Only a card image is called one.
        card_image image;
        card_layout layout;
        file_error failure;
        std::string reason;
        if (!card_load(card, image, failure))
            error = "cannot read " + failure.object + ": " + failure.reason;
        else if (!card_read_layout(image, layout, reason))
            error = card + ": " + reason;
        else
            error = card + " is a card image: name the file to send with --card " + card +
                    " --entry ENTRY (a name or #slot of vmurx-card list)";
        return false;
    }
    card_file taken;
    if (!card_take_file(card, entry, taken, file.image, error))
        return false;
    file.name.assign(taken.name.begin(), taken.name.end());
    file.type = taken.type;
    std::copy_n(taken.stamp.begin(), STAMP_BCD_SIZE, file.stamp);
    sent.copy_protected = taken.protection == CARD_PROTECTED;
    sent.directory = card_entry_tail(taken);
    return true;
}

// What a .dci or .vms tells of its name, stamp and type.
void take_described(const save_input& described, vmu_file& file) {
    if (described.name)
        file.name = *described.name;
    if (described.stamp && stamp_is_valid(*described.stamp))
        stamp_to_bcd(*described.stamp, file.stamp);
    const std::optional<save_kind> kind =
        described.kind
            ? described.kind
            : analyse_save(described.content, std::nullopt, described.name.value_or("")).kind;
    if (kind == save_kind::game)
        file.type = TYPE_GAME;
}

// A fault of a frame, in the frames of either card (they are alike but for
// their trailers).
bool apply_frame_fault(const emu_fault& f, std::vector<vmu_frame>& frames, std::string& error) {
    if (static_cast<std::size_t>(f.value) > frames.size()) {
        error = "--fault " + f.kind + "=" + std::to_string(f.value) + ": the transfer has only " +
                std::to_string(frames.size()) + " frames";
        return false;
    }
    vmu_frame& frame = frames[static_cast<std::size_t>(f.value - 1)];
    if (f.kind == "wrong-code") {
        frame.code = frame.code == BLOCK_CODE_FLASH ? BLOCK_CODE_DATA : BLOCK_CODE_FLASH;
    } else if (f.kind == "bad-trailer") {
        frame.trailer = 0x01;  // neither trailer a frame may end with
    } else if (f.kind == "short") {
        // Frames announce 128 bytes or 1 to 16, so a full data block shrinks
        // to the longest short frame.
        const std::size_t size = frame.payload.size();
        if (size <= 1) {
            error = "--fault short=" + std::to_string(f.value) + ": that frame has one byte";
            return false;
        }
        const std::size_t length = size == DATA_BLOCK_SIZE ? CABLE_SHORT_LONGEST : size - 1;
        frame.payload.resize(length);
        frame.header = cable_header_for(length);
    } else {  // stop
        frames.resize(static_cast<std::size_t>(f.value));
    }
    return true;
}

bool apply_fault(const emu_fault& f, vmu_sim& vmu, copy_card& copy, std::string& error) {
    if (f.kind == "stall") {
        vmu.stall_byte = f.value;
        vmu.stall_bit = 0;
        copy.config.stall_byte = f.value;
        return true;
    }
    return apply_frame_fault(f, vmu.frames, error) && apply_frame_fault(f, copy.frames, error);
}

}  // namespace

bool emu_setup_card(const emu_request& request, vmu_sim& vmu, emu_options& options,
                    std::string& error) {
    sent_file sent;
    sent.file.image = sample_save();
    sent.file.name = "VMURX_DEMO";
    if (request.source_is_card)
        sent.card = request.source;
    else if (!request.source.empty() && !load_file(request.source, sent, error))
        return false;

    if (options.card == emu_card::cpu || options.card == emu_card::rom) {
        // The sender, or the person at the ROM, finds the entry on the card.
        if (options.card == emu_card::rom && (sent.card.empty() || request.entry.empty())) {
            error = "--bios sends a file of a card image: give --card IMAGE and --entry ENTRY";
            return false;
        }
        if (options.card == emu_card::rom && !request.faults.empty()) {
            error = "--fault is for the modelled cards, not for --bios";
            return false;
        }
        options.cpu.card_path = sent.card;
        options.cpu.entry = request.entry;
    } else if (!sent.card.empty()) {
        if (!take_card_file(sent.card, request.entry, sent, error))
            return false;
    } else if (!request.entry.empty()) {
        error = "--entry needs --card CARD";
        return false;
    } else if (sent.described) {
        take_described(*sent.described, sent.file);
    }

    if (request.name)
        sent.file.name = *request.name;
    if (request.type)
        sent.file.type = *request.type;
    if (request.stamp)
        stamp_to_bcd(*request.stamp, sent.file.stamp);
    // The tool names the file it stores by the card name up to its first
    // NUL: a name that starts with one (a card entry's 12 NUL bytes) names
    // nothing it could open. Only --raw-name sends such a name, on purpose.
    if (!request.raw_name && (sent.file.name.empty() || sent.file.name.front() == '\0')) {
        error = "the file to send has no card name (its first byte is NUL): give --name";
        return false;
    }
    vmu.frames = vmu_transfer_frames(sent.file);
    // The entry's own directory bytes unless the options changed what they
    // tell.
    const bool entry_as_it_is = sent.directory && !request.type && !request.stamp;
    options.copy.frames =
        copy_frames(sent.file, entry_as_it_is ? *sent.directory : copy_directory_bytes(sent.file));
    if (sent.copy_protected)
        options.copy.config.copy_protected = true;
    for (const emu_fault& f : request.faults) {
        if (!apply_fault(f, vmu, options.copy, error))
            return false;
    }
    return true;
}
