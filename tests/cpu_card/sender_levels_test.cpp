// The lengths of the sender's Ack levels, timed on the card's own clock from
// the instruction that changes the line to the one that changes it back,
// against what the sender promises (card/send.i, rule 3): a level the PC's
// echo cannot confirm lasts at least the speed's hold, 20 µs at FAST and
// 250 µs at SAFE, the first byte of a transfer included, and every high,
// one raised again after a missed answer included, at least 20 µs. The PC
// reads every cycle and answers at once, so that nothing it does stretches
// a level the card should hold; in one case it misses a high now and then,
// so that the card raises Ack again.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_card_support.h"
#include "fake_pc.h"
#include "vmu/cpu_card/card_setup.h"

using namespace cpu_card_test;

namespace {

constexpr double HIGH_HOLD_US = 20;   // every high
constexpr double ECHO_WAIT_US = 300;  // before the card raises Ack again

// One level of Ack, from one change of the line to the next.
struct ack_level {
    bool low;
    double us;
    bool d2_moved;  // D2 showed another value at its end than at its start
};

// The Ack levels of the log from the first fall on, the last (which has no
// end) left out.
std::vector<ack_level> ack_levels(const std::vector<cpu_card_lines>& log) {
    std::vector<ack_level> levels;
    bool started = false;
    bool ack = true;
    bool d2_at_start = false;
    std::uint64_t since = 0;
    for (const cpu_card_lines& at : log) {
        const bool now_ack = (at.status & STATUS_ACK) != 0;
        const bool now_d2 = (at.data & DATA_ECHO) != 0;
        if (now_ack == ack)
            continue;
        if (started)
            levels.push_back(
                {now_ack, static_cast<double>(at.time_ps - since) / 1e6, now_d2 != d2_at_start});
        started = true;
        ack = now_ack;
        since = at.time_ps;
        d2_at_start = now_d2;
    }
    return levels;
}

// The shortest level of each kind, in µs (infinity where there is none).
struct shortest {
    static constexpr double NONE = std::numeric_limits<double>::infinity();
    double first_byte_low = NONE;
    double first_byte_high = NONE;
    double unconfirmable_low = NONE;  // after the first byte
    double unconfirmable_high = NONE;
    double high = NONE;  // any
    double raised_high = NONE;
    int raised = 0;
};

// What a low was, by what D2 did meanwhile.
enum class low_kind { answered, unconfirmable, vain_wait };

// A low is unconfirmable in the transfer's first byte (its first eight
// lows), whose echo the card cannot know, and wherever the PC's answer left
// D2 as it was, unless the card waited ECHO_WAIT_US for an answer in vain:
// then it was waiting for one that would show, and the high after it is the
// bit before raised again. A high is unconfirmable where the low after it
// is.
low_kind kind_of(const ack_level& low, int index) {
    if (index < 8)
        return low_kind::unconfirmable;
    if (low.d2_moved)
        return low_kind::answered;
    return low.us >= ECHO_WAIT_US ? low_kind::vain_wait : low_kind::unconfirmable;
}

shortest shortest_levels(const std::vector<ack_level>& levels) {
    shortest got;
    int lows = 0;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const ack_level& level = levels[i];
        if (level.low) {
            const low_kind kind = kind_of(level, lows);
            if (lows < 8)
                got.first_byte_low = std::min(got.first_byte_low, level.us);
            else if (kind == low_kind::unconfirmable)
                got.unconfirmable_low = std::min(got.unconfirmable_low, level.us);
            ++lows;
            continue;
        }
        got.high = std::min(got.high, level.us);
        if (i + 1 < levels.size() && kind_of(levels[i + 1], lows) == low_kind::unconfirmable) {
            double& kind = lows < 8 ? got.first_byte_high : got.unconfirmable_high;
            kind = std::min(kind, level.us);
        }
        if (i > 0 && kind_of(levels[i - 1], lows - 1) == low_kind::vain_wait) {
            ++got.raised;
            got.raised_high = std::min(got.raised_high, level.us);
        }
    }
    return got;
}

struct level_case {
    const char* what;
    cpu_card_speed speed;
    double hold_us;     // the speed's hold of an unconfirmable level
    bool misses_highs;  // the PC misses a high every 64th byte
};

const level_case level_cases[] = {
    {"FAST, a PC in step", cpu_card_speed::fast, 20, false},
    {"FAST, a PC that misses a high now and then", cpu_card_speed::fast, 20, true},
    {"SAFE, a PC in step", cpu_card_speed::safe, 250, false},
    {"SAFE, a PC that misses a high now and then", cpu_card_speed::safe, 250, true},
};

const test_file SENT{"LEVELS", false, 1};

TEST(SenderLevels, NoLevelIsShorterThanItsHoldFirstByteAndRaisedHighsIncluded) {
    for (const level_case& c : level_cases) {
        SCOPED_TRACE(c.what);
        vmu_cpu_card card;
        start_sending(card, SENT, c.speed, 1);  // the PC sees every cycle of the card's
        std::vector<cpu_card_lines> log;
        card.line_log = &log;

        fake_pc pc;
        pc.card = &card;
        long missed_in = -1;
        // A high the next answer confirms, missed: the card waits for that
        // answer in vain, then raises Ack again.
        pc.pause_at = [&](const pc_moment& at) -> unsigned {
            if (!c.misses_highs || at.byte < 40 || at.byte % 64 != 0 || at.byte == missed_in ||
                at.phase != pc_phase::waiting_high || at.bit != 4 || at.next_echo == at.echo)
                return 0;
            missed_in = at.byte;
            return 120;
        };
        const pc_transfer got = take_transfer(pc);
        ASSERT_TRUE(got.complete);
        EXPECT_EQ(got.content, content_of(SENT));

        const shortest levels = shortest_levels(ack_levels(log));
        EXPECT_GE(levels.first_byte_low, c.hold_us);
        EXPECT_GE(levels.first_byte_high, c.hold_us);
        EXPECT_GE(levels.unconfirmable_low, c.hold_us);
        EXPECT_GE(levels.unconfirmable_high, c.hold_us);
        EXPECT_GE(levels.high, HIGH_HOLD_US);
        if (c.misses_highs) {
            EXPECT_GT(levels.raised, 0);
            EXPECT_GE(levels.raised_high, HIGH_HOLD_US);
        }
    }
}

}  // namespace
