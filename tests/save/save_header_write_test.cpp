// Writing a save header: each field lands where the file layout puts it
// (checked byte by byte against the layout, not against the reader), a
// header reads back as it was written wherever it stands, a header that does
// not fit is refused with nothing written, and the built-in sample save
// made with it is an intact data file.
#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "save/sample_save.h"
#include "save/save_header.h"
#include "save_files.h"

namespace {

template <std::size_t N>
std::array<std::uint8_t, N> text_field(std::string_view text) {
    std::array<std::uint8_t, N> field{};
    std::copy(text.begin(), text.end(), field.begin());
    return field;
}

save_header known_header() {
    save_header header;
    header.description = text_field<16>("SIXTEEN BYTES...");
    header.boot_description = text_field<32>("thirty-two bytes of boot menu...");
    header.application = text_field<16>("APPLICATION NAME");
    header.icon_count = 0x0102;
    header.icon_speed = 0x0304;
    header.eyecatch_type = 0x0506;
    header.crc = 0x0708;
    header.payload_length = 0x0A0B0C0D;
    for (std::size_t i = 0; i < header.palette.size(); ++i)
        header.palette[i] = static_cast<std::uint16_t>(0xF000 + 0x0111 * i);
    return header;
}

TEST(HeaderWriting, PutsEachFieldWhereTheLayoutHasIt) {
    bytes file(SAVE_HEADER_SIZE, 0xAA);
    ASSERT_TRUE(write_save_header(file, 0, known_header()));
    const struct {
        const char* field;
        std::size_t offset;
        bytes expected;
    } fields[] = {
        {"description", 0x00, as_bytes("SIXTEEN BYTES...")},
        {"boot description", 0x10, as_bytes("thirty-two bytes of boot menu...")},
        {"application", 0x30, as_bytes("APPLICATION NAME")},
        {"icon count, low byte first", 0x40, {0x02, 0x01}},
        {"animation speed", 0x42, {0x04, 0x03}},
        {"eyecatch type", 0x44, {0x06, 0x05}},
        {"CRC", 0x46, {0x08, 0x07}},
        {"payload length, 32 bits", 0x48, {0x0D, 0x0C, 0x0B, 0x0A}},
        {"reserved bytes, untouched", 0x4C, bytes(0x14, 0xAA)},
        {"first palette entry", 0x60, {0x00, 0xF0}},
        {"second palette entry", 0x62, {0x11, 0xF1}},
        {"last palette entry", 0x7E, {0xFF, 0xFF}},
    };
    for (const auto& f : fields) {
        EXPECT_EQ(bytes(file.begin() + static_cast<std::ptrdiff_t>(f.offset),
                        file.begin() + static_cast<std::ptrdiff_t>(f.offset + f.expected.size())),
                  f.expected)
            << f.field;
    }
}

TEST(HeaderWriting, ReadsBackAsWrittenAtDataAndGameOffsets) {
    save_header largest;
    largest.icon_count = largest.icon_speed = largest.eyecatch_type = largest.crc = 0xFFFF;
    largest.payload_length = 0xFFFFFFFF;
    largest.palette.fill(0xFFFF);
    for (const save_header& header : {known_header(), save_header{}, largest}) {
        for (const std::size_t offset : {std::size_t{0}, GAME_HEADER_OFFSET}) {
            bytes file(GAME_HEADER_OFFSET + SAVE_HEADER_SIZE + 16, 0x5C);
            ASSERT_TRUE(write_save_header(file, offset, header));
            EXPECT_EQ(read_save_header(file, offset), header) << offset;
            // Nothing outside the header's 0x80 bytes changes.
            for (std::size_t i = 0; i < file.size(); ++i) {
                if (i < offset || i >= offset + SAVE_HEADER_SIZE) {
                    ASSERT_EQ(file[i], 0x5C) << offset << " " << i;
                }
            }
        }
    }
}

TEST(HeaderWriting, RefusesAHeaderThatDoesNotFitAndWritesNothing) {
    const struct {
        std::size_t size;
        std::size_t offset;
    } cases[] = {{0, 0}, {SAVE_HEADER_SIZE - 1, 0}, {0x280, 0x201}, {0x100, 0x101}};
    for (const auto& c : cases) {
        bytes file(c.size, 0x33);
        EXPECT_FALSE(write_save_header(file, c.offset, known_header()))
            << c.size << " " << c.offset;
        EXPECT_EQ(file, bytes(c.size, 0x33));
    }
}

TEST(SampleSave, IsAnIntactTwoBlockDataFile) {
    const bytes file = sample_save();
    ASSERT_EQ(file.size(), 2 * IMAGE_BLOCK_SIZE);
    const save_analysis analysis = analyse_save(file, std::nullopt, "VMURX_DEMO");
    EXPECT_EQ(analysis.kind, save_kind::data);
    EXPECT_EQ(analysis.verdict, save_verdict::intact) << analysis.reason;
    EXPECT_TRUE(analysis.problems.empty());
    EXPECT_EQ(analysis.crc->stored, expected_crc(file, file.size()));
}

}  // namespace
