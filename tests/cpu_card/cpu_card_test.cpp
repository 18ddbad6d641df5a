// The sender on the processor model, without the tool: what it lists and
// shows, how it takes and gives back the cable, what it does when the PC
// never answers or the card is docked; and the preparation of the card it
// runs on (the sender in the game slot of a copy, whatever was there kept).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include "cpu_card_support.h"

#include "vmu/card_realtime.h"
#include "vmu/cpu_card/card_setup.h"
#include "vmu/cpu_card/cpu_card.h"

using namespace cpu_card_test;

namespace {

// The PC's data lines as vmurx leaves them when it opens the port: D0 and D3
// high.
constexpr std::uint8_t PC_OPEN = 0x09;
constexpr std::uint8_t STATUS_NOT_BUSY = 0x80;

// A card running the sender on `card`, its presses choosing list entry
// `index` when `choose` is set.
vmu_cpu_card running_card(card_image card, bool choose, std::size_t index = 0) {
    std::string reason;
    EXPECT_TRUE(cpu_card_install(card, vmu_sender_image(), reason)) << reason;
    vmu_cpu_card cpu_card;
    vmu_cpu_load_card(cpu_card.cpu, card.bytes);
    if (choose)
        cpu_card.presses = cpu_card_choose(index);
    cpu_card_reset(cpu_card);
    return cpu_card;
}

// Reads the status register until Select falls, at most `reads` times.
bool ready_within(vmu_cpu_card& card, int reads) {
    for (int i = 0; i < reads; ++i) {
        if ((cpu_card_status_read(card) & STATUS_SELECT) == 0)
            return true;
    }
    return false;
}

// The bytes the card clocks out while the PC only reads, never answering.
std::vector<int> bytes_sent(vmu_cpu_card& card, long reads) {
    std::vector<int> bytes;
    int value = 0;
    int bits = 0;
    bool ack_high = true;
    for (long i = 0; i < reads; ++i) {
        const std::uint8_t status = cpu_card_status_read(card);
        const bool ack = (status & STATUS_ACK) != 0;
        if (ack && !ack_high) {
            value = value << 1 | ((status & STATUS_NOT_BUSY) == 0 ? 1 : 0);
            if (++bits == 8) {
                bytes.push_back(value);
                value = 0;
                bits = 0;
            }
        }
        ack_high = ack;
    }
    return bytes;
}

}  // namespace

TEST(SenderScreens, ListsTheFilesOnePerPageAndLeavesItselfOut) {
    const card_image card = card_with({{"FIRST_SAVE", false, 3}, {"A_GAME", true, 2}});
    vmu_cpu_card first = running_card(card, false);
    cpu_card_run_to_ms(first, 1000);
    EXPECT_EQ(screen_text(first.cpu),
              "FILE 001/002\n"
              "FIRST_SAVE\n"
              "DATA 003 BLK\n"
              "<> FAST\n"
              "A:SEND B:END\n");

    // Down once, then look before A: the game, moved aside, is a file too.
    vmu_cpu_card second = running_card(card, true, 1);
    cpu_card_run_to_ms(second, cpu_card_chosen_ms(1) - 500);
    EXPECT_EQ(screen_text(second.cpu),
              "FILE 002/002\n"
              "A_GAME\n"
              "GAME 002 BLK\n"
              "<> FAST\n"
              "A:SEND B:END\n");
}

TEST(SenderScreens, SaysSoWhenThereIsNothingToSendOrTheCardIsDocked) {
    vmu_cpu_card empty = running_card(card_with({}), false);
    cpu_card_run_to_ms(empty, 1000);
    EXPECT_EQ(screen_text(empty.cpu), "NO FILES\n\n\n\nPRESS A KEY\n");

    vmu_cpu_card docked = running_card(card_with({{"SAVE", false, 1}}), true);
    docked.docked = true;
    cpu_card_reset(docked);
    cpu_card_run_to_ms(docked, cpu_card_chosen_ms(0));
    cpu_card_data_write(docked, PC_OPEN);
    EXPECT_EQ(screen_text(docked.cpu), "CARD DOCKED\n\nTAKE IT OUT\nTO SEND\n\n");
    EXPECT_FALSE(ready_within(docked, 100000));
    EXPECT_EQ(docked.ever_driven, 0);
}

