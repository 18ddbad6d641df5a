// The card's own placement of a new file, held to the rule its system
// software follows: a game in blocks 0 upward, every one of them free; a
// data file in the free user blocks from block 199 downward; the entry in
// the first free slot. The expected blocks are written from that rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "card/card_place.h"
#include "card_support.h"

namespace {

std::vector<std::uint16_t> run(std::uint16_t from, std::uint16_t count, bool down) {
    std::vector<std::uint16_t> blocks(count);
    for (std::uint16_t i = 0; i < count; ++i)
        blocks[i] = static_cast<std::uint16_t>(down ? from - i : from + i);
    return blocks;
}

// Blocks `first` to `last` taken by a file nobody names, as a fragmented
// card leaves them after files came and went.
void take(card_image& card, std::uint16_t first, std::uint16_t last) {
    for (std::uint16_t block = first; block <= last; ++block)
        set_fat(card, block, block == last ? FAT_END : static_cast<std::uint16_t>(block + 1));
}

}  // namespace

TEST(CardPlacement, FollowsTheCardsOwnRule) {
    const struct {
        const char* rule;
        void (*prepare)(card_image&);
        bool game;
        std::uint16_t count;
        std::vector<std::uint16_t> expected;
    } cases[] = {
        {"a data file from block 199 down", [](card_image&) {}, false, 3, run(199, 3, true)},
        {"a game from block 0 up", [](card_image&) {}, true, 12, run(0, 12, false)},
        {"the whole user area as data", [](card_image&) {}, false, 200, run(199, 200, true)},
        // The card checks no largest game: only that its blocks are free.
        {"a game of 200 blocks", [](card_image&) {}, true, 200, run(0, 200, false)},
        {"data skips the blocks in use",
         [](card_image& c) {
             take(c, 198, 198);
             take(c, 195, 196);
         },
         false, 4, std::vector<std::uint16_t>{199, 197, 194, 193}},
        {"data fills down to block 0 past a game", [](card_image& c) { take(c, 0, 9); }, false, 190,
         run(199, 190, true)},
        {"data finds no room when one block is missing",
         [](card_image& c) { take(c, 0, 9); },
         false,
         191,
         {}},
        {"a game needs block 0 free", [](card_image& c) { take(c, 0, 0); }, true, 1, {}},
        {"a game needs each of its blocks free",
         [](card_image& c) { take(c, 11, 11); },
         true,
         12,
         {}},
        {"a game ends before a data file", [](card_image& c) { take(c, 11, 11); }, true, 11,
         run(0, 11, false)},
        {"a game larger than the user area", [](card_image&) {}, true, 201, {}},
        {"no blocks at all", [](card_image&) {}, false, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        card_image card = blank_card();
        c.prepare(card);
        EXPECT_EQ(card_choose_blocks(card, layout_of(card), c.game, c.count), c.expected);
    }
}

TEST(CardPlacement, TakesTheFirstFreeSlotAndCountsFreeUserBlocks) {
    card_image card = blank_card();
    const card_layout layout = layout_of(card);
    EXPECT_EQ(card_free_slot(card, layout), 0U);
    EXPECT_EQ(card_free_user_blocks(card, layout), 200U);
    put(card, test_file("FIRST", 2));
    put(card, test_file("SECOND", 3));
    std::string reason;
    ASSERT_TRUE(card_remove(card, 0, reason)) << reason;
    EXPECT_EQ(card_free_slot(card, layout), 0U);
    EXPECT_EQ(card_free_user_blocks(card, layout), 197U);
    for (std::size_t slot = 0; slot < card_slot_count(layout); ++slot)
        entry_byte(card, slot, 0) = TYPE_DATA;
    EXPECT_EQ(card_free_slot(card, layout), std::nullopt);
}

TEST(CardPlacement, WritesTheChainPaddedAndLinkedInOrder) {
    card_image card = blank_card();
    const card_layout layout = layout_of(card);
    std::vector<std::uint8_t> content(2 * IMAGE_BLOCK_SIZE - 10);
    std::iota(content.begin(), content.end(), std::uint8_t{1});
    card_block(card, 150)[511] = 0xEE;  // a used block keeps nothing of what was there
    card_write_chain(card, layout, {199, 150}, content);
    EXPECT_EQ(fat_of(card, 199), 150);
    EXPECT_EQ(fat_of(card, 150), FAT_END);
    EXPECT_TRUE(std::equal(content.begin(), content.begin() + 512, card_block(card, 199).begin()));
    EXPECT_TRUE(std::equal(content.begin() + 512, content.end(), card_block(card, 150).begin()));
    EXPECT_EQ(card_block(card, 150)[511], 0x00);
}

TEST(CardPlacement, TheEntrysTailIsTheDirectoryFramesBytes) {
    card_file file;
    file.stamp = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
    file.blocks = 0x0112;
    file.header_block = 1;
    const directory_tail tail = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06,
                                 0x07, 0x00, 0x12, 0x01, 0x01, 0x00};
    EXPECT_EQ(card_entry_tail(file), tail);
    card_file back;
    card_set_entry_tail(back, tail);
    EXPECT_EQ(back.stamp, file.stamp);
    EXPECT_EQ(back.blocks, file.blocks);
    EXPECT_EQ(back.header_block, file.header_block);
}
