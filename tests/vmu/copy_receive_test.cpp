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

#include "card/card_edit.h"
#include "card/card_place.h"
#include "rule_pc.h"
#include "vmu/copy_receive.h"

namespace {

constexpr std::int64_t US = 1'000'000;  // picoseconds
constexpr std::int64_t MS = 1'000 * US;
const save_stamp STAMP{2002, 3, 4, 5, 6, 7};

card_image blank() {
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
}

card_layout layout_of(const card_image& card) {
    card_layout layout;
    std::string reason;
    card_read_layout(card, layout, reason);
    return layout;
}

std::vector<std::uint8_t> content_of(std::size_t blocks, std::uint8_t seed) {
    std::vector<std::uint8_t> content(blocks * 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 13 + seed);
    return content;
}

// A file as the PC sends it: its frames' bytes, header to trailer.
struct sent_file {
    std::vector<std::vector<std::uint8_t>> frames;
};

sent_file file_frames(const std::string& name, bool game, const std::vector<std::uint8_t>& data) {
    const std::size_t blocks = data.size() / 512;
    sent_file file;
    for (std::size_t f = 0; f < cable_frame_count(blocks); ++f) {
        const cable_frame kind = cable_frame_at(f, blocks);
        std::vector<std::uint8_t> payload;
        switch (kind) {
            case cable_frame::start:
                payload = {game ? CABLE_TYPE_GAME : CABLE_TYPE_DATA,
                           static_cast<std::uint8_t>(blocks)};
                break;
            case cable_frame::name: {
                std::string padded = name;
                padded.resize(12, '\0');  // as the card library pads a name
                payload.assign(padded.begin(), padded.end());
                break;
            }
            case cable_frame::data:
                payload.assign(data.begin() + static_cast<std::ptrdiff_t>((f - 2) / 2 * 128),
                               data.begin() + static_cast<std::ptrdiff_t>((f - 2) / 2 * 128 + 128));
                break;
            case cable_frame::directory:
                // 2002-03-04 05:06:07, a Monday; the size; a game's header at 1.
                payload = {0x20,
                           0x02,
                           0x03,
                           0x04,
                           0x05,
                           0x06,
                           0x07,
                           0x00,
                           static_cast<std::uint8_t>(blocks),
                           0,
                           static_cast<std::uint8_t>(game ? 1 : 0),
                           0};
                break;
            case cable_frame::flash:
            case cable_frame::last_flash:
                payload = {0x00};
                break;
        }
        // Header and code before the payload, the trailer after it.
        payload.insert(payload.begin(), {cable_header_for(payload.size()), cable_frame_code(kind)});
        payload.push_back(cable_frame_trailer(kind));
        file.frames.push_back(payload);
    }
    return file;
}

// The card counting time by a PC whose every access costs 1 µs and whose
// delay unit is 50 µs, with the card's time of every fall and rise of Ack.
struct bench {
    copy_receive card;
    rule_pc pc;
    std::vector<std::int64_t> falls;
    std::vector<std::int64_t> rises;
    std::vector<std::uint8_t> echoes;   // what Select showed during each byte sent
    std::vector<std::int64_t> sent_at;  // the card's time at the end of each byte sent

    explicit bench(const card_image& image) {
        card.image = image;
        card.pc.access_ps = US;
        copy_receive_start(card);
        pc.read = [this] {
            const std::uint8_t raw = copy_receive_status_read(card);
            const bool high = rule_pc::ack_high(raw);
            if (high != ack_was_high)
                (high ? rises : falls).push_back(card.now_ps);
            ack_was_high = high;
            return raw;
        };
        pc.write = [this](std::uint8_t value) { copy_receive_data_write(card, value); };
        pc.patience = 3'000'000;
        pc.put(0x01);  // D0 idle high, D3 low
    }

    // D3 rises, and the PC gives the card a second to switch.
    void connect() {
        pc.put(0x09);
        copy_receive_sleep(card, 1000);
    }