TEST(SenderCable, WaitsForThePortToOpenAndGivesUpOnAPcThatNeverAnswers) {
    vmu_cpu_card card = running_card(card_with({{"SAVE", false, 1}}), true);
    cpu_card_run_to_ms(card, cpu_card_chosen_ms(0));
    EXPECT_EQ(screen_text(card.cpu), "SAVE\nWAITING FOR\nTHE PC\n\nA:GO B:STOP\n");
    // Until D3 rises the card keeps Select high, but already drives it.
    EXPECT_FALSE(ready_within(card, 20000));
    EXPECT_EQ(cpu_card_driven(card), CABLE_CARD_OUTPUTS);

    cpu_card_data_write(card, PC_OPEN);
    ASSERT_TRUE(ready_within(card, 20000));
    // The header of the start block (two bytes), then nothing for 2 s: the
    // card waits for the reply, gives up, and lets go of the cable.
    const std::vector<int> sent = bytes_sent(card, 1'500'000);
    EXPECT_EQ(sent, std::vector<int>{0x11});
    EXPECT_EQ(screen_text(card.cpu),
              "SEND FAILED\nNO REPLY\nSTART BLOCK\n0000/0004\nPRESS A KEY\n");
    EXPECT_EQ(card.ever_driven, CABLE_CARD_OUTPUTS);
    EXPECT_EQ(cpu_card_driven(card), 0);
    EXPECT_NE(cpu_card_status_lines(card) & STATUS_SELECT, 0);
}

// Counting, a level the PC puts on D0 holds the card for the delay unit the
// tool waits after it: the floor that unit is told with, or cycles_per_delay
// where the floor is 0. The first level of a byte also holds it for the five
// units the tool waits before the byte.
TEST(SenderCable, EachLevelThePcSendsLastsTheFloorOfItsWrite) {
    vmu_cpu_card card;
    cpu_card_reset(card);
    card.cycles_per_delay = 50;
    cpu_card_set_data(card, PC_OPEN);
    constexpr std::uint8_t PC_D0_LOW = PC_OPEN & ~0x01;
    const struct {
        unsigned floor_us;
        std::uint8_t data;
        std::uint64_t cycles;  // without a floor: the cycles the write takes
        int lead = 0;          // units before the write
    } writes[] = {
        {0, PC_D0_LOW, 6 * 50, SEND_LEAD_DELAYS},  // the lead and the first level
        {1000, PC_OPEN, 0},
        {200, PC_D0_LOW, 0},
        {0, PC_OPEN, 50},
    };
    for (const auto& w : writes) {
        SCOPED_TRACE(testing::Message() << "floor " << w.floor_us << " us");
        const std::uint64_t before = card.target_cycle;
        for (int unit = 0; unit < w.lead; ++unit)
            cpu_card_delay(card, w.floor_us);
        cpu_card_data_write(card, w.data);
        cpu_card_delay(card, w.floor_us);
        const std::uint64_t cycles = card.target_cycle - before;
        if (w.floor_us == 0) {
            EXPECT_EQ(cycles, w.cycles);
        } else {
            // Whole cycles: at least the floor, and less than a cycle more.
            const std::uint64_t floor_ps = std::uint64_t{w.floor_us} * 1'000'000;
            EXPECT_GE(cycles * card.cpu.cycle_ps, floor_ps);
            EXPECT_LT((cycles - 1) * card.cpu.cycle_ps, floor_ps);
        }
    }
}

