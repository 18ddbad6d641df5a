// The parallel-port link through the software VMU: device names to ports,
// open and close, the communications log's text and its overflow note, the
// handshake and the receive counted in exact status reads, the D2 echo, the
// bits of a sent byte on D0/D1, and a delay loop that really spends time.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "block/program.h"
#include "lpt/byte_exchange.h"
#include "lpt/lpt.h"
#include "platform/emu/emu_platform.h"

namespace {

using bytes = std::vector<std::uint8_t>;

// Standard output of `action`.
template <typename F>
std::string out(F action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

struct read_outcome {
    int result;
    std::string out;
    std::uint64_t reads;
};

class Link : public testing::Test {
protected:
    void SetUp() override {
        emu_vmu() = vmu_sim{};
        vmu_port = lpt_port{};
        echo_byte = ECHO_INITIAL;
    }
    vmu_sim& card = emu_vmu();

    // Opens LPT1; the card says ready after `ready_after` reads and then sends
    // `script` with one read per Ack level. `first_read` 0 skips the handshake.
    void open(std::vector<std::int16_t> script, std::int64_t ready_after, int first_read = 0) {
        card.ready_after = ready_after;
        card.script = std::move(script);
        out([&] { ASSERT_EQ(lpt_open("LPT1:", vmu_port), 1); });
        vmu_port.first_read = first_read;
    }
    read_outcome read(int timeout) {
        const std::uint64_t before = card.status_reads;
        int result = 0;
        std::string text = out([&] { result = lpt_read_byte(vmu_port, timeout); });
        return {result, text, card.status_reads - before};
    }
    bytes written() const {
        bytes values;
        for (const vmu_data_write& w : card.data_writes)
            values.push_back(w.value);
        return values;
    }
};

// Numbers are C notation and nothing else, whatever the C library's scanf
// accepts: no binary prefix, digits end at the first stranger, and only the
// low 16 bits of any number of digits count.
TEST_F(Link, DeviceNameSelectsBaseOrIsRefusedUntouched) {
    const struct {
        const char* name;
        const char* shown;  // nullptr: refused
        std::uint16_t base;
    } cases[] = {
        {"LPT1:", "$378", 0x378},  {"lpt2", "$278", 0x278},     {"Lpt3x", "$3bc", 0x3BC},
        {"0x378", "$378", 0x378},  {"888", "$378", 0x378},      {"378", "$17a", 0x17A},
        {"0370", "$0f8", 0xF8},    {"0xEC00", "$ec00", 0xEC00}, {"0x12378", "$2378", 0x2378},
        {" 0x378", "$378", 0x378}, {"+888", "$378", 0x378},     {"-1", "$ffff", 0xFFFF},
        {"lpt", nullptr, 0},       {"lpt0", nullptr, 0},        {"lpt4", nullptr, 0},
        {"LPTx", nullptr, 0},      {"lpt0x378", nullptr, 0},    {"com1", nullptr, 0},
        {"", nullptr, 0},          {"0b101", "$000", 0x000},    {"0X3bC", "$3bc", 0x3BC},
        {"0x", "$000", 0x000},     {"0378", "$01f", 0x01F},     {"089", "$000", 0x000},
        {"1e3", "$001", 0x001},    {"\t\n888z", "$378", 0x378}, {"-0x378", "$fc88", 0xFC88},
        {"-", nullptr, 0},         {"+ 1", nullptr, 0},         {"x378", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("name \"") + c.name + "\"");
        SetUp();
        int result = -1;
        int error = 0;
        const std::string text = out([&] {
            errno = 0;
            result = lpt_open(c.name, vmu_port);
            error = errno;
        });
        const bool ok = c.shown != nullptr;
        EXPECT_EQ(result, ok ? 1 : 0);
        if (!ok) {
            EXPECT_EQ(error, ENODEV);  // the caller's perror must not say "Success"
        }
        EXPECT_EQ(text, ok ? std::string("open \"") + c.name + "\" @ " + c.shown + "\n"
                           : std::string("Unknown parallel port: ") + c.name +
                                 "\nTry a hex base address if necessary (ie. 0x378)\n");
        EXPECT_EQ(card.acquired, ok);
        EXPECT_EQ(card.base, c.base);
        EXPECT_EQ(written(), ok ? bytes{0x09} : bytes{});
        EXPECT_EQ(vmu_port.first_read, ok ? 1 : 0);
        EXPECT_EQ(card.status_reads, 0u);
        EXPECT_TRUE(card.stray.empty());
    }
    // 2^64 + 0x378: a reader that stops at the largest long would give 0xFFFF.
    SetUp();
    out([&] { EXPECT_EQ(lpt_open("18446744073709552504", vmu_port), 1); });
    EXPECT_EQ(card.base, 0x378);
}

TEST_F(Link, OpenThenCloseLowersD3AndPrintsEmptyLog) {
    EXPECT_EQ(out([&] {
                  EXPECT_EQ(lpt_open("LPT1:", vmu_port), 1);
                  EXPECT_EQ(lpt_close(vmu_port), 1);
              }),
              "open \"LPT1:\" @ $378\nclose\n\nCommunications log: \n");
    EXPECT_EQ(written(), (bytes{0x09, 0x01}));
    EXPECT_TRUE(card.released);
}

TEST_F(Link, RefusedAcquirePrintsNothingAndKeepsErrno) {
    card.refuse_errno = EACCES;
    errno = 0;
    EXPECT_EQ(out([&] { EXPECT_EQ(lpt_open("0x378", vmu_port), 0); }), "");
    EXPECT_EQ(errno, EACCES);
    EXPECT_TRUE(card.data_writes.empty());
}

TEST_F(Link, LogPrintsEveryEntryAndRepeats) {
    const struct {
        std::vector<std::int32_t> entries;
        std::string items;
    } cases[] = {
        {{}, ""},
        {{0x0C, 0x150, 0xE0}, "S:0c R:50 S:e0 "},
        {{0x100, 0xFF}, "R:00 S:ff "},
        {{512, 527, 766, 767, 768}, "S:200 S:20f S:2fe S:2ff R:200 "},
    };
    for (const auto& c : cases) {
        vmu_port.log_count = 0;
        for (std::int32_t entry : c.entries)
            comm_log_append(vmu_port, entry);
        for (int pass = 0; pass < 2; ++pass)
            EXPECT_EQ(out([&] { comm_log_print(vmu_port); }),
                      "\nCommunications log: " + c.items + "\n");
    }
}

TEST_F(Link, FullLogKeepsItsEntriesAndCountsTheRest) {
    std::string expected = "\nCommunications log: ";
    char item[8];
    for (std::int32_t i = 0; i < COMM_LOG_SIZE + 3; ++i) {
        comm_log_append(vmu_port, i & 0xFF);
        std::snprintf(item, sizeof item, "S:%02x ", static_cast<unsigned>(i & 0xFF));
        expected += i < COMM_LOG_SIZE ? item : "";
    }
    expected += "(log full: 3 more entries not recorded) \n";
    EXPECT_EQ(vmu_port.log_count, COMM_LOG_SIZE);
    for (int pass = 0; pass < 2; ++pass)
        EXPECT_EQ(out([&] { comm_log_print(vmu_port); }), expected);
}

TEST_F(Link, ReadAfterFailedHandshakeReceivesAByte) {
    open({0x42}, 1'000'000, 1);
    EXPECT_EQ(read(1).out, "firstread-err,");
    EXPECT_EQ(read(1).result, 0x42);
    ASSERT_EQ(vmu_port.log_count, 1);
    EXPECT_EQ(vmu_port.comm_log[0], LOG_RECEIVED + 0x42);
}

// Both waits make one status read per unit of the budget; a timeout below 1
// stands for 10 and one too large for 32 bits saturates. The handshake
// (`hsk`) succeeds on the read that takes the last unit and sends nothing.
// A receive of 0xA5 (one idle read, then 16 Ack levels) fails on that read
// whatever it shows, and a budget ending in the wait for Ack low still costs
// one read for Ack high; the card may stall before bit `stall` (Ack high, or
// low with `low`).
TEST_F(Link, WaitsSpendExactlyTheBudget) {
    const struct {
        bool hsk;
        int timeout;
        std::int64_t ready_after;
        int stall;  // -1: none
        bool low;
        read_outcome expected;
        std::uint8_t echo;  // echo_byte afterwards: the bits assembled
    } cases[] = {
        {true, 10, 0, -1, false, {READY_BYTE, "firstread-hsk,", 1}, 0x50},
        {true, 10, 9'999'999, -1, false, {READY_BYTE, "firstread-hsk,", 10'000'000}, 0x50},
        {true, 10, 10'000'000, -1, false, {READ_TIMEOUT, "firstread-err,", 10'000'000}, 0x50},
        {true, 0, VMU_NEVER, -1, false, {READ_TIMEOUT, "firstread-err,", 10'000'000}, 0x50},
        {true, -3, VMU_NEVER, -1, false, {READ_TIMEOUT, "firstread-err,", 10'000'000}, 0x50},
        {false, 1, 999'982, -1, false, {0xA5, "", 999'999}, 0xA5},
        {false, 1, 999'983, -1, false, {READ_TIMEOUT, "only got 7 bits\n", 1'000'000}, 0xA5},
        {false, 1, 999'992, -1, false, {READ_TIMEOUT, "only got 3 bits\n", 1'000'001}, 0x0A},
        {false, 5, 0, 0, false, {READ_TIMEOUT, "only got 0 bits\n", 5'000'001}, 0x00},
        {false, 5, 0, 3, false, {READ_TIMEOUT, "only got 3 bits\n", 5'000'001}, 0x0B},
        {false, 5, 0, 7, false, {READ_TIMEOUT, "only got 7 bits\n", 5'000'001}, 0xA4},
        {false, 5, 0, 0, true, {READ_TIMEOUT, "only got 0 bits\n", 5'000'000}, 0x00},
        {false, 5, 0, 3, true, {READ_TIMEOUT, "only got 3 bits\n", 5'000'000}, 0x0B},
        {false, 5, 0, 7, true, {READ_TIMEOUT, "only got 7 bits\n", 5'000'000}, 0xA4},
        {false, 2147, 0, -1, false, {0xA5, "", 17}, 0xA5},
        {false, 2148, 0, -1, false, {0xA5, "", 17}, 0xA5},
        {false, INT_MAX, 0, -1, false, {0xA5, "", 17}, 0xA5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.hsk << " " << c.timeout << " " << c.ready_after << " "
                                        << c.stall << " " << c.low);
        SetUp();
        card.stall_byte = c.stall < 0 ? VMU_NEVER : 0;
        card.stall_bit = c.stall;
        card.stall_ack_low = c.low;
        open({0xA5}, c.ready_after, c.hsk ? 1 : 0);
        const read_outcome got = read(c.timeout);
        EXPECT_EQ(got.result, c.expected.result);
        EXPECT_EQ(got.out, c.expected.out);
        EXPECT_EQ(got.reads, c.expected.reads);
        EXPECT_EQ(vmu_port.first_read, 0);
        EXPECT_EQ(vmu_port.log_count, got.result < 0 || c.hsk ? 0 : 1);
        EXPECT_EQ(echo_byte, c.echo);
        if (c.hsk) {
            EXPECT_EQ(written(), bytes{0x09});  // no line changes
        }
    }
}

TEST_F(Link, ReceiveEchoesThePreviousByteOnD2) {
    open({0xA5, 0x3C}, 0);
    EXPECT_EQ(read(BLOCK_TIMEOUT).result, 0xA5);
    EXPECT_EQ(read(BLOCK_TIMEOUT).result, 0x3C);
    EXPECT_EQ(card.echo_bits, (bytes{0, 1, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(echo_byte, 0x3C);
    ASSERT_EQ(vmu_port.log_count, 2);
    EXPECT_EQ(vmu_port.comm_log[0], 0x1A5);
    EXPECT_EQ(vmu_port.comm_log[1], 0x13C);
    EXPECT_EQ(written().size(), 1u + 16u);
    EXPECT_EQ(written().back(), 0x0D);  // the last echo bit, bit 0 of 0xA5, on D2
}

TEST_F(Link, SendClocksEachBitOnD0WithTheBitOnD1) {
    open({}, 0);
    vmu_port.data_shadow |= DATA_ECHO;
    card.data_writes.clear();
    EXPECT_EQ(lpt_write_byte(vmu_port, 0x10C), 0);
    EXPECT_EQ(written(), (bytes{0x0C, 0x0D, 0x0C, 0x0D, 0x0C, 0x0D, 0x0C, 0x0D, 0x0E, 0x0F, 0x0E,
                                0x0F, 0x0C, 0x0D, 0x0C, 0x0D}));
    EXPECT_EQ(card.status_reads, 0u);
    ASSERT_EQ(vmu_port.log_count, 1);
    EXPECT_EQ(vmu_port.comm_log[0], 0x0C);
    ASSERT_EQ(card.pc_bytes.size(), 1u);
    EXPECT_EQ(card.pc_bytes[0].value, 0x0C);
}

// The data writes made before each call of the delay function in use.
std::vector<std::size_t>& writes_at_delays() {
    static std::vector<std::size_t> writes;
    return writes;
}

void record_delay() {
    writes_at_delays().push_back(emu_vmu().data_writes.size());
}

// A sent byte waits through the delay function a program set: the lead of
// five units before its first bit, then one unit after each of the 16 levels
// it puts on D0. A null function puts the tool's own unit back.
TEST_F(Link, SentBytesWaitThroughTheDelayFunctionInUse) {
    open({}, 0);
    card.data_writes.clear();
    writes_at_delays().clear();
    set_delay_function(record_delay);
    lpt_write_byte(vmu_port, 0xA5);
    set_delay_function(nullptr);
    std::vector<std::size_t> expected(SEND_LEAD_DELAYS, 0);
    for (std::size_t level = 1; level <= 16; ++level)
        expected.push_back(level);
    EXPECT_EQ(writes_at_delays(), expected);

    lpt_delay();
    EXPECT_EQ(writes_at_delays().size(), expected.size());
}

// A software card that keeps the PC's time is told each of the link's delay
// units through the seam, with the floor in use and in order among the
// writes: the lead before the first bit, then one after each level on D0.
// The scripted card comes back when the card is taken away, at once.
TEST_F(Link, ACountingCardIsToldEveryDelayUnitInOrder) {
    struct recording_card final : soft_card {
        std::string& log;
        explicit recording_card(std::string& l) : log(l) {}
        std::uint8_t status_read() override {
            log += "r ";
            return 0xFF;
        }
        void data_write(std::uint8_t value) override {
            log += "w" + std::to_string(value & 0x03) + " ";
        }
        void delay(unsigned floor_us) override { log += "d" + std::to_string(floor_us) + " "; }
        void sleep(unsigned) override { log += "s "; }
        [[nodiscard]] card_ps now() const override { return 0; }
        [[nodiscard]] card_ps next_event() const override { return 0; }
        void run_to(card_ps) override {}
        void set_data(std::uint8_t) override {}
        [[nodiscard]] std::uint8_t status_lines() const override { return 0xFF; }
        [[nodiscard]] bool finished() const override { return true; }
        [[nodiscard]] card_ps read_cost() const override { return 0; }
    };
    std::string log;
    emu_use_card(std::make_unique<recording_card>(log));
    set_delay_floor_us(70);
    out([&] { ASSERT_EQ(lpt_open("LPT1:", vmu_port), 1); });
    log.clear();
    lpt_write_byte(vmu_port, 0xA5);  // 1010 0101: D1 carries each bit, D0 its clock
    set_delay_floor_us(0);
    std::string expected = "d70 d70 d70 d70 d70 ";
    for (int bit = 7; bit >= 0; --bit) {
        const int d1 = ((0xA5 >> bit) & 1) * 2;
        expected += "w" + std::to_string(d1) + " d70 w" + std::to_string(d1 | 1) + " d70 ";
    }
    EXPECT_EQ(log, expected);

    // Taken away while the port is still held: the PC's next access reaches
    // the scripted card, not the card that is gone.
    emu_use_card(nullptr);
    card.data_writes.clear();
    port_write(vmu_port.base, CABLE_DATA_IDLE);
    EXPECT_EQ(card.data_writes.size(), 1U);
    open({}, 0);
    card.data_writes.clear();
    lpt_write_byte(vmu_port, 0x00);
    EXPECT_EQ(card.data_writes.size(), 16U);
}

TEST_F(Link, DelayLoopSpendsTime) {
    constexpr int calls = 2000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i)
        lpt_delay();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent.count(), calls * DELAY_LOOPS * 0.05);  // >= 0.05 ns per iteration
}

}  // namespace