    void send(std::uint8_t byte) {
        echoes.push_back(pc.send_echoed(byte));
        sent_at.push_back(card.now_ps);
    }

    // Sends the frames, each header with its reply and each frame with its
    // answer; stops at a reply other than 0xE0 or a missing answer. The
    // answers received.
    std::vector<int> transfer(const sent_file& file, std::size_t frames = SIZE_MAX) {
        std::vector<int> answers;
        for (std::size_t f = 0; f < file.frames.size() && f < frames; ++f) {
            const std::vector<std::uint8_t>& bytes = file.frames[f];
            send(bytes[0]);
            const int reply = pc.receive();
            answers.push_back(reply);
            if (reply != CABLE_HEADER_REPLY)
                return answers;
            for (std::size_t i = 1; i < bytes.size(); ++i)
                send(bytes[i]);
            answers.push_back(pc.receive());
            if (answers.back() != CABLE_BLOCK_ACK)
                return answers;
        }
        return answers;
    }

private:
    bool ack_was_high = true;
};

std::vector<int> all_accepted(std::size_t frames) {
    std::vector<int> answers;
    for (std::size_t f = 0; f < frames; ++f)
        answers.insert(answers.end(), {CABLE_HEADER_REPLY, CABLE_BLOCK_ACK});
    return answers;
}

card_image with_file(card_image card, const std::string& name, std::size_t blocks, bool game) {
    card_new_file file{name, game, false, STAMP, content_of(blocks, 7)};
    std::size_t slot = 0;
    std::string reason;
    EXPECT_TRUE(card_add(card, file, slot, reason)) << reason;
    return card;
}

// Block 0 held by a data file, the 199 blocks above it free.
card_image low_file_only() {
    card_image card = with_file(with_file(blank(), "HIGH", 199, false), "LOW", 1, false);
    std::string reason;
    EXPECT_TRUE(card_remove(card, 0, reason)) << reason;
    return card;
}

}  // namespace

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
        bench b(c.image);
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
        EXPECT_EQ(entry.type, c.game ? CARD_TYPE_GAME : CARD_TYPE_DATA);
        EXPECT_EQ(entry.protection, 0x00);  // the copy byte
        EXPECT_EQ(entry.first_block, c.first);
        EXPECT_EQ(card_file_name(entry), "RECEIVED");
        EXPECT_EQ(card_entry_tail(entry),
                  (std::array<std::uint8_t, 12>{0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00,
                                                static_cast<std::uint8_t>(c.blocks), 0,
                                                static_cast<std::uint8_t>(c.game ? 1 : 0), 0}));
        const card_chain chain = card_follow_chain(b.card.image, layout, c.first, c.blocks);
        EXPECT_EQ(chain.fault, "");
        EXPECT_EQ(card_chain_bytes(b.card.image, chain), data);
        EXPECT_EQ(chain.blocks, card_choose_blocks(c.image, layout, c.game, c.blocks));
    }
}