// A root whose directory the system chain contradicts (cut to its first
// block, hiding slots 16 on) is no card to place the sender through.
TEST(SenderCard, IsNotPutOnACardThroughALyingRoot) {
    card_image card = card_with({{"OLD_GAME", true, 20}, {"SAVE", false, 2}});
    card.bytes[255 * 512 + 0x4C] = 1;
    const card_image before = card;
    std::string reason;
    EXPECT_FALSE(cpu_card_install(card, vmu_sender_image(), reason));
    EXPECT_EQ(reason,
              "the directory the root names (fields 0x4A and 0x4C: 1 block from block 253) "
              "disagrees with the system chain: block 253's FAT entry is 0x00FC, not 0xFFFA");
    EXPECT_EQ(card.bytes, before.bytes);
}

TEST(SenderCard, TheSenderTakesTheGameSlotOfACopyAndKeepsEveryFile) {
    struct row {
        const char* what;
        std::vector<test_file> files;
    };
    const row rows[] = {
        {"a game at block 0 moves aside and stays a game",
         {{"OLD_GAME", true, 20}, {"SAVE", false, 2}}},
        {"a full card: the data file moves up", {{"FULL", false, 200}}},
        {"data files in the blocks the sender needs", {{"LOW", false, 190}, {"TOP", false, 10}}},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        card_image card = card_with(r.files);
        std::string reason;
        ASSERT_TRUE(cpu_card_install(card, vmu_sender_image(), reason)) << reason;
        card_layout layout;
        ASSERT_TRUE(card_read_layout(card, layout, reason));

        // The sender at block 0, whole.
        const auto sender = vmu_sender_image();
        EXPECT_TRUE(std::equal(sender.begin(), sender.end(), card.bytes.begin()));

        // Every file listed, with its bytes and its kind, and found again.
        const std::vector<card_file> listed = cpu_card_listed(card);
        ASSERT_EQ(listed.size(), r.files.size());
        for (std::size_t i = 0; i < listed.size(); ++i) {
            const auto given = std::find_if(
                r.files.begin(), r.files.end(),
                [&](const test_file& f) { return f.name == card_file_name(listed[i]); });
            ASSERT_NE(given, r.files.end()) << card_file_name(listed[i]);
            EXPECT_EQ(listed[i].type, given->game ? TYPE_GAME : TYPE_DATA);
            const card_chain chain =
                card_follow_chain(card, layout, listed[i].first_block, listed[i].blocks);
            EXPECT_TRUE(chain.fault.empty()) << chain.fault;
            EXPECT_EQ(card_chain_bytes(card, chain), content_of(*given));
            std::size_t index = 99;
            EXPECT_TRUE(cpu_card_list_index(card, listed[i], index));
            EXPECT_EQ(index, i);
        }
    }
}

TEST(SenderCable, InRealTimeTheCardTakesThePcsWritesInOrderAndSignalsReady) {
    vmu_cpu_card card = running_card(card_with({{"SAVE", false, 1}}), true);
    cpu_card_run_to_ms(card, cpu_card_chosen_ms(0));
    static card_realtime rt;  // the ring is large
    cpu_card_soft soft(card);
    card_realtime_start(rt, soft);
    EXPECT_NE(card_realtime_read(rt) & STATUS_SELECT, 0);
    // D3 low, high, then the port open: the card ends on the last.
    card_realtime_write(rt, 0x00);
    card_realtime_write(rt, 0x08);
    card_realtime_write(rt, PC_OPEN);
    // However loaded the machine, the card's 15 ms come within seconds.
    bool ready = false;
    for (int i = 0; i < 1000 && !ready; ++i) {
        ready = (card_realtime_read(rt) & STATUS_SELECT) == 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    card_realtime_stop(rt);
    EXPECT_TRUE(ready);
    EXPECT_EQ(card.data_writes, 3U);
    EXPECT_EQ(card.data, PC_OPEN);
}
