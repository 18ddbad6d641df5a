// The card image on bytes: the blank card as the console formats it, the two
// byte orders told apart by content, the refusals, and one bad card for each
// finding of the check.
#include <algorithm>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card_support.h"

namespace {

TEST(BlankCard, IsFormattedAsTheConsoleDoes) {
    const card_image card = card_new({0x12, 0x34, 0x56, 0x78}, 7, TEST_STAMP, card_order::raw);
    ASSERT_EQ(card.bytes.size(), 131072u);
    EXPECT_TRUE(std::all_of(card.bytes.begin(), card.bytes.begin() + 254 * 512,
                            [](std::uint8_t b) { return b == 0; }));
    for (std::size_t block = 0; block <= 240; ++block)
        EXPECT_EQ(fat_of(card, block), 0xFFFC) << block;
    EXPECT_EQ(fat_of(card, 241), 0xFFFA);
    for (std::size_t block = 242; block <= 253; ++block)
        EXPECT_EQ(fat_of(card, block), block - 1) << block;
    EXPECT_EQ(fat_of(card, 254), 0xFFFA);
    EXPECT_EQ(fat_of(card, 255), 0xFFFA);

    const std::uint8_t* root = card.bytes.data() + 255 * 512;
    EXPECT_TRUE(std::all_of(root, root + 16, [](std::uint8_t b) { return b == 0x55; }));
    const std::uint8_t colour[] = {1, 0x56, 0x34, 0x12, 0x78};  // flag, blue, green, red, alpha
    EXPECT_TRUE(std::equal(colour, colour + 5, root + 0x10));
    // 2002-03-04 was a Monday: weekday 0.
    const std::uint8_t stamp[] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
    EXPECT_TRUE(std::equal(stamp, stamp + 8, root + 0x30));
    const std::uint8_t media[] = {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFE, 0x00,
                                  0x01, 0x00, 0xFD, 0x00, 0x0D, 0x00, 0x07, 0x00,
                                  0xC8, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x80, 0x00};
    EXPECT_TRUE(std::equal(media, media + 24, root + 0x40));
    EXPECT_TRUE(std::all_of(root + 0x58, root + 512, [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::all_of(root + 0x15, root + 0x30, [](std::uint8_t b) { return b == 0; }));
}

TEST(ByteOrder, IsToldByContentAndKeptOnWriting) {
    card_image card = blank_card();
    put(card, test_file("FILE", 3));
    for (const card_order order : {card_order::raw, card_order::dcm}) {
        card.order = order;
        const std::vector<std::uint8_t> file = card_to_file(card);
        if (order == card_order::dcm) {
            // Every four bytes reversed: the FAT's first entry 0xFFFC reads FF FC ...
            EXPECT_EQ(file[254 * 512 + 3], card.bytes[254 * 512]);
            EXPECT_EQ(file[254 * 512], card.bytes[254 * 512 + 3]);
        }
        card_image read;
        std::string reason;
        ASSERT_TRUE(card_from_file(file, read, reason)) << reason;
        EXPECT_EQ(read.order, order);
        EXPECT_EQ(read.bytes, card.bytes);
        EXPECT_EQ(card_to_file(read), file);
    }
}

TEST(CardFile, RefusesOtherSizesAndTheCompressedContainer) {
    struct refusal {
        std::vector<std::uint8_t> bytes;
        const char* reason;
    };
    std::vector<std::uint8_t> container(4000, 0);
    const char magic[] = "%!Dreamcast$VMU";
    std::copy(magic, magic + 16, container.begin());
    const refusal cases[] = {
        {{}, "0 bytes"},
        {std::vector<std::uint8_t>(131071), "131071 bytes"},
        {std::vector<std::uint8_t>(131073), "131073 bytes"},
        {container, "compressed container"},
    };
    for (const refusal& c : cases) {
        card_image card;
        std::string reason;
        EXPECT_FALSE(card_from_file(c.bytes, card, reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

// A card of a game and two data files, all clean, that each case then breaks.
struct sample {
    card_image card = blank_card();
    std::size_t game, first, second;  // slots
    sample() {
        first = put(card, test_file("FIRST", 2));
        second = put(card, test_file("SECOND", 3));
        game = put(card, test_file("GAME", 4, true));
        // A real data save, so that its checksum can be broken.
        card_new_file save = test_file("SAVE", 0);
        save.content = make_save({});
        put(card, save);
    }
};

struct finding {
    const char* what;
    bool error;
    std::function<void(sample&)> damage;
};

TEST(Check, FindsEachFaultOnItsOwnCard) {
    // SECOND lies in blocks 197, 196, 195; FIRST in 199, 198; the game in 0-3.
    const finding cases[] = {
        {"no format mark", true, [](sample& s) { root_byte(s.card, 3) = 0; }},
        {"the FAT (block 300) lies outside the card", true,
         [](sample& s) { root_byte(s.card, 0x46) = 300 & 0xFF, root_byte(s.card, 0x47) = 1; }},
        {"the directory (300 blocks from block 253) lies outside the card", true,
         [](sample& s) { root_byte(s.card, 0x4C) = 300 & 0xFF, root_byte(s.card, 0x4D) = 1; }},
        {"the system chain is broken at block 250", true,
         [](sample& s) { set_fat(s.card, 250, 0xFFFC); }},
        {"#1 SECOND: the chain leaves the card after block 197", true,
         [](sample& s) { set_fat(s.card, 197, 0x1234); }},
        {"#1 SECOND: the chain enters the free block 196", true,
         [](sample& s) { set_fat(s.card, 196, 0xFFFC); }},
        {"#1 SECOND: the chain enters the damaged block 196", true,
         [](sample& s) { set_fat(s.card, 196, 0xFFFF); }},
        {"#1 SECOND: the chain loops back to block 197", true,
         [](sample& s) { set_fat(s.card, 196, 197); }},
        {"#1 SECOND: the chain has 3 blocks, the entry says 4", true,
         [](sample& s) { entry_byte(s.card, s.second, 0x18) = 4; }},
        {"block 198 is in two chains: #0 FIRST and #1 SECOND", true,
         [](sample& s) { set_fat(s.card, 196, 198); }},
        {"#1 SECOND: the game starts at block 197, not 0", true,
         [](sample& s) {
             entry_byte(s.card, s.game, 0) = 0x33;
             entry_byte(s.card, s.second, 0) = 0xCC;
         }},
        {"#2 GAME: the game is not contiguous (block 2 follows block 0)", true,
         [](sample& s) { set_fat(s.card, 0, 2), set_fat(s.card, 2, 1), set_fat(s.card, 1, 3); }},
        {"#2 GAME: the game has 4 blocks, more than the card's maximum of 3", true,
         [](sample& s) { root_byte(s.card, 0x56) = 3; }},
        {"#2 GAME: a second game (the first is #0 FIRST)", true,
         [](sample& s) { entry_byte(s.card, s.first, 0) = 0xCC; }},
        {"#1 SECOND: unknown entry type 0x42", true,
         [](sample& s) { entry_byte(s.card, s.second, 0) = 0x42; }},
        {"1 lost block (allocated, in no file): 100", false,
         [](sample& s) { set_fat(s.card, 100, 0xFFFA); }},
        {"the name SECOND is on several entries: #0, #1", false,
         [](sample& s) {
             const char name[12] = "SECOND";
             std::copy(name, name + 12, &entry_byte(s.card, s.first, 4));
         }},
        {"the root names the directory by its lowest block (241)", false,
         [](sample& s) { root_byte(s.card, 0x4A) = 241; }},
        {"an unlocked user area of 241 blocks", false,
         [](sample& s) { root_byte(s.card, 0x50) = 241; }},
        {"#3 SAVE: vmurx-save check fails it (checksum", false,
         [](sample& s) { s.card.bytes[193 * 512 + 0x90] ^= 0x80; }},
    };
    {
        const sample clean;
        const card_report report = card_check(clean.card);
        EXPECT_TRUE(report.errors.empty() && report.warnings.empty())
            << (report.errors.empty() ? report.warnings : report.errors).front();
    }
    for (const finding& c : cases) {
        sample s;
        c.damage(s);
        const card_report report = card_check(s.card);
        const auto& found = c.error ? report.errors : report.warnings;
        const bool seen = std::any_of(found.begin(), found.end(), [&](const std::string& f) {
            return f.rfind(c.what, 0) == 0;
        });
        std::string all;
        for (const auto& f : report.errors)
            all += "\n  error: " + f;
        for (const auto& f : report.warnings)
            all += "\n  warning: " + f;
        EXPECT_TRUE(seen) << "expected " << (c.error ? "error: " : "warning: ") << c.what << all;
        if (!c.error) {
            EXPECT_TRUE(report.errors.empty()) << c.what << all;
        }
    }
}

TEST(EntryStamps, AreReadLenientlyAndOnlyDatesCount) {
    const struct {
        std::array<std::uint8_t, 8> bcd;
        std::optional<save_stamp> expected;
    } cases[] = {
        {{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00}, TEST_STAMP},
        {{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xFF}, TEST_STAMP},    // no weekday
        {{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x06}, TEST_STAMP},    // a wrong one
        {{0x00, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00}, std::nullopt},  // no century
        {{0x20, 0x02, 0x02, 0x30, 0x05, 0x06, 0x07, 0x00}, std::nullopt},  // 30 February
        {{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x7A, 0x00}, std::nullopt},  // not BCD
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        card_file file;
        file.stamp = c.bcd;
        EXPECT_EQ(card_file_stamp(file), c.expected) << int(c.bcd[0]) << " " << int(c.bcd[3]);
    }
}

TEST(Layout, ReadsADirectoryNamedByItsLowestBlockFromTheSystemChain) {
    card_image card = blank_card();
    put(card, test_file("FIRST", 1));
    root_byte(card, 0x4A) = 241;
    const card_layout layout = layout_of(card);
    EXPECT_TRUE(layout.directory_from_lowest);
    ASSERT_EQ(layout.directory.size(), 13u);
    EXPECT_EQ(layout.directory.front(), 253);
    EXPECT_EQ(card_files(card, layout).size(), 1u);
}

// The root keeps the count of user blocks at 0x50, low byte first; the user
// area a file may take ends there or at the lowest system block (the
// directory's 241 on a blank card), whichever comes first.
TEST(Layout, TheUserBlockCountIsWrittenToTheRootAndBoundsWhereDataGoes) {
    const struct {
        std::uint16_t count;
        std::uint16_t user_end;
    } cases[] = {{200, 200}, {100, 100}, {241, 241}, {0x0120, 241}, {1, 1}};
    for (const auto& c : cases) {
        card_image card = blank_card();
        card_set_user_blocks(card, c.count);
        EXPECT_EQ(root_byte(card, 0x50), c.count & 0xFF) << c.count;
        EXPECT_EQ(root_byte(card, 0x51), c.count >> 8) << c.count;
        const card_layout layout = layout_of(card);
        EXPECT_EQ(layout.user_blocks, c.count);
        EXPECT_EQ(layout.user_end, c.user_end) << c.count;
        const std::size_t slot = put(card, test_file("DATA", 1));
        EXPECT_EQ(card_read_entry(card, layout, slot).first_block, c.user_end - 1) << c.count;
    }
}

// Every program names an entry through card_find_entry: a slot names that
// slot whatever the names; a name is compared exactly, and its trailing
// spaces count only when no name matches exactly.
TEST(Entries, AreNamedBySlotWhateverTheNamesOrByName) {
    card_image card = blank_card();
    for (const char* name : {"TWIN", "TWIX", "PADDED", "A", "#1", "GAME"})
        put(card, test_file(name, 1, std::string(name) == "GAME"));
    const card_layout layout = layout_of(card);
    const auto rename = [&](std::size_t slot, const std::string& name) {
        card_file entry = card_read_entry(card, layout, slot);
        entry.name = {};
        std::copy(name.begin(), name.end(), entry.name.begin());
        card_put_entry(card, layout, entry);
    };
    rename(1, "TWIN");          // two of one name, as real cards carry
    rename(2, "PADDED      ");  // padded with spaces, as some games write them
    rename(3, "A ");
    const struct {
        std::string entry;
        long slot;  // -1: refused
        std::string reason;
    } cases[] = {
        {"#0", 0, ""},
        {"#1", 1, ""},  // a slot, though another entry is named "#1"
        {"#00005", -1, "no file of this name on the card"},  // six characters: a name
        {"#5", 5, ""},
        {"#6", -1, "no file in slot #6"},
        {"#999", -1, "no file in slot #999"},
        {"#", -1, "no file of this name on the card"},
        {"TWIN", -1, "several files have this name, give one of their slots: #0 #1"},
        {"PADDED      ", 2, ""},
        {"PADDED", 2, ""},
        {"A ", 3, ""},
        {"A", 3, ""},
        {"GAME", 5, ""},
        {"TWI", -1, "no file of this name on the card"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        std::size_t slot = 99;
        std::string reason;
        EXPECT_EQ(card_find_entry(card, layout, c.entry, slot, reason), c.slot >= 0);
        if (c.slot >= 0) {
            EXPECT_EQ(slot, static_cast<std::size_t>(c.slot));
        }
        EXPECT_EQ(reason, c.reason);
    }
}

}  // namespace
