// The save library on bytes built from the file layout: the CRC and its
// check value, how files are told apart and judged, the DCI and VMI
// descriptors read leniently and written exactly, stamps and icons.
#include <gtest/gtest.h>

#include "save/containers.h"
#include "save/images.h"
#include "save/save_header.h"
#include "save_files.h"

namespace {

TEST(Crc, MatchesTheCheckValueAndCountsItsOwnBytesAsZero) {
    const std::string digits = "123456789";
    EXPECT_EQ(crc16(as_bytes(digits)), 0x31C3);

    const bytes file = make_save({.icons = 2, .eyecatch = 3, .payload = 700});
    for (std::size_t length : {std::size_t{0x40}, std::size_t{0x47}, std::size_t{0x48},
                               std::size_t{0x80 + 1024 + 2048 + 700}, file.size()}) {
        EXPECT_EQ(data_file_crc(file, length), expected_crc(file, length)) << length;
    }
}

TEST(Analysis, TellsKindWhereTheHeaderStandsAndTheVerdict) {
    bytes wrong_crc = make_save({});
    wrong_crc[0x80 + 512 + 5] ^= 0x01;
    bytes truncated = make_save({.payload = 1000});
    truncated.resize(0x80 + 512 + 999);
    bytes game_truncated = make_save({.eyecatch = 1, .game = true});
    game_truncated.resize(0x200 + 0x80 + 512 + 8000);
    bytes no_header(1024, 0);
    bytes icondata(0x20 + 128 + 544, 0);
    icondata[0x10] = 0x20;  // monochrome icon right after the header
    icondata[0x14] = 0xA0;  // colour icon after it
    bytes icondata_short = icondata;
    icondata_short.resize(600);
    bytes game_with_crc = make_save({.game = true});
    game_with_crc[0x200 + 0x46] = 1;

    const struct {
        const char* rule;
        bytes file;
        std::optional<save_kind> declared;
        std::string name;
        std::optional<save_kind> kind;
        std::size_t header_offset;
        save_verdict verdict;
        std::size_t problems;
    } cases[] = {
        // clang-format off
        {"an intact data file", make_save({}), {}, "", save_kind::data, 0,
         save_verdict::intact, 0},
        {"three icons and a 256-colour eyecatch", make_save({.icons = 3, .eyecatch = 2}), {}, "",
         save_kind::data, 0, save_verdict::intact, 0},
        {"one flipped bit", wrong_crc, {}, "", save_kind::data, 0,
         save_verdict::checksum_mismatch, 0},
        {"a data file one byte short of its CRC range", truncated, {}, "", save_kind::data, 0,
         save_verdict::truncated, 0},
        {"a game file: header at 0x200, no CRC", make_save({.game = true}), {}, "",
         save_kind::game, 0x200, save_verdict::intact, 0},
        {"a game file whose eyecatch runs past the end", game_truncated, {}, "", save_kind::game,
         0x200, save_verdict::truncated, 0},
        {"a game file with a CRC is reported, not refused", game_with_crc, {}, "",
         save_kind::game, 0x200, save_verdict::intact, 1},
        {"no header anywhere", no_header, {}, "", {}, 0, save_verdict::not_a_save, 0},
        {"fewer bytes than a header", bytes(10, 1), {}, "", {}, 0, save_verdict::not_a_save, 0},
        {"a descriptor naming data for a short file", bytes(10, 1), save_kind::data, "",
         save_kind::data, 0, save_verdict::truncated, 0},
        {"a descriptor naming game where no header stands", no_header, save_kind::game, "", {},
         0x200, save_verdict::not_a_save, 0},
        {"a descriptor naming the wrong kind is reported", make_save({}), save_kind::game, "",
         save_kind::data, 0, save_verdict::intact, 1},
        {"the card's icon file", icondata, {}, "ICONDATA_VMS", save_kind::icondata, 0,
         save_verdict::intact, 0},
        {"the card's icon file cut short", icondata_short, {}, "ICONDATA_VMS",
         save_kind::icondata, 0, save_verdict::truncated, 0},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const save_analysis a = analyse_save(c.file, c.declared, c.name);
        EXPECT_EQ(a.kind, c.kind);
        EXPECT_EQ(a.verdict, c.verdict);
        if (a.header) {
            EXPECT_EQ(a.header_offset, c.header_offset);
        }
        EXPECT_EQ(a.problems.size(), c.problems);
        EXPECT_EQ(a.crc.has_value(), c.kind == save_kind::data && a.header.has_value());
        EXPECT_EQ(a.reason.empty(), c.verdict == save_verdict::intact);
    }
    const save_analysis flipped = analyse_save(wrong_crc, {}, "");
    EXPECT_EQ(flipped.crc->stored, expected_crc(make_save({}), 0x80 + 512 + 100));
    EXPECT_EQ(flipped.crc->computed, expected_crc(wrong_crc, 0x80 + 512 + 100));
}

TEST(Stamp, ParsesCheckedDatesAndCountsWeekdays) {
    const struct {
        std::string text;
        bool valid;
        int weekday;  // from Sunday
    } cases[] = {
        {"19991231235958", true, 5},  {"20000229120000", true, 2},  {"19000301000000", true, 4},
        {"99991231235959", true, 5},  {"18991231235959", false, 0}, {"21000229000000", false, 0},
        {"20020431000000", false, 0}, {"2002010100000", false, 0},  {"2002010100000x", false, 0},
        {"20020101240000", false, 0},
    };
    for (const auto& c : cases) {
        const auto stamp = parse_stamp_text(c.text);
        EXPECT_EQ(stamp.has_value(), c.valid) << c.text;
        if (stamp) {
            EXPECT_EQ(weekday_from_sunday(*stamp), c.weekday) << c.text;
        }
    }
}

TEST(Dci, RoundTripsAndReadsOddFilesLeniently) {
    const bytes content = make_save({.payload = 1000});
    const std::uint8_t stamp[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
    const bytes expected = make_dci(content, 0x33, "SAVE_A", stamp);  // 2002-03-04 is a Monday
    directory_entry entry;
    entry.type = TYPE_DATA;
    entry.name = card_name_bytes("SAVE_A");
    entry.stamp = card_stamp_bytes(save_stamp{2002, 3, 4, 5, 6, 7});
    EXPECT_EQ(build_dci(entry, content), expected);

    const struct {
        const char* rule;
        std::size_t extra;
        std::uint8_t protection, month;
        std::size_t problems;
        bool stamp;
    } cases[] = {
        {"as written", 0, 0x00, 0x03, 0, true},
        {"three stray bytes after the last block", 3, 0x00, 0x03, 1, true},
        {"an unusual copy-protection byte", 0, 0x12, 0x03, 1, true},
        {"a stamp that is not BCD", 0, 0x00, 0x1A, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bytes dci = expected;
        dci.insert(dci.end(), c.extra, 0xEE);
        dci[1] = c.protection;
        dci[0x12] = c.month;
        std::vector<std::string> problems;
        const auto parsed = parse_dci(dci, problems);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->content, content);
        EXPECT_EQ(trim_field(parsed->entry.name), "SAVE_A");
        EXPECT_EQ(parsed->entry.protection, c.protection);
        EXPECT_EQ(problems.size(), c.problems);
        EXPECT_EQ(card_file_stamp(parsed->entry).has_value(), c.stamp);
    }
    std::vector<std::string> problems;
    EXPECT_FALSE(parse_dci(bytes(31, 0), problems));
}

TEST(Vmi, IsWrittenByTheLayoutAndReadLeniently) {
    vmi_record vmi;
    vmi.description = "DESC";
    vmi.copyright = "(C) ME";
    vmi.stamp = {2002, 3, 4, 5, 6, 7};
    vmi.resource_name = "ABCDEFGH";
    vmi.card_name = "CARD_NAME";
    vmi.mode = VMI_MODE_GAME;
    vmi.file_size = 1536;
    const bytes written = build_vmi(vmi);
    ASSERT_EQ(written.size(), 108u);
    EXPECT_EQ(as_string(bytes(written.begin(), written.begin() + 4)), "A@C@");  // name AND "SEGA"
    EXPECT_EQ(written[0x44] | written[0x45] << 8, 2002);
    EXPECT_EQ(written[0x4B], 1);  // Monday, counted from Sunday
    EXPECT_EQ(written[0x4E], 1);
    EXPECT_EQ(written[0x64], 2);
    EXPECT_EQ(written[0x69], 6);
    EXPECT_EQ(written[0x58 + 9], 0);  // NUL padding

    bytes odd = written;
    odd[0] = 'X';         // a checksum off the rule
    odd[0x04 + 4] = ' ';  // space padding
    odd[0x58 + 9] = ' ';
    std::vector<std::string> problems;
    const auto read = parse_vmi(odd, problems);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->description, "DESC");
    EXPECT_EQ(read->card_name, "CARD_NAME");
    EXPECT_EQ(read->stamp, vmi.stamp);
    EXPECT_EQ(read->file_size, 1536u);
    EXPECT_EQ(problems.size(), 1u);
    EXPECT_FALSE(parse_vmi(bytes(107, 0), problems));

    // A stamp with month 0 is reported, kept as read, and written back
    // without a weekday (found by fuzzing: it indexed a table with -1).
    bytes no_month = written;
    no_month[0x46] = 0;
    problems.clear();
    const auto undated = parse_vmi(no_month, problems);
    ASSERT_TRUE(undated);
    EXPECT_EQ(problems, std::vector<std::string>{"the VMI's time stamp is not a valid date"});
    EXPECT_EQ(build_vmi(*undated)[0x4B], 0);
}

TEST(Images, DecodeFramesPalettesAndScale) {
    const bytes file = make_save({.icons = 2, .eyecatch = 3});
    const auto all = decode_icons(file, 0);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->width, 64u);
    EXPECT_EQ(all->height, 32u);
    const auto pixel = [](const rgba_image& image, std::size_t x, std::size_t y) {
        const auto* p = &image.pixels[(y * image.width + x) * 4];
        return std::vector<int>{p[0], p[1], p[2], p[3]};
    };
    EXPECT_EQ(pixel(*all, 0, 0), (std::vector<int>{255, 0, 0, 255}));  // high nibble left
    EXPECT_EQ(pixel(*all, 1, 0), (std::vector<int>{0, 0, 255, 136}));  // alpha 8 * 17
    EXPECT_EQ(pixel(*all, 32, 0), (std::vector<int>{0, 0, 0, 0}));     // frame 2's first row
    EXPECT_EQ(pixel(*all, 32, 1), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(decode_icons(file, 0, 2)->width, 32u);
    EXPECT_FALSE(decode_icons(file, 0, 3));
    EXPECT_FALSE(decode_icons(bytes(file.begin(), file.begin() + 600), 0));
    const auto big = scale_image(*all, 3);
    EXPECT_EQ(big.width, 192u);
    EXPECT_EQ(pixel(big, 5, 2), (std::vector<int>{0, 0, 255, 136}));
    EXPECT_EQ(decode_eyecatch(file, 0)->width, 72u);
    EXPECT_FALSE(decode_eyecatch(make_save({}), 0));
}

}  // namespace
