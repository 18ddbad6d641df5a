// Changing cards in memory: where data files and games go, when they are
// refused, what defrag and remove leave, and a long random run of all of them
// against a simple model of what the card should hold.
#include <algorithm>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_repair.h"
#include "card_support.h"

namespace {

// "F12" and the like, appended piece by piece: GCC 12 at -O3 warns falsely
// (-Wrestrict) about a literal + a temporary string.
std::string numbered(const char* prefix, unsigned number) {
    std::string name = prefix;
    name += std::to_string(number);
    return name;
}

std::vector<std::uint16_t> chain_of(const card_image& card, std::size_t slot) {
    const card_layout layout = layout_of(card);
    const card_file file = card_read_entry(card, layout, slot);
    return card_follow_chain(card, layout, file.first_block, file.blocks).blocks;
}

std::vector<std::uint8_t> content_of(const card_image& card, std::size_t slot) {
    const card_layout layout = layout_of(card);
    const card_file file = card_read_entry(card, layout, slot);
    return card_chain_bytes(card, card_follow_chain(card, layout, file.first_block, file.blocks));
}

std::string add_fails(card_image& card, const card_new_file& file, bool defrag_helps = false) {
    const card_image before = card;
    std::size_t slot = 0;
    card_add_error error;
    EXPECT_FALSE(card_add(card, file, slot, error)) << file.name;
    EXPECT_EQ(card.bytes, before.bytes) << "a refused add changed the card";
    EXPECT_EQ(error.defrag_helps, defrag_helps) << error.reason;
    return error.reason;
}

TEST(Allocation, DataGoesDownwardFromTheHighestFreeBlockAndFillsGaps) {
    card_image card = blank_card();
    const std::size_t a = put(card, test_file("A", 2));
    const std::size_t b = put(card, test_file("B", 3));
    EXPECT_EQ(chain_of(card, a), (std::vector<std::uint16_t>{199, 198}));
    EXPECT_EQ(chain_of(card, b), (std::vector<std::uint16_t>{197, 196, 195}));
    std::string reason;
    ASSERT_TRUE(card_remove(card, a, reason)) << reason;
    // The freed slot and blocks 199 and 198 are taken first, then below B.
    const std::size_t c = put(card, test_file("C", 4));
    EXPECT_EQ(c, a);
    EXPECT_EQ(chain_of(card, c), (std::vector<std::uint16_t>{199, 198, 194, 193}));
    EXPECT_EQ(content_of(card, c), test_file("C", 4).content);

    // The entry's own fields.
    card_new_file padded = test_file("PAD", 1);
    padded.content.resize(100);
    padded.protect = true;
    const std::size_t p = put(card, padded);
    const card_file entry = card_read_entry(card, layout_of(card), p);
    EXPECT_EQ(entry.type, 0x33);
    EXPECT_EQ(entry.protection, 0xFF);
    EXPECT_EQ(entry.first_block, 192);
    EXPECT_EQ(card_file_name(entry), "PAD");
    EXPECT_EQ(entry.name[3], 0);
    const std::array<std::uint8_t, 8> stamp{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};
    EXPECT_EQ(entry.stamp, stamp);
    EXPECT_EQ(entry.blocks, 1);
    EXPECT_EQ(entry.header_block, 0);
    EXPECT_EQ(entry.reserved, (std::array<std::uint8_t, 4>{}));
    std::vector<std::uint8_t> expected = padded.content;
    expected.resize(512, 0);
    EXPECT_EQ(content_of(card, p), expected);
}

TEST(Allocation, RefusesWithWhatIsNeeded) {
    card_image card = blank_card();
    put(card, test_file("BIG", 150));
    const struct {
        card_new_file file;
        const char* reason;
    } cases[] = {
        {test_file("BIG", 1), "the name is on the card already (#0 BIG)"},
        {test_file("MORE", 51), "needs 51 blocks, 50 are free"},
        {test_file("THIRTEEN_LONG", 1), "a card name has 1 to 12 bytes"},
        {test_file("EMPTY", 0), "the file is empty"},
        {test_file("GAME", 51, true), "needs 51 blocks, 50 are free"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(add_fails(card, c.file), c.reason);

    card_image full = blank_card();
    for (int i = 0; i < 200; ++i)
        put(full, test_file(numbered("F", i), 1));
    card_layout layout = layout_of(full);
    std::string reason;
    ASSERT_TRUE(card_remove(full, 7, reason));
    // Free blocks but no free slot: fill the directory with stray entries.
    for (std::size_t slot = 200; slot < 208; ++slot)
        entry_byte(full, slot, 0) = 0x33;
    entry_byte(full, 7, 0) = 0x33;
    EXPECT_EQ(add_fails(full, test_file("LAST", 1)), "the directory is full (208 entries)");
}

TEST(Games, StartAtBlockZeroOnlyOnceAndWithinTheMaximum) {
    card_image card = blank_card();
    const std::size_t game = put(card, test_file("GAME", 5, true));
    const card_file entry = card_read_entry(card, layout_of(card), game);
    EXPECT_EQ(entry.type, 0xCC);
    EXPECT_EQ(entry.header_block, 1);
    EXPECT_EQ(chain_of(card, game), (std::vector<std::uint16_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(add_fails(card, test_file("OTHER", 1, true)),
              "the card holds a game already (#0 GAME)");

    card_image small = blank_card();
    EXPECT_EQ(add_fails(small, test_file("HUGE", 129, true)),
              "the game has 129 blocks, the card takes games of at most 128");
    root_byte(small, 0x56) = 0;  // left 0 by some tools: 128
    put(small, test_file("MAX", 128, true));
}

TEST(Games, FindRoomAfterDefragPacksTheDataFilesToTheTop) {
    card_image card = blank_card();
    // 196 of 200 blocks in data files; removing some leaves holes low down.
    std::vector<std::size_t> slots;
    for (int i = 0; i < 49; ++i)
        slots.push_back(put(card, test_file(numbered("D", i), 4)));
    std::string reason;
    for (int i = 0; i < 49; i += 2)
        ASSERT_TRUE(card_remove(card, slots[static_cast<std::size_t>(i)], reason));
    // 104 blocks free, but D47 holds blocks 8 to 11.
    EXPECT_EQ(add_fails(card, test_file("GAME", 100, true), true),
              "a game needs blocks 0 to 99, but block 8 is taken");

    std::map<std::size_t, std::vector<std::uint8_t>> before;
    for (const card_file& f : card_files(card, layout_of(card)))
        before[f.slot] = content_of(card, f.slot);
    ASSERT_TRUE(card_defrag(card, reason)) << reason;
    std::uint16_t top = 199;
    for (const card_file& f : card_files(card, layout_of(card))) {
        EXPECT_EQ(content_of(card, f.slot), before[f.slot]) << f.slot;
        EXPECT_EQ(f.first_block, top) << f.slot;  // in slot order, packed from the top
        top = static_cast<std::uint16_t>(top - f.blocks);
    }
    put(card, test_file("GAME", 100, true));
    EXPECT_TRUE(card_check(card).errors.empty());
}

TEST(Defrag, RefusesLostBlocksAndErrors) {
    card_image lost = blank_card();
    put(lost, test_file("A", 1));
    set_fat(lost, 10, 0xFFFA);
    std::string reason;
    const card_image before = lost;
    EXPECT_FALSE(card_defrag(lost, reason));
    EXPECT_EQ(reason, "1 block is allocated but in no file; packing would overwrite it");
    EXPECT_EQ(lost.bytes, before.bytes);

    card_image broken = blank_card();
    put(broken, test_file("A", 2));
    set_fat(broken, 198, 0xFFFC);
    EXPECT_FALSE(card_defrag(broken, reason));
    EXPECT_EQ(reason, "the card has errors (vmurx-card check lists them)");
}

TEST(Remove, FreesTheChainKeepsTheBytesAndSparesCrossLinkedBlocks) {
    card_image card = blank_card();
    const std::size_t a = put(card, test_file("A", 2));
    const std::size_t b = put(card, test_file("B", 2));
    const card_image before = card;
    std::string reason;
    ASSERT_TRUE(card_remove(card, a, reason));
    EXPECT_EQ(fat_of(card, 199), 0xFFFC);
    EXPECT_EQ(fat_of(card, 198), 0xFFFC);
    EXPECT_TRUE(std::equal(before.bytes.begin() + 198 * 512, before.bytes.begin() + 200 * 512,
                           card.bytes.begin() + 198 * 512));
    EXPECT_TRUE(std::all_of(&entry_byte(card, a, 0), &entry_byte(card, a, 0) + 32,
                            [](std::uint8_t x) { return x == 0; }));
    EXPECT_TRUE(card_check(card).errors.empty());

    // B's chain runs on into block 250 of the directory: removing B frees
    // its own blocks only.
    set_fat(card, 196, 250);
    entry_byte(card, b, 0x18) = 16;
    ASSERT_FALSE(card_check(card).errors.empty());
    ASSERT_TRUE(card_remove(card, b, reason));
    EXPECT_EQ(fat_of(card, 197), 0xFFFC);
    EXPECT_EQ(fat_of(card, 196), 0xFFFC);
    EXPECT_EQ(fat_of(card, 250), 249);
    EXPECT_EQ(card_check(card).errors, std::vector<std::string>{});
}

// Damages a random file of the model as a failing card or tool would: its
// chain looping back or leaving the card after a random block, which cuts
// the file short there and leaves the rest of its blocks lost, or a free
// block marked taken; then repairs the card (twice where the first run kept
// the lost tail of a file it cut) and follows in the model.
void damage_and_repair(card_image& card, std::map<std::string, std::vector<std::uint8_t>>& model,
                       std::mt19937& random) {
    const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    const card_layout layout = layout_of(card);
    auto it = model.begin();
    std::advance(it, static_cast<long>(pick(model.size())));
    std::size_t slot = 0;
    std::string reason;
    ASSERT_TRUE(card_find_entry(card, layout, it->first, slot, reason));
    const std::vector<std::uint16_t> chain = chain_of(card, slot);
    const std::size_t kind = pick(3);
    const bool cut = kind != 2 && chain.size() >= 2;
    if (!cut) {
        for (std::size_t block = 0; block < layout.user_end; ++block) {
            if (fat_of(card, block) == FAT_FREE) {
                set_fat(card, block, FAT_END);
                break;
            }
        }
    } else {
        const std::size_t last = pick(chain.size() - 1);  // the last good block
        set_fat(card, chain[last],
                kind == 0 ? chain[pick(last + 1)] : static_cast<std::uint16_t>(0x0100 + last));
        it->second.resize((last + 1) * IMAGE_BLOCK_SIZE);
    }
    card_repair_report report;
    ASSERT_TRUE(card_repair(card, report, reason)) << reason;
    if (cut) {
        // The run that cut the file keeps its lost tail; a second frees it.
        ASSERT_EQ(report.left.size(), 1u);
        EXPECT_NE(report.left.front().find(" not freed: a file shortened now"), std::string::npos);
        ASSERT_TRUE(card_repair(card, report, reason)) << reason;
    }
    ASSERT_TRUE(report.left.empty()) << report.left.front();
}

// Random adds, removes, defrags and repairs of random damage against a model
// of names and contents.
TEST(Model, RandomEditsKeepTheCardCleanAndEveryFileWhole) {
    struct modelled {
        std::vector<std::uint8_t> content;
        bool game;
    };
    std::map<std::string, modelled> model;
    std::mt19937 random(17);
    const auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
    card_image card = blank_card();
    unsigned next_name = 0;
    int made_room = 0;  // games that fit only after a defrag
    int repaired = 0;
    for (int step = 0; step < 400; ++step) {
        std::size_t used = 0;
        bool has_game = false;
        for (const auto& [name, f] : model) {
            used += f.content.size() / 512;
            has_game = has_game || f.game;
        }
        const unsigned op = pick(10);
        std::string reason;
        if (op < 5 || model.empty()) {
            const bool game = !has_game && pick(4) == 0;
            card_new_file file =
                test_file(numbered("N", next_name++), 1 + pick(game ? 60 : 24), game);
            file.content[5] = static_cast<std::uint8_t>(step);
            std::size_t slot = 0;
            card_add_error error;
            bool added = card_add(card, file, slot, error);
            reason = error.reason;
            const std::size_t blocks = file.content.size() / 512;
            if (!added && game && blocks <= 200 - used) {
                ASSERT_TRUE(error.defrag_helps) << reason;
                ASSERT_TRUE(card_defrag(card, reason)) << reason;
                added = card_add(card, file, slot, reason);
                ++made_room;
            }
            ASSERT_EQ(added, blocks <= 200 - used && model.size() < 208)
                << "step " << step << ": " << reason;
            if (added)
                model[file.name] = {file.content, game};
        } else if (op < 9) {
            auto it = model.begin();
            std::advance(it, pick(static_cast<unsigned>(model.size())));
            std::size_t slot = 0;
            ASSERT_TRUE(card_find_entry(card, layout_of(card), it->first, slot, reason));
            ASSERT_TRUE(card_remove(card, slot, reason)) << reason;
            model.erase(it);
        } else {
            ASSERT_TRUE(card_defrag(card, reason)) << reason;
        }
        if (step % 7 == 3 && !model.empty()) {
            std::map<std::string, std::vector<std::uint8_t>> contents;
            for (const auto& [name, f] : model)
                contents[name] = f.content;
            damage_and_repair(card, contents, random);
            for (auto& [name, f] : model)
                f.content = contents[name];
            ++repaired;
        }
        if (step % 50 == 0)
            card.order = card.order == card_order::raw ? card_order::dcm : card_order::raw;
        card_image again;
        ASSERT_TRUE(card_from_file(card_to_file(card), again, reason));
        const card_report report = card_check(again);
        ASSERT_TRUE(report.errors.empty() && report.warnings.empty()) << "step " << step;
        const auto files = card_files(again, layout_of(again));
        ASSERT_EQ(files.size(), model.size());
        for (const card_file& f : files) {
            const auto it = model.find(card_file_name(f));
            ASSERT_NE(it, model.end());
            ASSERT_EQ(content_of(again, f.slot), it->second.content) << "step " << step;
        }
        card = again;
    }
    EXPECT_GT(made_room, 0);
    EXPECT_GT(repaired, 40);
}

}  // namespace
