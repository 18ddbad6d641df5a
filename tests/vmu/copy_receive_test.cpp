// The receiving card on its own, held to what is known of the card's file
// manager in "Waiting for data": P7.3 starts and ends it, the first header
// is looked at on a base-timer tick, SIO1 echoes the byte before on Select
// and stops after each byte until re-armed, the answers come at 64 µs
// levels, the file is placed as the card places files and written with the
// last frame only. The tests' own PC (rule_pc.h) drives it; expected bytes
// and times come from those facts, not from the model's output.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "receive_bench.h"

TEST(ReceivingCard, TakesAFileAndPlacesItAsTheCardDoes) {
    const struct {
        const char* rule;
        card_image image;
        bool game;
        std::size_t blocks;
        std::uint16_t first;  // the first block, by the card's rule
        std::size_t slot;
    } cases[] = {
        {"data onto a blank card: from block 199 down", blank(), false, 2, 199, 0},
        {"a game onto a blank card: from block 0 up", blank(), true, 3, 0, 0},
        {"data below another data file", with_file(blank(), "OTHER", 4, false), false, 1, 195, 1},
        {"a game beside data files", with_file(blank(), "OTHER", 4, false), true, 2, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        receive_bench b(c.image);
        b.connect();
        const std::vector<std::uint8_t> data = content_of(c.blocks, 3);
        const sent_file file = file_frames("RECEIVED", c.game, data);
        ASSERT_EQ(b.transfer(file, file.frames.size() - 1), all_accepted(file.frames.size() - 1));
        // Nothing is written before the last frame.
        EXPECT_EQ(b.card.image.bytes, c.image.bytes);
        EXPECT_EQ(b.transfer({{file.frames.back()}}), all_accepted(1));
        EXPECT_EQ(b.card.outcome, receive_outcome::taken);

        const card_layout layout = layout_of(b.card.image);
        const card_file entry = card_read_entry(b.card.image, layout, c.slot);
        EXPECT_EQ(entry.type, c.game ? TYPE_GAME : TYPE_DATA);
        EXPECT_EQ(entry.protection, 0x00);  // the copy byte
        EXPECT_EQ(entry.first_block, c.first);
        EXPECT_EQ(card_file_name(entry), "RECEIVED");
        EXPECT_EQ(card_entry_tail(entry),
                  (directory_tail{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00,
                                  static_cast<std::uint8_t>(c.blocks), 0,
                                  static_cast<std::uint8_t>(c.game ? 1 : 0), 0}));
        const card_chain chain = card_follow_chain(b.card.image, layout, c.first, c.blocks);
        EXPECT_EQ(chain.fault, "");
        EXPECT_EQ(card_chain_bytes(b.card.image, chain), data);
        EXPECT_EQ(chain.blocks, card_choose_blocks(c.image, layout, c.game, c.blocks));
    }
}

TEST(ReceivingCard, AnswersAtItsOwnLevelsAndEchoesTheByteBeforeOnSelect) {
    receive_bench b(blank());
    b.connect();
    const sent_file file = file_frames("ECHO", false, content_of(1, 5));
    ASSERT_EQ(b.transfer(file, 3), all_accepted(3));
    // Every level of Ack lasts 64 µs, seen by a PC that reads every 1 µs.
    for (std::size_t i = 0; i < b.rises.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(b.rises[i] - b.falls[i]) / US, 64, 1.01) << i;
        if (i + 1 < b.falls.size() && (i + 1) % 8 != 0) {
            EXPECT_NEAR(static_cast<double>(b.falls[i + 1] - b.rises[i]) / US, 64, 1.01) << i;
        }
    }
    // During each byte Select shows the byte before it; the first byte's
    // echo is whatever the register held.
    std::vector<std::uint8_t> sent;
    for (std::size_t f = 0; f < 3; ++f)
        sent.insert(sent.end(), file.frames[f].begin(), file.frames[f].end());
    ASSERT_EQ(b.echoes.size(), sent.size());
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(b.echoes[i], sent[i - 1]) << "byte " << i;
}

TEST(ReceivingCard, LooksForEveryHeaderOnATick) {
    receive_bench b(blank());
    b.card.config.tick_phase_ps = 100 * MS;
    b.connect();
    const sent_file file = file_frames("TICK", false, content_of(1, 5));
    ASSERT_EQ(b.transfer(file, 2), all_accepted(2));
    // The first header's last bit went out at 1 s and a few ms; the card
    // looks at it on the next tick, 1.1 s, and replies 107.4 ms later, as
    // the system ROM does to a transfer's first header, within 0.2 ms.
    ASSERT_GT(b.sent_at.at(0), 1000 * MS);
    ASSERT_LT(b.sent_at.at(0), 1100 * MS);
    EXPECT_GE(b.falls.at(0), 1207 * MS);
    EXPECT_LE(b.falls.at(0) - 1207 * MS, MS / 2);
    // The name's header (byte 5) waits for the next tick too: it went out
    // within a few ms of the start frame's answer, before 1.6 s.
    ASSERT_LT(b.sent_at.at(5), 1600 * MS);
    EXPECT_GE(b.falls.at(16), 1600 * MS);
    EXPECT_LE(b.falls.at(16) - 1600 * MS, MS / 5);
}

