// Fuzz target for a save's own bytes: the header and CRC reader, the card's
// icon file, the icon and eyecatch decoders and the Shift-JIS texts, as
// vmurx-save and vmurx-emu meet them in a file nobody vouches for.
//
// Input: one byte of choices, then the file. Bits 0-1 of the choice pick the
// kind the file is declared as (none, data, game), bit 2 names it
// ICONDATA_VMS, bits 3-4 the icon frame to decode (0: all).
//
// What must hold: the reader never reads outside the bytes (the sanitizers
// watch that), a file called intact has a CRC that matches or none to check,
// and every decoded picture has exactly width x height x 4 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>

#include "files/text.h"
#include "save/images.h"
#include "save/save_header.h"

namespace {

void require(bool condition, const char* rule) {
    if (!condition) {
        std::fprintf(stderr, "broken rule: %s\n", rule);
        std::abort();
    }
}

void check_image(const std::optional<rgba_image>& image) {
    if (image)
        require(image->pixels.size() == image->width * image->height * 4,
                "a picture holds width x height RGBA pixels");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t choice = data[0];
    const std::span<const std::uint8_t> file(data + 1, size - 1);

    std::optional<save_kind> declared;
    if ((choice & 3) == 1)
        declared = save_kind::data;
    else if ((choice & 3) == 2)
        declared = save_kind::game;
    const char* card_name = (choice & 4) != 0 ? ICONDATA_NAME : "FUZZ";

    const save_analysis analysis = analyse_save(file, declared, card_name);
    if (analysis.verdict == save_verdict::intact && analysis.crc)
        require(analysis.crc->ok(), "an intact data file has a matching CRC");
    if (analysis.verdict != save_verdict::not_a_save)
        require(analysis.kind.has_value(), "a save has a kind");

    if (analysis.header) {
        const save_header& header = *analysis.header;
        (void)sjis_to_utf8(header.description);
        (void)json_quote(printable(sjis_to_utf8(header.boot_description)));
        const unsigned frame = (choice >> 3) & 3;
        const auto icons = decode_icons(file, analysis.header_offset, frame);
        check_image(icons);
        if (icons)
            require(
                icons->height == 32 && icons->width == 32 * (frame != 0 ? 1 : header.icon_count),
                "icon frames are 32x32, side by side");
        check_image(decode_eyecatch(file, analysis.header_offset));
    }
    check_image(decode_icondata(file));
    return 0;
}
