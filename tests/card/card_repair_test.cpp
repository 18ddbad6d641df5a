// Damaged cards on bytes: a root that names a directory off the card is
// refused, not read past it; repair mends each kind of damage it can and
// leaves the rest, with the card library's own check as the judge; defrag
// leaves what lies past the user area; check flags a game entry holding a
// data save; and the names extracted files get.
#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

#include "card/card_check.h"
#include "card/card_names.h"
#include "card/card_repair.h"
#include "card_support.h"

namespace {

// Roots that only fit read upward from the block named, with a system chain
// that does not run so: the directory list would run 1, 0, 65535, ...
TEST(Layout, ADirectoryOffTheCardIsRefusedNotReadPastIt) {
    const struct {
        std::uint16_t block, size;
        const char* reason;
    } cases[] = {
        {1, 13, "the directory (13 blocks down from block 1) lies outside the card"},
        {0, 2, "the directory (2 blocks down from block 0) lies outside the card"},
        {5, 200, "the directory (200 blocks down from block 5) lies outside the card"},
        {254, 3, "the directory (3 blocks from block 254) takes block 254 of the FAT"},
        {255, 1, "the directory (1 block from block 255) takes block 255 of the root"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        card_image card = blank_card();
        put(card, test_file("FILE", 3));
        root_byte(card, 0x4A) = static_cast<std::uint8_t>(c.block);
        root_byte(card, 0x4B) = static_cast<std::uint8_t>(c.block >> 8);
        root_byte(card, 0x4C) = static_cast<std::uint8_t>(c.size);
        root_byte(card, 0x4D) = static_cast<std::uint8_t>(c.size >> 8);
        card_layout layout;
        std::string reason;
        EXPECT_FALSE(card_read_layout(card, layout, reason));
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(card_check(card).errors, std::vector<std::string>{c.reason});
        const card_image before = card;
        card_repair_report report;
        EXPECT_FALSE(card_repair(card, report, reason));
        EXPECT_FALSE(card_defrag(card, reason));
        EXPECT_EQ(card.bytes, before.bytes);
    }
    // A FAT in the root's block: its entries would be the root's fields, and
    // a repair freeing blocks would write over the format mark.
    card_image root_fat = blank_card();
    root_byte(root_fat, 0x46) = 255;
    EXPECT_EQ(card_check(root_fat).errors,
              std::vector<std::string>{"the FAT takes block 255 of the root"});
    // Named by its lowest block and running down from its highest, it is read.
    card_image card = blank_card();
    root_byte(card, 0x4A) = 241;
    EXPECT_EQ(layout_of(card).directory.front(), 253);
}

// A card of two data files and a game; each case damages it, and repair
// mends what it can. FIRST lies in 199, 198; SECOND in 197, 196, 195; GAME
// in 0 to 3.
struct damaged {
    card_image card = blank_card();
    damaged() {
        put(card, test_file("FIRST", 2));
        put(card, test_file("SECOND", 3));
        put(card, test_file("GAME", 4, true));
    }
};

// The bytes of every block but the FAT and the directory.
std::vector<std::uint8_t> blocks_but_system(const card_image& card) {
    std::vector<std::uint8_t> bytes = card.bytes;
    std::fill(bytes.begin() + 241 * 512, bytes.begin() + 255 * 512, 0);
    return bytes;
}

// A file cut short may go on in the blocks that are now lost: the run that
// cut it keeps them, and only a second run frees them (`second`).
TEST(Repair, MendsWhatItCanAndLeavesWhatNeedsAChoice) {
    const std::string kept_for_the_cut =
        " not freed: a file shortened now may go on in them (a copy of the card keeps them; a "
        "second repair frees them)";
    const struct {
        const char* what;
        std::function<void(card_image&)> damage;
        std::vector<std::string> mended, left;
        std::size_t errors_after;
        std::vector<std::string> second;
    } cases[] = {
        {"a chain that loops: its own lost tail waits",
         [](card_image& c) { set_fat(c, 196, 197); },
         {"#1 SECOND: the chain loops back to block 197: ended at block 196, now 2 blocks (the "
          "entry said 3)"},
         {"1 block lost (195)" + kept_for_the_cut},
         0,
         {"freed 1 block allocated in no file: 195"}},
        {"a chain that leaves the card: its own lost tail waits",
         [](card_image& c) { set_fat(c, 197, 0x1234); },
         {"#1 SECOND: the chain leaves the card after block 197 (next 0x1234): ended at block "
          "197, now 1 block (the entry said 3)"},
         {"2 blocks lost (195-196)" + kept_for_the_cut},
         0,
         {"freed 2 blocks allocated in no file: 195-196"}},
        {"a chain that loops only past the entry's size is not made longer",
         [](card_image& c) { set_fat(c, 195, 10), set_fat(c, 10, 197); },
         {},
         {"#1 SECOND: the chain loops back to block 197 (remove it, or mend it by hand)"},
         1,
         {}},
        {"a chain that leaves the card only past the entry's size",
         [](card_image& c) { set_fat(c, 195, 10), set_fat(c, 10, 0x1234); },
         {},
         {"#1 SECOND: the chain leaves the card after block 10 (next 0x1234) (remove it, or mend "
          "it by hand)"},
         1,
         {}},
        {"an entry that says more than its chain holds",
         [](card_image& c) { entry_byte(c, 1, 0x18) = 5; },
         {"#1 SECOND: the chain has 3 blocks, the entry says 5: now 3 blocks (the entry said 5)"},
         {},
         0,
         {}},
        {"an entry shortened to its chain keeps the lost blocks",
         [](card_image& c) { entry_byte(c, 1, 0x18) = 5, set_fat(c, 7, 0xFFFA); },
         {"#1 SECOND: the chain has 3 blocks, the entry says 5: now 3 blocks (the entry said 5)"},
         {"1 block lost (7)" + kept_for_the_cut},
         0,
         {"freed 1 block allocated in no file: 7"}},
        {"lost blocks only",
         [](card_image& c) {
             for (std::size_t block = 100; block <= 150; ++block)
                 set_fat(c, block, block == 150 ? 0xFFFA : static_cast<std::uint16_t>(block + 1));
             set_fat(c, 7, 0xFFFA);
         },
         {"freed 52 blocks allocated in no file: 7, 100-150"},
         {},
         0,
         {}},
        {"a chain that runs into a free block: its lost tail waits",
         [](card_image& c) { set_fat(c, 196, 0xFFFC); },
         {},
         {"#1 SECOND: the chain enters the free block 196 (remove it, or mend it by hand)",
          "1 block lost (195) not freed while a damaged file may still reach them"},
         1,
         {}},
        {"two files sharing a block",
         [](card_image& c) { set_fat(c, 196, 198); },
         {},
         {"block 198 is in two chains, #0 FIRST and #1 SECOND (remove one of them, then check "
          "the other)",
          "1 block lost (195) not freed while a damaged file may still reach them"},
         1,
         {}},
        {"two chains looping through each other's blocks",
         [](card_image& c) { set_fat(c, 198, 199), set_fat(c, 197, 198); },
         {},
         {"block 198 is in two chains, #0 FIRST and #1 SECOND (remove one of them, then check "
          "the other)",
          "block 199 is in two chains, #0 FIRST and #1 SECOND (remove one of them, then check "
          "the other)",
          "2 blocks lost (195-196) not freed while a damaged file may still reach them"},
         4,
         {}},
        {"blocks past the user area that some tools mark taken",
         [](card_image& c) {
             for (std::size_t block = 200; block <= 240; ++block)
                 set_fat(c, block, 0xFFFA);
         },
         {},
         {},
         0,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        damaged d;
        c.damage(d.card);
        const card_image before = d.card;
        card_repair_report report;
        std::string reason;
        ASSERT_TRUE(card_repair(d.card, report, reason)) << reason;
        EXPECT_EQ(report.mended, c.mended);
        EXPECT_EQ(report.left, c.left);
        const card_report after = card_check(d.card);
        EXPECT_EQ(after.errors.size(), c.errors_after)
            << (after.errors.empty() ? "" : after.errors.front());
        if (c.left.empty()) {
            EXPECT_TRUE(after.lost_blocks.empty());
        }
        if (c.mended.empty()) {
            EXPECT_EQ(d.card.bytes, before.bytes) << "nothing mended, so nothing changes";
        }
        // The files' bytes stay; FIRST and GAME are whole whatever befell SECOND.
        EXPECT_EQ(blocks_but_system(d.card), blocks_but_system(before));
        const card_layout layout = layout_of(d.card);
        for (const std::size_t slot : {std::size_t{0}, std::size_t{2}}) {
            const card_file file = card_read_entry(d.card, layout, slot);
            if (c.errors_after == 0) {
                EXPECT_TRUE(
                    card_follow_chain(d.card, layout, file.first_block, file.blocks).fault.empty());
            }
        }
        // A second repair frees no more than what the first kept for a file
        // it cut short; a third finds nothing to do.
        card_repair_report again;
        ASSERT_TRUE(card_repair(d.card, again, reason));
        EXPECT_EQ(again.mended, c.second);
        ASSERT_TRUE(card_repair(d.card, again, reason));
        EXPECT_TRUE(again.mended.empty());
    }
}

// What the issue met: a file whose chain looped is removed, and the blocks
// beyond the loop stay allocated; repair frees them.
TEST(Repair, FreesWhatARemovedLoopingFileLeftBehind) {
    card_image card = blank_card();
    const std::size_t big = put(card, test_file("BIG", 100));
    set_fat(card, 198, 199);  // BIG: 199, 198, then back to 199
    std::string reason;
    ASSERT_TRUE(card_remove(card, big, reason));
    EXPECT_EQ(card_check(card).warnings,
              std::vector<std::string>{"98 lost blocks (allocated, in no file): 100-197"});
    EXPECT_FALSE(card_defrag(card, reason));
    card_repair_report report;
    ASSERT_TRUE(card_repair(card, report, reason));
    EXPECT_EQ(report.mended,
              std::vector<std::string>{"freed 98 blocks allocated in no file: 100-197"});
    const card_report after = card_check(card);
    EXPECT_TRUE(after.errors.empty() && after.warnings.empty());
    put(card, test_file("ROOM", 200));
}

TEST(Defrag, PacksTheUserAreaAndLeavesWhatLiesPastIt) {
    // Blocks 200 to 240 as other tools and emulators leave them.
    for (const std::uint16_t mark : {0x0000, 0xFFFA, 0x00C9, 0xFFFF}) {
        SCOPED_TRACE(mark);
        card_image card = blank_card();
        for (std::size_t block = 200; block <= 240; ++block)
            set_fat(card, block, mark);
        const std::size_t a = put(card, test_file("A", 3));
        put(card, test_file("B", 2));
        std::string reason;
        ASSERT_TRUE(card_remove(card, a, reason));
        const card_report report = card_check(card);
        EXPECT_TRUE(report.errors.empty() && report.warnings.empty());
        ASSERT_TRUE(card_defrag(card, reason)) << reason;
        for (std::size_t block = 200; block <= 240; ++block)
            EXPECT_EQ(fat_of(card, block), mark) << block;
        EXPECT_EQ(card_files(card, layout_of(card)).front().first_block, 199);
        put(card, test_file("GAME", 128, true));
        EXPECT_TRUE(card_check(card).errors.empty());
    }
}

TEST(Check, FlagsAGameEntryHoldingADataSave) {
    card_image card = blank_card();
    card_new_file save = test_file("SAVE", 0, true);
    save.content = make_save({});
    put(card, save);
    EXPECT_EQ(card_check(card).warnings,
              std::vector<std::string>{"#0 SAVE: a game entry holding a data save (its header is "
                                       "at 0, not at 0x200, as a game's)"});
    card_image game = blank_card();
    card_new_file real = test_file("REAL", 0, true);
    real.content = make_save({.game = true});
    put(game, real);
    EXPECT_TRUE(card_check(game).warnings.empty());
}

TEST(ExtractNames, AreChosenForTheWholeRunAndAgainstTheFolder) {
    const struct {
        const char* rule;
        std::vector<std::string> cards;
        card_name_form form;
        std::vector<std::string> in_folder;
        std::vector<std::string> stems;  // "~" marks a chosen one: "A~2~"
    } cases[] = {
        {"twins and an entry named like a twin's name",
         {"A", "A", "A~2"},
         card_name_form::raw,
         {},
         {"A", "A~3~", "A~2"}},
        {"a twin's name skips what the folder holds",
         {"A", "A"},
         card_name_form::raw,
         {"A~2"},
         {"A", "A~3~"}},
        {"an own name in the folder is kept (to be refused or replaced)",
         {"A"},
         card_name_form::dci,
         {"A"},
         {"A"}},
        {"letter case", {"ab", "AB"}, card_name_form::raw, {}, {"ab", "AB~2~"}},
        {"a .VMS name cut to 8 bytes",
         {"SONIC2___S01", "SHORT", "A.B C"},
         card_name_form::vms,
         {},
         {"SONIC2__~", "SHORT", "A_B_C~"}},
        {"made .VMS names are unique",
         {"SONIC2___S01", "SONIC2___S02"},
         card_name_form::vms,
         {"SONIC2__"},
         {"SONIC2~2~", "SONIC2~3~"}},
        {"an empty name", {std::string("\0\0", 2)}, card_name_form::vms, {}, {"_~"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const auto names = card_disk_names(c.cards, c.form, [&](const std::string& stem) {
            return std::find(c.in_folder.begin(), c.in_folder.end(), stem) != c.in_folder.end();
        });
        std::vector<std::string> shown;
        for (const card_disk_name& n : names)
            shown.push_back(n.stem + (n.chosen ? "~" : ""));
        EXPECT_EQ(shown, c.stems);
    }
    // A folder where every name is taken.
    const auto none = card_disk_names({"A", "A"}, card_name_form::raw,
                                      [](const std::string& stem) { return stem != "A"; });
    EXPECT_EQ(none[1].stem, "");
}

}  // namespace