TEST(ReceivingCard, LosesTheBitsOfAPcThatDoesNotWaitForItToReArm) {
    receive_bench b(blank());
    b.unit_us = 0;  // no lead before a byte, no time on a level
    b.connect();
    const sent_file file = file_frames("HASTY", false, content_of(1, 5));
    b.send(file.frames[0][0]);
    ASSERT_EQ(b.pc.receive(), HEADER_REPLY);
    // The block code goes out at once: SIO1 is still stopped after the
    // reply, so its first bits are lost and the card never has a whole
    // frame to answer.
    for (std::size_t i = 1; i < file.frames[0].size(); ++i)
        b.send(file.frames[0][i]);
    EXPECT_GT(b.card.bits_lost, 0);
    b.pc.patience = 10'000;
    EXPECT_EQ(b.pc.receive(), -1);
}

TEST(ReceivingCard, LowersSelect550MsAfterD3RisesAndTakesNoHeaderFor15MsMore) {
    const struct {
        const char* rule;
        unsigned after_ms;  // from Select falling to the header
        bool replied;
    } cases[] = {
        {"a header 10 ms after Select falls is lost", 10, false},
        {"a header 20 ms after it is taken", 20, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        receive_bench b(blank());
        b.pc.put(0x09);
        const std::int64_t raised = b.card.now_ps;
        ASSERT_TRUE(b.pc.wait_ready());
        EXPECT_NEAR(static_cast<double>(b.card.now_ps - raised) / MS, 550, 0.01);
        copy_receive_sleep(b.card, c.after_ms);
        const std::int64_t lost_before = b.card.bits_lost;
        b.send(file_frames("LATE", false, content_of(1, 5)).frames[0][0]);
        EXPECT_EQ(b.card.bits_lost - lost_before, c.replied ? 0 : 8);
        b.pc.patience = 1'000'000;  // 1 s of reads: past the card's next look
        EXPECT_EQ(b.pc.receive() == HEADER_REPLY, c.replied);
    }
}

TEST(ReceivingCard, ItsFirstPageIgnoresD3AndTheFileListAfterItTakesIt) {
    const struct {
        const char* rule;
        std::int64_t d3_ms;      // when D3 rises
        std::int64_t select_ms;  // when Select falls
    } cases[] = {
        {"D3 high from the start: the list takes it at 6.7 s", 100, 6'700 + 550},
        {"D3 risen on the list", 7'000, 7'000 + 550},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        receive_bench b(blank());
        b.card.config.first_page_ps = 6'700 * MS;
        copy_receive_start(b.card);
        EXPECT_EQ(b.card.screen, receive_screen::first_page);
        copy_receive_sleep(b.card, static_cast<unsigned>(c.d3_ms));
        b.pc.put(0x09);
        b.pc.patience = 8'000'000;  // 8 s of reads
        ASSERT_TRUE(b.pc.wait_ready());
        EXPECT_NEAR(static_cast<double>(b.card.now_ps) / MS, static_cast<double>(c.select_ms),
                    0.01);
        EXPECT_EQ(b.card.screen, receive_screen::waiting);
    }
}

TEST(ReceivingCard, AfterAFileShowsItsFirstPageThenTakesTheNextWithNothingPressed) {
    // Whether D3 stays high or falls and rises again while the first page
    // shows, the list that follows takes the next file 8.3 s after the last
    // answer, and both files are on the card.
    for (const bool d3_stays_high : {true, false}) {
        SCOPED_TRACE(d3_stays_high ? "D3 high throughout" : "D3 low, then high on the first page");
        receive_bench b(blank());
        b.connect();
        const sent_file first = file_frames("FIRST", false, content_of(2, 1));
        ASSERT_EQ(b.transfer(first), all_accepted(first.frames.size()));
        const std::int64_t answered = b.card.now_ps;
        if (!d3_stays_high) {
            b.pc.put(0x01);  // as the answer ends
            copy_receive_sleep(b.card, 1'000);
            EXPECT_EQ(b.card.screen, receive_screen::first_page);
            b.pc.put(0x09);
        }
        copy_receive_sleep(b.card, 7'000);
        EXPECT_EQ(b.card.screen, receive_screen::first_page);  // blind to D3 meanwhile
        b.pc.patience = 4'000'000;
        ASSERT_TRUE(b.pc.wait_ready());
        EXPECT_NEAR(static_cast<double>(b.card.now_ps - answered) / MS, 8'300 + 550, 1);
        copy_receive_sleep(b.card, 100);  // SIO1 listens 15 ms after Select falls
        const sent_file second = file_frames("SECOND", false, content_of(1, 2));
        EXPECT_EQ(b.transfer(second), all_accepted(second.frames.size()));
        EXPECT_EQ(b.card.outcome, receive_outcome::taken);
        card_layout layout;
        std::string reason;
        ASSERT_TRUE(card_read_layout(b.card.image, layout, reason)) << reason;
        EXPECT_EQ(card_files(b.card.image, layout).size(), 2U);
    }
}
