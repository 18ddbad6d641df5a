// The Copy card on its own, held to what is known of the card's file manager
// (its frames, trailers, clock, gaps, echo rule, answers and screens), with
// the tests' own PC (rule_pc.h). Expected bytes and times are written from
// those facts, not taken from the model's output.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "rule_pc.h"
#include "vmu/copy_card.h"

namespace {

constexpr std::int64_t US = 1'000'000;  // picoseconds
constexpr std::int64_t MS = 1'000 * US;

// A card sending `file`, counting time by a PC whose every access costs
// `access_ps`, with the card's time of every fall and rise of Ack the PC saw.
struct bench {
    copy_card card;
    rule_pc pc;
    std::vector<std::int64_t> falls;
    std::vector<std::int64_t> rises;
    std::int64_t ready_at = -1;

    explicit bench(const vmu_file& file, unsigned rc_khz = 879, std::int64_t access_ps = US) {
        card.config.rc_khz = rc_khz;
        card.pc.access_ps = access_ps;
        card.frames = copy_frames(file, copy_directory_bytes(file));
        copy_card_start(card);
        pc.read = [this] {
            const std::uint8_t raw = copy_card_status_read(card);
            const bool high = rule_pc::ack_high(raw);
            if (high != ack_was_high)
                (high ? rises : falls).push_back(card.now_ps);
            ack_was_high = high;
            if (ready_at < 0 && !rule_pc::select_high(raw))
                ready_at = card.now_ps;
            return raw;
        };
        pc.write = [this](std::uint8_t value) { copy_card_data_write(card, value); };
        pc.delay = [this] { copy_card_delay(card, 50); };  // the default floor
        pc.put(0x09);                                      // the port opened
    }

