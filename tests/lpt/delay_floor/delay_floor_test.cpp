// The floor under the delay unit, measured where the card sees it: with the
// floor at 200 µs, every level a sent byte holds on D0 lasts at least that
// long, however fast the loop runs. Timestamps come from the recording
// backend; only lower bounds are checked, so a loaded machine cannot fail it.
#include <gtest/gtest.h>

#include <cstdint>

#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "recording_port.h"

namespace {

// Puts the floor back however a test ends: a failed ASSERT returns at once.
struct floor_restorer {
    unsigned saved = delay_floor_us();
    floor_restorer() = default;
    floor_restorer(const floor_restorer&) = delete;
    floor_restorer& operator=(const floor_restorer&) = delete;
    ~floor_restorer() { set_delay_floor_us(saved); }
};

TEST(DelayFloor, EveryD0LevelOfASentByteLastsAtLeastTheFloor) {
    const floor_restorer restore;
    const struct {
        unsigned floor_us;
        int byte;
    } cases[] = {
        {200, 0x00}, {200, 0xFF}, {200, 0xE0}, {200, 0x0C}, {200, 0xA5}, {1000, 0x5A},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "floor " << c.floor_us << " byte " << c.byte);
        set_delay_floor_us(c.floor_us);
        lpt_port port{};
        port.base = 0x378;
        port.data_shadow = DATA_SEND_CLOCK | DATA_OPEN;
        recorded_writes().clear();
        const std::int64_t floor_ns = std::int64_t{c.floor_us} * 1'000;

        lpt_write_byte(port, c.byte);

        // Two writes per bit: D0 low with the bit on D1, then D0 high.
        const auto& writes = recorded_writes();
        ASSERT_EQ(writes.size(), 16u);
        for (std::size_t i = 0; i + 1 < writes.size(); ++i) {
            const bool clock_high = (writes[i].value & DATA_SEND_CLOCK) != 0;
            EXPECT_EQ(clock_high, i % 2 == 1) << "write " << i;
            EXPECT_GE(writes[i + 1].at_ns - writes[i].at_ns, floor_ns)
                << "D0 " << (clock_high ? "high" : "low") << " level after write " << i;
        }
        const int bit0 = c.byte & 1;
        EXPECT_EQ((writes.back().value & DATA_SEND_BIT) != 0, bit0 != 0);
    }
}

TEST(DelayFloor, TheVariableTakesDigitsOnly) {
    const struct {
        const char* text;
        bool taken;
        unsigned value;
    } cases[] = {
        {"0", true, 0},      {"50", true, 50},          {"0050", true, 50}, {"10000", true, 10000},
        {"10001", false, 0}, {"99999999999", false, 0}, {"", false, 0},     {"-1", false, 0},
        {"+50", false, 0},   {" 50", false, 0},         {"50 ", false, 0},  {"50us", false, 0},
        {"0x10", false, 0},  {"5e1", false, 0},
    };
    for (const auto& c : cases) {
        unsigned floor_us = 7;
        EXPECT_EQ(parse_delay_floor(c.text, floor_us), c.taken) << '"' << c.text << '"';
        EXPECT_EQ(floor_us, c.taken ? c.value : 7u) << '"' << c.text << '"';
    }
}

}  // namespace