TEST(ReceivingCard, AnswersAtItsOwnLevelsAndEchoesTheByteBeforeOnSelect) {
    bench b(blank());
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

TEST(ReceivingCard, LooksForTheFirstHeaderOnATickAndAtOnceAfterIt) {
    bench b(blank());
    b.card.config.tick_phase_ps = 100 * MS;
    b.connect();
    const sent_file file = file_frames("TICK", false, content_of(1, 5));
    ASSERT_EQ(b.transfer(file, 2), all_accepted(2));
    // The first header's last bit went out at 1 s and a few ms; the card
    // looks at it on the next tick, 1.1 s, and replies within 0.2 ms.
    ASSERT_GT(b.sent_at.at(0), 1000 * MS);
    ASSERT_LT(b.sent_at.at(0), 1100 * MS);
    EXPECT_GE(b.falls.at(0), 1100 * MS);
    EXPECT_LE(b.falls.at(0) - 1100 * MS, MS / 5);
    // The name's header (byte 5) is answered within 0.2 ms, no tick awaited.
    EXPECT_GT(b.falls.at(16), b.sent_at.at(5));
    EXPECT_LE(b.falls.at(16) - b.sent_at.at(5), MS / 5);
}

TEST(ReceivingCard, LosesTheBitsOfAPcThatDoesNotWaitForItToReArm) {
    bench b(blank());
    b.card.pc.delay_ps = 0;  // no lead before a byte, no time on a level
    b.connect();
    const sent_file file = file_frames("HASTY", false, content_of(1, 5));
    b.send(file.frames[0][0]);
    ASSERT_EQ(b.pc.receive(), CABLE_HEADER_REPLY);
    // The block code goes out at once: SIO1 is still stopped after the
    // reply, so its first bits are lost and the card never has a whole
    // frame to answer.
    for (std::size_t i = 1; i < file.frames[0].size(); ++i)
        b.send(file.frames[0][i]);
    EXPECT_GT(b.card.bits_lost, 0);
    b.pc.patience = 10'000;
    EXPECT_EQ(b.pc.receive(), -1);
}

TEST(ReceivingCard, RefusesWhatTheCardRefusesAndLeavesItsFilesAsTheyWere) {
    card_image full_directory = blank();
    const card_layout layout = layout_of(full_directory);
    for (std::size_t slot = 0; slot < card_slot_count(layout); ++slot) {
        card_file entry;
        entry.slot = slot;
        entry.type = CARD_TYPE_DATA;
        entry.name = {'X'};
        card_put_entry(full_directory, layout, entry);
    }
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
        {"a full directory",
         full_directory,
         false,
         1,
         "NEW",
         0,
         {},
         "refused frame 1: the directory is full"},
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
        bench b(c.image);
        b.card.config = c.config;
        b.connect();
        const sent_file file = file_frames(c.name, c.game, content_of(c.blocks, 9));
        std::vector<int> expected = all_accepted(c.refused + 1);
        expected.back() = CABLE_BLOCK_NAK;
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
    bench b(with_file(blank(), "SAME", 1, false));
    b.connect();
    const sent_file file = file_frames("SAME", true, content_of(1, 9));
    EXPECT_EQ(b.transfer(file), all_accepted(file.frames.size()));
    EXPECT_EQ(b.card.outcome, receive_outcome::taken);
}

TEST(ReceivingCard, LeavesReceiveModeWhenD3FallsAndStartsAfreshWhenItRises) {
    const card_image image = blank();
    bench b(image);
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
        bench b(blank());
        b.card.config.peer_present = false;
        b.connect();
        EXPECT_EQ(b.card.screen, receive_screen::file_list);
        b.send(file.frames[0][0]);
        b.pc.patience = 2'000'000;  // 2 s of the card's time, four ticks
        EXPECT_EQ(b.pc.receive(), -1);
    }
    {
        SCOPED_TRACE("a bit taken wrong shows in the echo of the next byte");
        bench b(blank());
        b.card.config.flip_byte = 3;  // the start frame's size, 1
        b.connect();
        b.transfer(file, 1);
        EXPECT_EQ(b.echoes.at(4), 0x00);
        EXPECT_EQ(b.card.taken.at(3), 0x00);
    }
    {
        SCOPED_TRACE("Select not wired: it reads high whatever the card shifts out");
        bench b(blank());
        b.card.config.select_wired = false;
        b.connect();
        b.transfer(file, 1);
        for (const std::uint8_t echo : b.echoes)
            EXPECT_EQ(echo, 0xFF);
    }
    {
        SCOPED_TRACE("a card that stops answering: the name frame's answer never comes");
        bench b(blank());
        b.card.config.stall_answer = 3;
        b.connect();
        EXPECT_EQ(b.transfer(file), (std::vector<int>{0xE0, 0x0C, 0xE0, -1}));
        EXPECT_EQ(b.card.phase, receive_phase::stalled);
    }
}
