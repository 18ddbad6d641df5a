// The receiving card's refusals, the end of receive mode when D3 falls, and
// its faults, held to what is known of the card's file manager (see
// copy_receive_test.cpp); expected values from those facts.
#include "card/card_check.h"
#include "receive_bench.h"

namespace {

// A blank card with entries (of no blocks) in its first `slots` slots.
card_image with_entries(std::size_t slots) {
    card_image card = blank();
    const card_layout layout = layout_of(card);
    for (std::size_t slot = 0; slot < slots; ++slot) {
        card_file entry;
        entry.slot = slot;
        entry.type = TYPE_DATA;
        entry.name = {'X'};
        card_put_entry(card, layout, entry);
    }
    return card;
}

}  // namespace

TEST(ReceivingCard, RefusesWhatTheCardRefusesAndLeavesItsFilesAsTheyWere) {
    // A root naming the directory one block down, over the system chain: a
    // file placed through it would hide the files of the first block and
    // take blocks of theirs.
    card_image lying_root = with_file(blank(), "OLD", 3, false);
    lying_root.bytes[255 * 512 + 0x4A] = 252;
    const struct {
        const char* rule;
        card_image image;
        bool game;
        std::size_t blocks;
        const char* name;
        std::size_t refused;  // the frame answered 0x0A, from 0
        receive_config config;
        std::string note;
    } cases[] = {
        {"no room for a data file",
         with_file(blank(), "BIG", 199, false),
         false,
         2,
         "NEW",
         0,
         {},
         "refused frame 1: no room for 2 blocks"},
        {"a game on a card whose block 0 is used",
         low_file_only(),
         true,
         1,
         "NEW",
         0,
         {},
         "refused frame 1: no room for 1 block free from block 0"},
        {"a second game",
         with_file(blank(), "GAME", 2, true),
         true,
         2,
         "NEW",
         0,
         {},
         "refused frame 1: no room for 2 blocks free from block 0"},
        {"a data file's name on the card",
         with_file(blank(), "SAME", 1, false),
         false,
         1,
         "SAME",
         1,
         {},
         "refused frame 2: a data file of this name is in slot 0"},
        {"a root that the system chain contradicts",
         lying_root,
         false,
         1,
         "NEW",
         0,
         {},
         "refused frame 1: no file system"},
        {"a flash write failing three times",
         blank(),
         false,
         1,
         "NEW",
         5,
         {.failing_flash = 2},
         "refused frame 6: the flash write of piece 2 failed 3 times"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        receive_bench b(c.image);
        b.card.config = c.config;
        b.connect();
        const sent_file file = file_frames(c.name, c.game, content_of(c.blocks, 9));
        std::vector<int> expected = all_accepted(c.refused + 1);
        expected.back() = BLOCK_NAK;
        EXPECT_EQ(b.transfer(file), expected);
        EXPECT_EQ(b.card.outcome, receive_outcome::refused);
        EXPECT_EQ(b.card.image.bytes, c.image.bytes);
        ASSERT_FALSE(b.card.notes.empty());
        EXPECT_EQ(b.card.notes.back(), c.note);
    }
}

TEST(ReceivingCard, TakesAGameOnlyItsDataFilesNameAlready) {
    // The card looks for a data file's name only: a game of a name a data
    // file has is taken.
    receive_bench b(with_file(blank(), "SAME", 1, false));
    b.connect();
    const sent_file file = file_frames("SAME", true, content_of(1, 9));
    EXPECT_EQ(b.transfer(file), all_accepted(file.frames.size()));
    EXPECT_EQ(b.card.outcome, receive_outcome::taken);
}

TEST(ReceivingCard, LeavesReceiveModeWhenD3FallsAndStartsAfreshWhenItRises) {
    const card_image image = blank();
    receive_bench b(image);
    b.connect();
    const sent_file file = file_frames("AGAIN", false, content_of(1, 1));
    ASSERT_EQ(b.transfer(file, 5), all_accepted(5));
    b.send(file.frames[5][0]);
    b.pc.put(0x01);  // mid-frame, D3 falls
    EXPECT_EQ(b.card.screen, receive_screen::file_list);
    EXPECT_EQ(b.card.outcome, receive_outcome::abandoned);
    EXPECT_EQ(b.card.image.bytes, image.bytes);
    EXPECT_TRUE(rule_pc::select_high(copy_receive_status_read(b.card)));

    b.connect();
    EXPECT_EQ(b.card.screen, receive_screen::waiting);
    EXPECT_EQ(b.transfer(file), all_accepted(file.frames.size()));
    EXPECT_EQ(b.card.outcome, receive_outcome::taken);
}

TEST(ReceivingCard, ShowsItsFaults) {
    const sent_file file = file_frames("FAULT", false, content_of(1, 1));
    {
        SCOPED_TRACE("D3 does not reach the card: no receive mode, no reply");
        receive_bench b(blank());
        b.card.config.peer_present = false;
        b.connect();
        EXPECT_EQ(b.card.screen, receive_screen::file_list);
        b.send(file.frames[0][0]);
        b.pc.patience = 2'000'000;  // 2 s of the card's time, four ticks
        EXPECT_EQ(b.pc.receive(), -1);
    }
    {
        SCOPED_TRACE("a bit taken wrong shows in the echo of the next byte");
        receive_bench b(blank());
        b.card.config.flip_byte = 3;  // the start frame's size, 1
        b.connect();
        b.transfer(file, 1);
        EXPECT_EQ(b.echoes.at(4), 0x00);
        EXPECT_EQ(b.card.taken.at(3), 0x00);
    }
    {
        SCOPED_TRACE("Select not wired: it reads high whatever the card shifts out");
        receive_bench b(blank());
        b.card.config.select_wired = false;
        b.connect();
        b.transfer(file, 1);
        for (const std::uint8_t echo : b.echoes)
            EXPECT_EQ(echo, 0xFF);
    }
    {
        SCOPED_TRACE("a card that stops answering: the name frame's answer never comes");
        receive_bench b(blank());
        b.card.config.stall_answer = 3;
        b.connect();
        EXPECT_EQ(b.transfer(file), (std::vector<int>{0xE0, 0x0C, 0xE0, -1}));
        EXPECT_EQ(b.card.phase, receive_phase::stalled);
    }
}

TEST(ReceivingCard, LooksForAnEntryOnlyInTheDirectorysFirstBlockAndOnlyAfterTheFat) {
    const struct {
        const char* rule;
        std::size_t used_slots;
        bool taken;
    } cases[] = {
        {"15 entries: the 16th slot takes it", 15, true},
        {"16 entries, the rest of the directory free", 16, false},
        {"a full directory", 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const card_image image = with_entries(c.used_slots);
        receive_bench b(image);
        b.connect();
        const sent_file file = file_frames("NEW", false, content_of(2, 9));
        // Every frame is accepted but, without an entry, the last.
        std::vector<int> expected = all_accepted(file.frames.size());
        if (!c.taken)
            expected.back() = BLOCK_NAK;
        EXPECT_EQ(b.transfer(file), expected);
        EXPECT_EQ(b.card.outcome, c.taken ? receive_outcome::taken : receive_outcome::refused);
        const card_layout layout = layout_of(b.card.image);
        // The data and the FAT are written either way: blocks 199 and 198.
        const card_chain chain = card_follow_chain(b.card.image, layout, 199, 2);
        EXPECT_EQ(chain.fault, "");
        EXPECT_EQ(card_chain_bytes(b.card.image, chain), content_of(2, 9));
        const card_report report = card_check(b.card.image);
        if (c.taken) {
            EXPECT_EQ(card_file_name(card_read_entry(b.card.image, layout, 15)), "NEW");
            EXPECT_TRUE(report.lost_blocks.empty());
        } else {
            for (std::size_t slot = c.used_slots; slot < card_slot_count(layout); ++slot)
                EXPECT_EQ(card_read_entry(b.card.image, layout, slot).type, CARD_TYPE_NONE);
            EXPECT_EQ(report.lost_blocks, (std::vector<std::uint16_t>{198, 199}));
        }
    }
}
