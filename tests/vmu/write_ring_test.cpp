// The ring that hands the PC's writes to a card's thread: every write taken
// once and in order, across the ring's end and a lap, and a card that fell a
// whole ring behind told it lost writes rather than handed stale ones.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "vmu/write_ring.h"

namespace {

std::uint8_t value_of(std::uint64_t number) {
    return static_cast<std::uint8_t>(number * 7 + 3);
}

TEST(WriteRing, HandsEveryWriteOnceInOrderAndTellsAnOverrun) {
    const struct {
        const char* rule;
        std::uint64_t skipped;  // writes taken before, to start at that point of the ring
        std::uint64_t written;  // writes then put before the card looks
        std::uint64_t taken;    // how many the card then takes
        write_ring_take after;  // and what it meets next
    } cases[] = {
        {"an empty ring", 0, 0, 0, write_ring_take::none},
        {"a few writes", 0, 3, 3, write_ring_take::none},
        {"a whole ring behind, not more", 0, WRITE_RING_SLOTS, WRITE_RING_SLOTS,
         write_ring_take::none},
        {"across the ring's end", WRITE_RING_SLOTS - 2, 5, 5, write_ring_take::none},
        {"one more than a ring: lost", 0, WRITE_RING_SLOTS + 1, 0, write_ring_take::overrun},
        {"lost in a later lap", 3 * WRITE_RING_SLOTS + 5, WRITE_RING_SLOTS + 1, 0,
         write_ring_take::overrun},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const auto ring = std::make_unique<write_ring>();
        write_ring_reset(*ring);
        std::uint64_t next = 0;
        std::uint8_t value = 0;
        for (std::uint64_t i = 0; i < c.skipped; ++i) {
            write_ring_put(*ring, value_of(i));
            ASSERT_EQ(write_ring_next(*ring, next, value), write_ring_take::taken);
        }
        for (std::uint64_t i = 0; i < c.written; ++i)
            write_ring_put(*ring, value_of(c.skipped + i));
        for (std::uint64_t i = 0; i < c.taken; ++i) {
            ASSERT_EQ(write_ring_next(*ring, next, value), write_ring_take::taken) << i;
            ASSERT_EQ(value, value_of(c.skipped + i)) << i;
        }
        EXPECT_EQ(write_ring_next(*ring, next, value), c.after);
        EXPECT_EQ(next, c.skipped + c.taken);
    }
}

TEST(WriteRing, AResetRingIsEmptyAgain) {
    const auto ring = std::make_unique<write_ring>();
    std::uint64_t next = 0;
    std::uint8_t value = 0;
    for (std::uint64_t i = 0; i < WRITE_RING_SLOTS + 10; ++i)
        write_ring_put(*ring, 0x55);
    write_ring_reset(*ring);
    EXPECT_EQ(write_ring_next(*ring, next, value), write_ring_take::none);
    write_ring_put(*ring, 0xA5);
    EXPECT_EQ(write_ring_next(*ring, next, value), write_ring_take::taken);
    EXPECT_EQ(value, 0xA5);
}

}  // namespace
