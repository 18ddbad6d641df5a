// The scripted card as the real-time runner drives it, with the clock played
// by the test: each step is the card's time, the PC's writes taken at it, the
// run to it, and the tool's last read told after the lines are published, as
// card_loop does. The rules are the ones the real-time runs rely on, judged
// by the card's levels rather than by the machine's clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cable/cable.h"
#include "clock/time_units.h"
#include "rule_pc.h"
#include "vmu/vmu_sim_soft.h"

namespace {

// One moment of the run: the PC's writes at it, then the tool's reads so
// far, the last of them returning the lines, or where it did not see them
// the lines of the card before the PC opened the port.
struct moment {
    card_ps at_us;
    std::vector<std::uint8_t> writes;
    std::uint64_t reads;
    bool saw;
    bool ready;     // Select low afterwards
    bool ack_high;  // Ack afterwards
};

// Runs the card's events up to `until`, one at a time, as the runner does.
void run_card_to(vmu_sim_soft& card, card_ps until) {
    while (card.now() < until || card.next_event() <= until)
        card.run_to(std::min(until, card.next_event()));
}

// The first level after the ready signal waits for two reads of the tool
// that saw it, however long ago its time ran out; a read counted by number
// only, whose value is from before the level, does not count. A card that
// samples its pins every 50 µs sees only what the register holds at its
// instants: D3 raised and dropped between two of them never opens it.
TEST(ScriptedCardRealTime, HoldsTheFirstLevelForTheToolAndSamplesAtItsInstants) {
    const std::uint8_t OPEN = CABLE_DATA_IDLE;
    const struct {
        const char* rule;
        int sample_us;
        std::vector<moment> run;
    } cases[] = {
        {"the first level waits for two reads that saw it",
         0,
         {{0, {OPEN}, 10, false, true, false},
          {500, {}, 14, false, true, false},  // counted, but not seen the level
          {900, {}, 15, true, true, false},
          {2000, {}, 15, true, true, false},
          {2001, {}, 16, true, true, true},
          {2050, {}, 16, true, true, true},
          {2052, {}, 16, true, true, false}}},
        {"a sampled write is seen at the next instant",
         50,
         {{10, {OPEN}, 0, false, false, true},
          {49, {}, 0, false, false, true},
          {50, {}, 0, false, true, false}}},
        {"a level between two instants is lost",
         50,
         {{10, {OPEN}, 0, false, false, true},
          {20, {0x00}, 0, false, false, true},
          {60, {}, 0, false, false, true},
          {200, {}, 0, false, false, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        vmu_sim_soft card;
        card.vmu.frames.push_back(vmu_make_frame(BLOCK_CODE_START, {TYPE_DATA, 1}));
        card.config.hold_us = 50;
        card.config.sample_us = c.sample_us;
        card.start();
        card.reserve();
        const std::uint8_t closed = card.status_lines();
        for (const moment& m : c.run) {
            SCOPED_TRACE(m.at_us);
            const card_ps until = m.at_us * PS_PER_US;
            run_card_to(card, until);
            for (std::uint8_t value : m.writes)
                card.set_data(value);
            run_card_to(card, until);
            card.pc_reads(m.reads, m.saw ? card.status_lines() : closed);
            run_card_to(card, until);
            const std::uint8_t lines = card.status_lines();
            EXPECT_EQ(!rule_pc::select_high(lines), m.ready);
            EXPECT_EQ(rule_pc::ack_high(lines), m.ack_high);
        }
    }
}

}  // namespace
