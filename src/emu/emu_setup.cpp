// Setting the software card up from the options read: the file it sends (a
// save, with what a .dci or .vms tells about itself, or an entry of a whole
// card image), the name, type and stamp the options give on top, then its
// frames and their faults.
#include "emu/emu_setup.h"

#include <algorithm>
#include <utility>

#include "cable/cable.h"
#include "card/card_disk.h"
#include "save/sample_save.h"
#include "save/save_files.h"

namespace {

// The card's file as the source makes it, before the options' own values.
struct sent_file {
    vmu_file file;
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
bool take_card_file(const std::string& card, const std::string& entry, vmu_file& file,
                    std::string& error) {
    if (entry.empty()) {
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
        file.type = CABLE_TYPE_GAME;
}

bool apply_fault(const emu_fault& f, vmu_sim& vmu, std::string& error) {
    if (f.kind == "stall") {
        vmu.stall_byte = f.value;
        vmu.stall_bit = 0;
        return true;
    }
    if (static_cast<std::size_t>(f.value) > vmu.frames.size()) {
        error = "--fault " + f.kind + "=" + std::to_string(f.value) + ": the transfer has only " +
                std::to_string(vmu.frames.size()) + " frames";
        return false;
    }
    vmu_frame& frame = vmu.frames[static_cast<std::size_t>(f.value - 1)];
    if (f.kind == "wrong-code") {
        frame.code = frame.code == CABLE_CODE_FLASH ? CABLE_CODE_DATA : CABLE_CODE_FLASH;
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
        const std::size_t length = size == CABLE_FULL_LENGTH ? CABLE_SHORT_LONGEST : size - 1;
        frame.payload.resize(length);
        frame.header = cable_header_for(length);
    } else {  // stop
        vmu.frames.resize(static_cast<std::size_t>(f.value));
    }
    return true;
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

    if (options.cpu.enabled) {
        // The sender itself finds the entry on the card and sends it.
        options.cpu.card_path = sent.card;
        options.cpu.entry = request.entry;
    } else if (!sent.card.empty()) {
        if (!take_card_file(sent.card, request.entry, sent.file, error))
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
    vmu.frames = vmu_transfer_frames(sent.file);
    for (const emu_fault& f : request.faults) {
        if (!apply_fault(f, vmu, error))
            return false;
    }
    return true;
}