    // The card's time when Ack fell for bit `bit` (from the MSB) of the
    // `byte`th byte it sent, and when it rose again.
    std::int64_t fall(std::size_t byte, std::size_t bit = 0) const {
        return falls.at(8 * byte + bit);
    }
    std::int64_t rise(std::size_t byte, std::size_t bit = 0) const {
        return rises.at(8 * byte + bit);
    }

private:
    bool ack_was_high = true;
};

double in_ms(std::int64_t ps) {
    return static_cast<double>(ps) / MS;
}

vmu_file one_block_file() {
    vmu_file file;
    file.image.resize(512);
    for (std::size_t i = 0; i < file.image.size(); ++i)
        file.image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    file.name = "COPYTEST";
    return file;
}

// Receives frames as the tool would, answering each header with 0xE0 and
// each frame with `answer(frame)`; stops after `frames` frames or when the
// card stops clocking. Returns every byte received.
template <typename Answer>
std::vector<int> receive_frames(bench& b, std::size_t frames, Answer answer) {
    std::vector<int> received;
    for (std::size_t f = 0; f < frames; ++f) {
        const int header = b.pc.receive();
        if (header < 0)
            return received;
        received.push_back(header);
        b.pc.send(0xE0);
        const std::size_t length = header == 0x50 ? 128 : static_cast<std::size_t>(header - 0x0F);
        for (std::size_t i = 0; i < length + 2; ++i) {
            const int byte = b.pc.receive();
            if (byte < 0)
                return received;
            received.push_back(byte);
        }
        b.pc.send(answer(f));
    }
    return received;
}

std::vector<int> frame(std::vector<int> head, const std::vector<int>& payload, int trailer) {
    head.insert(head.end(), payload.begin(), payload.end());
    head.push_back(trailer);
    return head;
}

void append(std::vector<int>& to, const std::vector<int>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

}  // namespace

TEST(CopyCard, SendsCopysFramesWithTheirTrailersAndShowsCopiedWithoutTheLastAnswer) {
    vmu_file file = one_block_file();
    bench b(file);
    ASSERT_TRUE(b.pc.wait_ready());

    std::vector<int> expected;
    append(expected, frame({0x11, 0x02}, {0x33, 0x01}, 0xFF));
    append(expected,
           frame({0x1B, 0x06}, {'C', 'O', 'P', 'Y', 'T', 'E', 'S', 'T', ' ', ' ', ' ', ' '}, 0xFF));
    for (int piece = 0; piece < 4; ++piece) {
        const std::vector<int> data(file.image.begin() + piece * 128,
                                    file.image.begin() + (piece + 1) * 128);
        append(expected, frame({0x50, 0x04}, data, 0x00));
        append(expected, frame({0x10, 0x08}, {0x00}, 0xFF));
    }
    // 1999-12-31 23:59:58 was a Friday (4 counted from Monday); one block;
    // a data file's header at block 0.
    append(expected,
           frame({0x1B, 0x03}, {0x19, 0x99, 0x12, 0x31, 0x23, 0x59, 0x58, 0x04, 1, 0, 0, 0}, 0xFF));
    append(expected, frame({0x10, 0x08}, {0x00}, 0xFF));

    const std::vector<int> received = receive_frames(b, 12, [](std::size_t) { return 0x0C; });
    EXPECT_EQ(received, expected);
    EXPECT_EQ(b.card.screen, copy_screen::copied);
    // Every header had its reply and every frame but the last its answer.
    EXPECT_EQ(b.card.pc_bytes.size(), 2U * 12 - 1);
    EXPECT_TRUE(b.card.notes.empty()) << b.card.notes.front();
}

TEST(CopyCard, KeepsItsClockGapsAndReadySignalAtEveryRcFrequency) {
    for (const unsigned khz : {600U, 879U, 1200U}) {
        SCOPED_TRACE(khz);
        bench b(one_block_file(), khz);
        const double cycle_ms = 6.0 / khz;
        ASSERT_TRUE(b.pc.wait_ready());
        receive_frames(b, 12, [](std::size_t) { return 0x0C; });
        ASSERT_EQ(b.card.screen, copy_screen::copied);
        // SO1 falls 25 ms after A goes down (the quartz's time), and 42 ms
        // of the RC clock at 872 kHz before the first clock edge.
        EXPECT_NEAR(in_ms(b.ready_at - b.card.config.press_ps), 25, 0.01);
        EXPECT_NEAR(in_ms(b.fall(0) - b.ready_at), 42.0 * 872 / khz, 0.05 * 872 / khz);
        // Each SCK0 level lasts 8 cycles, 40 to 80 µs; a bit 16.
        const double low = in_ms(b.rise(0, 3) - b.fall(0, 3));
        const double bit = in_ms(b.fall(0, 4) - b.fall(0, 3));
        EXPECT_NEAR(low, 8 * cycle_ms, 0.002);
        EXPECT_NEAR(bit, 16 * cycle_ms, 0.002);
        EXPECT_GE(low, 0.039);
        EXPECT_LE(low, 0.081);
        // From the end of a byte (8 cycles after its last rise) to the next
        // byte's first fall, 72 cycles: 495 µs at 872 kHz. Byte 2 is the
        // start frame's type, after its code.
        const double between = in_ms(b.fall(2) - b.rise(1, 7)) - 8 * cycle_ms;
        EXPECT_NEAR(between, 0.495 * 872 / khz, 0.005);
        // Each frame waits for a base-timer tick after its header, so a
        // block's eight frames take 3.98 to 4.00 s at any clock: from the
        // first data frame's code (byte 21, after the start's 5 bytes, the
        // name's 15 and its header), the first byte after a tick, to the
        // directory frame's, after four data and four flash frames.
        const double block = in_ms(b.fall(21 + 4 * (131 + 4)) - b.fall(21));
        EXPECT_GE(block, 3'980);
        EXPECT_LE(block, 4'000);
    }
}

TEST(CopyCard, SleepsUntilABaseTimerTickAfterTheReplyAndWaitsLongerAfterTheName) {
    bench b(one_block_file());
    b.card.config.tick_phase_ps = 300 * MS;
    ASSERT_TRUE(b.pc.wait_ready());
    receive_frames(b, 12, [](std::size_t) { return 0x0C; });
    ASSERT_EQ(b.card.screen, copy_screen::copied);
    // The bytes the card sent, frame by frame: 5, 15, then 131 and 4 four
    // times, 15 and 4.
    const std::vector<std::size_t> frame_lengths = {5, 15, 131, 4, 131, 4, 131, 4, 131, 4, 15, 4};
    std::size_t first = 0;  // the frame's header, counted in bytes the card sent
    for (std::size_t f = 0; f < frame_lengths.size(); ++f) {
        SCOPED_TRACE(f);
        // The PC's reply to the header and its answer to the frame before.
        const std::int64_t reply = b.card.pc_bytes.at(2 * f).at_ps;
        // The byte after the reply starts 0.5 ms or more after the first
        // base-timer tick after it.
        std::int64_t tick = 300 * MS;
        while (tick <= reply)
            tick += 500 * MS;
        EXPECT_GE(in_ms(b.fall(first + 1) - tick), 0.4);
        EXPECT_LE(in_ms(b.fall(first + 1) - tick), 1.0);
        if (f > 0) {
            // From the PC's answer to the next header, by that frame, at
            // 872 kHz: name 1.50 ms, first data 11.1 (the card reads flash),
            // a later data 9.48, flash 12.9, directory 1.47, last flash 1.06.
            const double at_872[] = {0,    1.50, 11.1, 12.9, 9.48, 12.9,
                                     9.48, 12.9, 9.48, 12.9, 1.47, 1.06};
            const double expected = at_872[f] * 872 / 879;
            const std::int64_t answer = b.card.pc_bytes.at(2 * f - 1).at_ps;
            EXPECT_NEAR(in_ms(b.fall(first) - answer), expected, 0.01 * expected + 0.02);
        }
        first += frame_lengths[f];
    }
}

TEST(CopyCard, TellsEachRefusalOnItsScreen) {
    const struct {
        const char* rule;
        std::size_t refused;  // the frame answered 0x0A, from 0
        copy_screen screen;
    } cases[] = {
        {"the start frame: no room", 0, copy_screen::not_enough_memory},
        {"the name frame: the name is taken", 1, copy_screen::same_file_exists},
        {"a data frame", 2, copy_screen::copy_failed},
        {"the directory frame", 10, copy_screen::copy_failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bench b(one_block_file());
        ASSERT_TRUE(b.pc.wait_ready());
        receive_frames(b, c.refused + 1,
                       [&](std::size_t f) { return f == c.refused ? 0x0A : 0x0C; });
        copy_card_run_to(b.card, b.card.now_ps + 4'000 * MS);  // past a later frame's wait
        // The card has stopped: no more clock, and its pins float.
        EXPECT_LT(b.pc.receive(), 0);
        EXPECT_EQ(b.card.screen, c.screen);
        EXPECT_TRUE(copy_card_finished(b.card));
    }
}

TEST(CopyCard, ChecksTheEchoWhereTheCardDoesAndAbortsAfterAMismatch) {
    const struct {
        const char* rule;
        std::size_t frame;  // from 0
        std::size_t byte;   // the byte of the frame during which the PC echoes wrong
        bool aborts;
    } cases[] = {
        {"a header's echo is never checked", 0, 0, false},
        {"the start frame's code", 0, 1, true},
        {"a short frame's last payload byte", 1, 13, true},
        {"a short frame's trailer", 1, 14, true},
        {"a data frame's code", 2, 1, true},
        {"a data frame's first data byte", 2, 2, true},
        {"a data frame's second data byte is not checked", 2, 3, false},
        {"a data frame's trailer is not checked", 2, 130, false},
    };
    // After 10 0B 00 FF the abort frame carries the rest of the last start
    // or name frame: the start's trailer, or the name's last ten bytes and
    // trailer.
    const std::vector<int> after_start = {0xFF};
    const std::vector<int> after_name = {'P', 'Y', 'T', 'E', 'S', 'T', ' ', ' ', ' ', ' ', 0xFF};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bench b(one_block_file());
        ASSERT_TRUE(b.pc.wait_ready());
        for (std::size_t f = 0; f <= c.frame; ++f) {
            if (f == c.frame && c.byte == 0)
                b.pc.echo ^= 0x01;  // the echo during the header: the trailer before
            const int header = b.pc.receive();
            ASSERT_GE(header, 0);
            b.pc.send(0xE0);
            const std::size_t length =
                header == 0x50 ? 128 : static_cast<std::size_t>(header - 0x0F);
            for (std::size_t i = 1; i < length + 3; ++i) {
                if (f == c.frame && i == c.byte)
                    b.pc.echo ^= 0x01;  // the echo during byte i is the byte before
                ASSERT_GE(b.pc.receive(), 0);
            }
            b.pc.send(0x0C);
        }
        const int next_header = b.pc.receive();
        std::vector<int> next = {next_header};
        b.pc.send(0xE0);
        for (int i = 0; i < 3; ++i)
            next.push_back(b.pc.receive());
        if (c.aborts) {
            std::vector<int> abort = {0x10, 0x0B, 0x00, 0xFF};
            append(abort, c.frame == 0 ? after_start : after_name);
            for (std::size_t i = next.size(); i < abort.size(); ++i)
                next.push_back(b.pc.receive());
            EXPECT_EQ(next, abort);
            EXPECT_LT(b.pc.receive(), 0);
            EXPECT_EQ(b.card.screen, copy_screen::copy_failed);
            EXPECT_EQ(b.card.notes.size(), 1U);
        } else {
            EXPECT_NE(next[1], 0x0B);
            EXPECT_EQ(b.card.screen, copy_screen::copying);
            EXPECT_TRUE(b.card.notes.empty()) << b.card.notes.front();
        }
    }
}

TEST(CopyCard, APcThatEchoesLateIsCaughtAndOneInTimeIsNot) {
    const struct {
        const char* rule;
        unsigned rc_khz;
        int reads_before_echo;  // each read `access_us`
        bool mismatch;
        unsigned access_us = 1;
    } cases[] = {
        {"30 µs late at the fastest clock (40 µs levels)", 1200, 30, false},
        {"45 µs late at the fastest clock", 1200, 45, true},
        {"70 µs late at the slowest clock (80 µs levels)", 600, 70, false},
        {"90 µs late at the slowest clock", 600, 90, true},
        // A PC that polls Ack and then writes its echo: two accesses within
        // the 55 µs level at 872 kHz, 40 µs at 1200 kHz.
        {"27 µs accesses at 872 kHz", 872, 0, false, 27},
        {"30 µs accesses at 872 kHz", 872, 0, true, 30},
        {"20 µs accesses at 1200 kHz", 1200, 0, false, 20},
        {"23 µs accesses at 1200 kHz", 1200, 0, true, 23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bench b(one_block_file(), c.rc_khz, c.access_us * US);
        b.pc.reads_before_echo = c.reads_before_echo;
        ASSERT_TRUE(b.pc.wait_ready());
        receive_frames(b, 1, [](std::size_t) { return 0x0C; });
        EXPECT_EQ(!b.card.notes.empty(), c.mismatch);
    }
}

TEST(CopyCard, WantsASecondCardAndNoConsoleBeforeItSendsAnything) {
    const struct {
        const char* rule;
        bool peer_present;
        bool console_power;
        bool protect;
        copy_screen screen;
    } cases[] = {
        {"D3 does not reach P7.3", false, false, false, copy_screen::connect_vm},
        {"the console's 5 V on P7.0", true, true, false, copy_screen::connect_vm},
        {"a copy-protected file", true, false, true, copy_screen::unable_to_copy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bench b(one_block_file());
        b.card.config.peer_present = c.peer_present;
        b.card.config.console_power = c.console_power;
        b.card.config.copy_protected = c.protect;
        b.pc.patience = 200'000;  // 200 ms of reads, well past the press at 50 ms
        EXPECT_FALSE(b.pc.wait_ready());
        EXPECT_EQ(b.card.screen, c.screen);
        EXPECT_EQ(b.card.bytes_sent, 0);
    }
}

TEST(CopyCard, PutsUpConnectVmWhenThePortIsNotHeldAndCopyAgainWhenItIs) {
    bench b(one_block_file());
    b.pc.put(0x01);  // D3 low: no second card
    b.pc.patience = 100'000;
    EXPECT_FALSE(b.pc.wait_ready());
    EXPECT_EQ(b.card.screen, copy_screen::connect_vm);
    b.pc.put(0x09);
    EXPECT_EQ(b.card.screen, copy_screen::copy_prompt);
}

TEST(CopyCard, GivesUpAfterSixBaseTimerTicksWithoutAReplyAndSixMoreWithoutAnAnswer) {
    bench b(one_block_file());
    ASSERT_TRUE(b.pc.wait_ready());
    ASSERT_EQ(b.pc.receive(), 0x11);
    const std::int64_t header_end = b.card.now_ps;
    b.pc.patience = 7'000'000;  // 7 s of reads
    EXPECT_FALSE(b.pc.wait_ack(false));
    ASSERT_TRUE(copy_card_finished(b.card));
    EXPECT_EQ(b.card.screen, copy_screen::copy_failed);
    // Six ticks for the reply, then six for the answer that would have
    // brought the abort frame: about 5.9 s.
    EXPECT_GE(in_ms(b.card.ended_ps - header_end), 5'000);
    EXPECT_LE(in_ms(b.card.ended_ps - header_end), 6'000);
    ASSERT_EQ(b.card.notes.size(), 1U);
    EXPECT_EQ(b.card.notes[0], "no reply from the PC to frame 1");
}

TEST(CopyCard, AfterAFaultWaitsForOneAnswerAndAbortsOverItsBufferOnlyOnA0C) {
    const std::vector<int> name_tail = {'P', 'Y', 'T', 'E', 'S', 'T', ' ', ' ', ' ', ' ', 0xFF};
    // The directory frame's payload from its third byte, and its trailer.
    const std::vector<int> directory_tail = {0x12, 0x31, 0x23, 0x59, 0x58, 0x04, 1, 0, 0, 0, 0xFF};
    const struct {
        const char* rule;
        std::size_t frame;       // where the fault comes, from 0
        int reply;               // the PC's reply to that frame's header
        std::size_t flip;        // the byte of it the PC echoes wrong (0: none)
        std::vector<int> after;  // what the PC sends after that frame (or that reply)
        copy_screen screen;
        std::vector<int> abort;  // the abort frame, if one comes
        bool waits;              // the card ends six ticks after the PC's last byte
    } cases[] = {
        {"no answer to the start frame", 0, 0xE0, 0, {}, copy_screen::not_enough_memory, {}, true},
        {"no answer to the name frame", 1, 0xE0, 0, {}, copy_screen::same_file_exists, {}, true},
        {"a data frame refused", 2, 0xE0, 0, {0x0A}, copy_screen::copy_failed, {}, true},
        {"a data frame refused, then 0x0C after a 0x00 passed over",
         2,
         0xE0,
         0,
         {0x0A, 0x00, 0x0C},
         copy_screen::copy_failed,
         name_tail,
         false},
        {"a data frame refused, then 0x0A",
         2,
         0xE0,
         0,
         {0x0A, 0x0A},
         copy_screen::copy_failed,
         {},
         false},
        {"the last piece's flash frame refused: the directory is in the buffer",
         9,
         0xE0,
         0,
         {0x0A, 0x0C},
         copy_screen::copy_failed,
         directory_tail,
         false},
        {"the directory frame refused",
         10,
         0xE0,
         0,
         {0x0A, 0x0C},
         copy_screen::copy_failed,
         directory_tail,
         false},
        {"a wrong reply to the name's header",
         1,
         0xE1,
         0,
         {0x0C},
         copy_screen::copy_failed,
         name_tail,
         false},
        {"a wrong echo in the last frame's trailer, the PC done",
         11,
         0xE0,
         3,
         {},
         copy_screen::copy_failed,
         {},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bench b(one_block_file());
        ASSERT_TRUE(b.pc.wait_ready());
        for (std::size_t f = 0; f <= c.frame; ++f) {
            const int header = b.pc.receive();
            ASSERT_GE(header, 0);
            if (f == c.frame && c.reply != 0xE0) {
                b.pc.send(static_cast<std::uint8_t>(c.reply));
                break;
            }
            b.pc.send(0xE0);
            const std::size_t length =
                header == 0x50 ? 128 : static_cast<std::size_t>(header - 0x0F);
            for (std::size_t i = 1; i < length + 3; ++i) {
                if (f == c.frame && i == c.flip)
                    b.pc.echo ^= 0x01;
                ASSERT_GE(b.pc.receive(), 0);
            }
            if (f < c.frame)
                b.pc.send(0x0C);
        }
        for (const int byte : c.after)
            b.pc.send(static_cast<std::uint8_t>(byte));
        const std::int64_t pc_done = b.card.now_ps;
        std::vector<int> abort;
        if (const int header = b.pc.receive(); header >= 0) {
            abort.push_back(header);
            b.pc.send(0xE0);
            for (int byte = b.pc.receive(); byte >= 0; byte = b.pc.receive())
                abort.push_back(byte);
        }
        copy_card_run_to(b.card, b.card.now_ps + 4'000 * MS);
        ASSERT_TRUE(copy_card_finished(b.card));
        EXPECT_EQ(b.card.screen, c.screen);
        std::vector<int> expected;
        if (!c.abort.empty()) {
            expected = {0x10, 0x0B, 0x00, 0xFF};
            append(expected, c.abort);
        }
        EXPECT_EQ(abort, expected);
        if (c.waits) {
            EXPECT_GE(in_ms(b.card.ended_ps - pc_done), 2'500);
            EXPECT_LE(in_ms(b.card.ended_ps - pc_done), 3'000);
        }
    }
}
