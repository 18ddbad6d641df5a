// Roots that lie: the FAT's or the directory's field of a card of files
// changed, as a failing tool leaves it. No writer writes through such a
// root, check says so and repair mends nothing; then a sweep of lies holds
// every writer to the rule of card_untouched.h against the true layout.
#include <functional>

#include <gtest/gtest.h>

#include "card/card_check.h"
#include "card/card_repair.h"
#include "card_program.h"
#include "card_support.h"
#include "card_untouched.h"

namespace {

// Seven files, a game among them (blocks 0 to 9), as on a card played from:
// the data files lie from block 199 down.
card_image played_card() {
    card_image card = blank_card();
    put(card, test_file("GAME", 10, true));
    for (const char* name : {"SONIC2___S01", "B", "C", "D", "E", "F"})
        put(card, test_file(name, 13));
    return card;
}

// Twenty data files: slots 16 to 19 lie in the directory's second block.
card_image full_card() {
    card_image card = blank_card();
    for (unsigned i = 0; i < 20; ++i)
        put(card, test_file("F" + std::to_string(i + 10), 1 + i % 3));
    return card;
}

void set_root(card_image& card, std::size_t offset, std::uint16_t value) {
    root_byte(card, offset) = static_cast<std::uint8_t>(value);
    root_byte(card, offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

struct lie {
    std::size_t offset;
    std::uint16_t value;
};

// What the issue met on real cards, each on a card laid out as those were:
// repair freed the hidden files' blocks or wrote into a file's data, remove
// cleared 32 bytes of a file and said it had removed one.
TEST(LyingRoot, NoWriterWritesThroughItAndCheckSaysRepairMendsNothing) {
    const struct {
        const char* what;
        bool full;
        lie changed;
        const char* reason;
        bool chain_too = false;  // the FAT's system chain made to follow the directory
    } cases[] = {
        {"the directory moved one block down",
         false,
         {0x4A, 252},
         "the directory the root names (fields 0x4A and 0x4C: 13 blocks from block 252) "
         "disagrees with the system chain: block 241's FAT entry is 0xFFFA, not 0x00F0"},
        {"the directory cut to one block",
         true,
         {0x4C, 1},
         "the directory the root names (fields 0x4A and 0x4C: 1 block from block 253) disagrees "
         "with the system chain: block 253's FAT entry is 0x00FC, not 0xFFFA"},
        {"the FAT in the top data file",
         false,
         {0x46, 199},
         "the FAT the root names (field 0x46: block 199) disagrees with the system chain: block "
         "255's FAT entry is 0x8869, not 0xFFFA"},
        {"the directory in the data files",
         false,
         {0x4A, 200},
         "the directory the root names (fields 0x4A and 0x4C: 13 blocks from block 200) "
         "disagrees with the system chain: block 200's FAT entry is 0xFFFC, not 0x00C7"},
        {"the directory grown into the data files, the system chain with it",
         false,
         {0x4C, 60},
         "the directory the root names (fields 0x4A and 0x4C: 60 blocks from block 253) takes "
         "block 194 of the user area (blocks 0 to 199)",
         true},
        {"the directory in a file's data",
         false,
         {0x4A, 199},
         "the FAT and the directory the root names (fields 0x46: block 254; 0x4A and 0x4C: 13 "
         "blocks from block 199) leave block 200 out of the system blocks from 187 to 255"},
        {"the FAT in a game's data",
         false,
         {0x46, 58},
         "the FAT the root names (field 0x46: block 58)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        card_image card = c.full ? full_card() : played_card();
        set_root(card, c.changed.offset, c.changed.value);
        if (c.chain_too) {
            for (std::size_t block = 253; block > 194; --block)
                set_fat(card, block, static_cast<std::uint16_t>(block - 1));
            set_fat(card, 194, FAT_END);
        }
        const card_image before = card;
        const card_report report = card_check(card);
        EXPECT_EQ(report.unwritable.rfind(c.reason, 0), 0u) << report.unwritable;
        EXPECT_NE(std::find(report.errors.begin(), report.errors.end(), report.unwritable),
                  report.errors.end());

        card_repair_report repaired;
        std::string reason;
        ASSERT_TRUE(card_repair(card, repaired, reason)) << reason;
        EXPECT_TRUE(repaired.mended.empty());
        EXPECT_EQ(repaired.left, std::vector<std::string>{
                                     report.unwritable +
                                     " (nothing mended: mend the root or the FAT by hand, then "
                                     "repair)"});
        EXPECT_FALSE(card_remove(card, 0, reason));
        EXPECT_EQ(reason, report.unwritable);
        std::size_t slot = 0;
        EXPECT_FALSE(card_add(card, test_file("NEW", 2), slot, reason));
        EXPECT_FALSE(card_defrag(card, reason));
        EXPECT_EQ(card.bytes, before.bytes);
    }
}

// The same through the program: the refusal names the field and its
// value, check says that repair mends nothing, and the card stays as it is.
TEST(LyingRoot, TheProgramsRefusalNamesTheFieldAndTheCardStays) {
    temp_dir dir;
    card_image card = played_card();
    set_root(card, 0x4A, 199);
    write_bytes(dir, "c.bin", card.bytes);
    // The directory named so is exactly the first data file's chain.
    const std::string reason =
        "the FAT and the directory the root names (fields 0x46: block 254; 0x4A and 0x4C: 13 "
        "blocks from block 199) leave block 200 out of the system blocks from 187 to 255";
    run_result r = run(dir, "remove c.bin #0");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("vmurx-card: c.bin: " + reason, 0), 0u) << r.err;
    EXPECT_NE(r.err.find("; nothing is written through this root, and the card is unchanged "
                         "(vmurx-card check says more)\n"),
              std::string::npos)
        << r.err;
    r = run(dir, "check c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("repair can mend"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("c.bin: error: " + reason), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("c.bin: vmurx-card repair mends nothing on this card, and no command "
                         "changes it, while its root names the FAT and the directory so (mend "
                         "the root or the FAT by hand)\n"),
              std::string::npos)
        << r.out;
    r = run(dir, "repair c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("c.bin: left: " + reason, 0), 0u) << r.out;
    write_bytes(dir, "NEW", bytes(512, 1));
    EXPECT_EQ(run(dir, "add --type data --stamp 20020304050607 c.bin NEW").status, 1);
    EXPECT_EQ(run(dir, "defrag c.bin").status, 1);
    EXPECT_EQ(read_bytes(dir, "c.bin"), card.bytes);
}

// A writer, run on `card`; true when it changed it. `owns` is filled with
// what the change may write, judged against the true layout of `truth`.
struct writer {
    const char* name;
    std::function<bool(card_image& card, const card_image& truth, const card_layout& layout,
                       card_change_owns& owns)>
        run;
};

const writer WRITERS[] = {
    {"remove #0",
     [](card_image& card, const card_image&, const card_layout&, card_change_owns& owns) {
         owns.slot = 0;
         std::string reason;
         return card_remove(card, 0, reason);
     }},
    {"remove #5",
     [](card_image& card, const card_image&, const card_layout&, card_change_owns& owns) {
         owns.slot = 5;
         std::string reason;
         return card_remove(card, 5, reason);
     }},
    {"add a data file",
     [](card_image& card, const card_image& truth, const card_layout& layout,
        card_change_owns& owns) {
         owns.blocks = card_free_blocks(truth, layout);
         std::size_t slot = 0;
         std::string reason;
         return card_add(card, test_file("NEW", 5), slot, reason);
     }},
    {"add a game",
     [](card_image& card, const card_image& truth, const card_layout& layout,
        card_change_owns& owns) {
         owns.blocks = card_free_blocks(truth, layout);
         std::size_t slot = 0;
         std::string reason;
         return card_add(card, test_file("NEWGAME", 5, true), slot, reason);
     }},
    {"defrag",
     [](card_image& card, const card_image& truth, const card_layout& layout,
        card_change_owns& owns) {
         // The files it moves and the free blocks it moves them into.
         owns.blocks = card_free_blocks(truth, layout);
         const auto held = card_file_blocks(truth, layout);
         for (std::size_t block = 0; block < CARD_BLOCKS; ++block)
             owns.blocks[block] = owns.blocks[block] || held[block];
         owns.moves = true;
         std::string reason;
         return card_defrag(card, reason);
     }},
    {"repair",
     [](card_image& card, const card_image&, const card_layout&, card_change_owns& owns) {
         owns.mends = true;
         card_repair_report report;
         std::string reason;
         return card_repair(card, report, reason) && !report.mended.empty();
     }},
};

// Every root field that says where things are, set to each value near a
// boundary, and the directory's block and size together; a lie may also be
// one the card bears (the directory named by its lowest block, another
// count of user blocks), and then the writer may write.
TEST(LyingRoot, EveryWriterKeepsWhatItDoesNotOwnUnderEveryLie) {
    std::vector<std::vector<lie>> lies;
    const std::uint16_t values[] = {0,   1,   2,   58,  128, 194, 195, 199, 200, 201,   239,
                                    240, 241, 242, 243, 252, 253, 254, 255, 256, 0xFFFF};
    for (const std::size_t offset : {0x46, 0x4A, 0x4C, 0x50, 0x56}) {
        for (const std::uint16_t value : values)
            lies.push_back({{offset, value}});
    }
    for (const std::uint16_t block : {199, 200, 240, 241, 242, 252, 253}) {
        for (const std::uint16_t size : {1, 2, 11, 12, 13, 14})
            lies.push_back({{0x4A, block}, {0x4C, size}});
    }
    lies.push_back({{0x46, 240}, {0x4C, 12}});
    lies.push_back({{0x46, 241}, {0x4A, 254}});
    lies.push_back({{0x50, 150}, {0x4A, 199}, {0x4C, 2}});
    std::size_t written = 0;
    for (const bool full : {false, true}) {
        const card_image truth = full ? full_card() : played_card();
        const card_layout layout = layout_of(truth);
        for (const std::vector<lie>& changed : lies) {
            card_image lying = truth;
            for (const lie& l : changed)
                set_root(lying, l.offset, l.value);
            for (const writer& w : WRITERS) {
                card_image card = lying;
                card_change_owns owns;
                const bool changed_card = w.run(card, truth, layout, owns);
                SCOPED_TRACE(std::string(w.name) + " with " + std::to_string(changed[0].offset) +
                             " = " + std::to_string(changed[0].value) +
                             (changed.size() > 1 ? " and more" : ""));
                if (!changed_card) {
                    EXPECT_EQ(card.bytes, lying.bytes) << "a refusal changed the card";
                    continue;
                }
                ++written;
                EXPECT_EQ(card_untouched_fault(lying, layout, card, owns), "");
            }
        }
    }
    // The lies the card bears leave the writers something to do.
    EXPECT_GT(written, 100u);
}

}  // namespace
