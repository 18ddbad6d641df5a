// vmurx-send's programs over a preloaded kernel stand-in with the receiving
// card behind the device: the card image it holds, built with the card
// library, the stand-in's option for it, and what the run left on it.
#pragma once

#include <string>
#include <vector>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "run_program.h"

/// The one-block file sent: raw bytes whose name, type and stamp the
/// command line gives (no save's, so the type is forced).
inline std::vector<std::uint8_t> shim_sent_bytes() {
    std::vector<std::uint8_t> bytes(512);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return bytes;
}

/// vmurx-send's words for it.
inline std::vector<std::string> shim_send_words(const temp_dir& dir) {
    return {"-q",      "--name",         "OVERSHIM",          "--type", "data", "--force-type",
            "--stamp", "20020304050607", dir.file("sent.bin")};
}

/// Writes a blank card and the file into `dir`; the stand-in's
/// VMURX_SHIM_RECEIVE for that card.
inline std::string shim_receiving_card(const temp_dir& dir) {
    const card_image blank =
        card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, {2002, 3, 4, 5, 6, 7}, card_order::raw);
    file_error error;
    card_store(dir.file("card.bin"), blank, true, error);
    const std::vector<std::uint8_t> sent = shim_sent_bytes();
    write_file(dir.file("sent.bin"), std::string(sent.begin(), sent.end()));
    return "VMURX_SHIM_RECEIVE=--card " + dir.file("card.bin");
}

/// What the card holds under the name OVERSHIM: its bytes, or nothing.
inline std::vector<std::uint8_t> shim_card_file(const temp_dir& dir) {
    card_file file;
    std::vector<std::uint8_t> content;
    std::string error;
    if (!card_take_file(dir.file("card.bin"), "OVERSHIM", file, content, error))
        return {};
    return content;
}
