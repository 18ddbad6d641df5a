// The sender's handshake on the PC's echo (card/send.i's rules), each case
// played by a PC that pauses once, on cue, at one moment of one bit of the
// card's, and a whole one-block transfer after it: a PC that is slow to see
// a low or to answer it, one that misses an Ack high (within a byte and
// across a byte boundary), one that falls a bit behind, at FAST and SAFE. A
// transfer completes byte for byte in each; where a PC takes a bit wrongly,
// the card stops and the PC stores nothing.
#include <gtest/gtest.h>

#include "cpu_card_support.h"
#include "fake_pc.h"
#include "vmu/cpu_card/card_setup.h"

using namespace cpu_card_test;

namespace {

// The moments of a bit, by what the echoes show. An answer is visible where
// the echo differs from the one before; a high is confirmed by the next
// answer only where that one is visible.
enum class bit_kind { visible, unconfirmable, visible_next, unconfirmable_next, any };

bool is_kind(const pc_moment& at, bit_kind kind) {
    switch (kind) {
        case bit_kind::visible:
            return at.echo != at.previous_echo;
        case bit_kind::unconfirmable:
            return at.echo == at.previous_echo;
        case bit_kind::visible_next:
            return at.next_echo != at.echo;
        case bit_kind::unconfirmable_next:
            return at.next_echo == at.echo;
        default:
            return true;
    }
}

struct echo_case {
    const char* what;
    cpu_card_speed speed;
    pc_phase phase;
    bit_kind kind;
    int bit;  // -1: any bit but the last of its byte
    unsigned pause_us;
    bool completes;  // else the card stops, and the PC stores nothing
};

// The pause falls in a data frame, once the card knows the echoes (from the
// 40th byte on), at the first moment that fits.
const echo_case echo_cases[] = {
    {"in step", cpu_card_speed::fast, pc_phase::waiting_low, bit_kind::any, -1, 0, true},
    {"slow to see a low whose answer shows: the card waits", cpu_card_speed::fast,
     pc_phase::waiting_low, bit_kind::visible, -1, 150, true},
    {"slow to answer a low: the card waits", cpu_card_speed::fast, pc_phase::before_echo,
     bit_kind::visible, -1, 250, true},
    {"misses an Ack high the next answer confirms: raised again", cpu_card_speed::fast,
     pc_phase::waiting_high, bit_kind::visible_next, -1, 120, true},
    {"misses the high of a byte's last bit: raised again across the boundary", cpu_card_speed::fast,
     pc_phase::waiting_high, bit_kind::visible_next, 0, 120, true},
    {"misses an unconfirmable low and falls a bit behind: caught up", cpu_card_speed::fast,
     pc_phase::waiting_low, bit_kind::unconfirmable, -1, 45, true},
    {"SAFE: paused through an unconfirmable low's time at FAST", cpu_card_speed::safe,
     pc_phase::waiting_low, bit_kind::unconfirmable, -1, 200, true},
    {"SAFE: paused through a high that nothing confirms", cpu_card_speed::safe,
     pc_phase::waiting_high, bit_kind::unconfirmable_next, -1, 200, true},
    {"SAFE: misses a high the next answer confirms", cpu_card_speed::safe, pc_phase::waiting_high,
     bit_kind::visible_next, 0, 200, true},
    {"answers a low only once the card raised Ack again: stopped, nothing stored",
     cpu_card_speed::safe, pc_phase::before_echo, bit_kind::visible, -1, 318, false},
};

const test_file SENT{"ECHO_TEST", false, 1};

TEST(SenderEcho, EveryCaseOfTheHandshakeEndsInAWholeFileOrNone) {
    for (const echo_case& c : echo_cases) {
        SCOPED_TRACE(c.what);
        vmu_cpu_card card;
        start_sending(card, SENT, c.speed);
        fake_pc pc;
        pc.card = &card;
        bool paused = false;
        pc.pause_at = [&](const pc_moment& at) -> unsigned {
            const bool bit_fits = c.bit < 0 ? at.bit != 0 : at.bit == c.bit;
            if (paused || c.pause_us == 0 || at.byte < 40 || at.phase != c.phase || !bit_fits ||
                !is_kind(at, c.kind))
                return 0;
            paused = true;
            return c.pause_us;
        };
        const pc_transfer got = take_transfer(pc);
        EXPECT_EQ(pc.pauses, c.pause_us != 0 ? 1U : 0U);
        EXPECT_EQ(got.complete, c.completes);
        if (got.complete) {
            EXPECT_EQ(got.content, content_of(SENT));
            EXPECT_EQ(std::string(got.name.begin(), got.name.end()),
                      std::string("ECHO_TEST\0\0\0", 12));
        } else {
            cpu_card_run_to_ms(card, static_cast<double>(card.cpu.time_ps) / 1e9 + 3000);
            EXPECT_EQ(screen_text(card.cpu).substr(0, 23), "SEND FAILED\nECHO WRONG\n");
        }
    }
}

// The levels the echo confirms cost no fixed hold: with a PC in step, FAST
// and SAFE differ only by the unconfirmable ones, and SAFE holds each of
// those at least 250 us (the card's time for the same file).
TEST(SenderEcho, SafeHoldsOnlyWhatTheEchoCannotConfirm) {
    double ms[2] = {0, 0};
    for (const cpu_card_speed speed : {cpu_card_speed::fast, cpu_card_speed::safe}) {
        vmu_cpu_card card;
        start_sending(card, SENT, speed);
        const std::uint64_t start = card.cpu.time_ps;
        fake_pc pc;
        pc.card = &card;
        ASSERT_TRUE(take_transfer(pc).complete);
        ms[speed == cpu_card_speed::safe ? 1 : 0] =
            static_cast<double>(card.cpu.time_ps - start) / 1e9;
    }
    // About 5300 bits; a quarter to a half of the levels unconfirmable.
    EXPECT_LT(ms[0], 600.0);
    EXPECT_GT(ms[1] - ms[0], 5300 * 0.5 * 0.23);
}

// Rule 2's exception at its narrowest: a PC that reads a low and pauses
// before its answer about as long as the card waits and raises Ack again,
// so that the late answer lands anywhere from the raised high through the
// few cycles around the next fall, the PC reading every cycle. Where the
// PC then takes the raised bit and the next low as two bits, it runs a bit
// ahead, which the echoes cannot show in a run of nine alike (the pause
// falls in the third piece's, whose trailer the shifted bits still pass).
// A transfer fails or arrives whole, never wrong.
TEST(SenderEcho, ALateAnswerAroundTheFallAfterARaiseNeverStoresAWrongFile) {
    // Byte 328 of the transfer is byte 292 of the file: the run it needs.
    ASSERT_EQ(content_of(SENT)[292], 0x00);
    int whole = 0;
    for (unsigned pause_us = 326; pause_us <= 340; ++pause_us) {
        SCOPED_TRACE(pause_us);
        vmu_cpu_card card;
        start_sending(card, SENT, cpu_card_speed::fast, 1);
        fake_pc pc;
        pc.card = &card;
        pc.pause_at = [&](const pc_moment& at) -> unsigned {
            if (pc.pauses != 0 || at.byte < 328 || at.bit > 4 || at.bit == 0 ||
                at.phase != pc_phase::before_echo || at.echo == at.previous_echo)
                return 0;
            return pause_us;
        };
        const pc_transfer got = take_transfer(pc);
        EXPECT_EQ(pc.pauses, 1U);
        if (got.complete) {
            ++whole;
            EXPECT_EQ(got.content, content_of(SENT));
        }
    }
    EXPECT_GT(whole, 0);  // an answer after the fall answers that low
}

}  // namespace
