// The sender from the state the system starts a game in (the quartz clock,
// key interrupts in continuous mode, the base timer every 0.5 s): it lists
// the card and takes short presses wherever they fall, it returns to the
// menu only when asked and puts the system's clock, keys and battery check
// back, it outlives many ticks of the base timer, and after a transfer it
// leaves port 1 as the system keeps it.
#include <gtest/gtest.h>

#include "cpu_card_support.h"
#include "fake_pc.h"
#include "vmu/cpu_card/card_setup.h"

using namespace cpu_card_test;

namespace {

const std::vector<test_file> THREE_FILES = {
    {"FIRST", false, 1}, {"SECOND", false, 1}, {"THIRD", false, 1}};

vmu_cpu_card started_card(const std::vector<test_file>& files) {
    card_image image = card_with(files);
    std::string reason;
    EXPECT_TRUE(cpu_card_install(image, vmu_sender_image(), reason)) << reason;
    vmu_cpu_card card;
    vmu_cpu_load_card(card.cpu, image.bytes);
    cpu_card_reset(card);
    return card;
}

std::uint8_t reg(const vmu_cpu_card& card, std::uint16_t address) {
    return card.cpu.sfr[address - 0x100];
}

// A press of 150 ms, the shortest a hurried user makes, at moments spread
// over the sender's key loop and the base timer's ticks: each moves the list
// on by one.
TEST(SenderFromTheSystem, TakesEveryShortPressWhereverItFalls) {
    const double offsets_ms[] = {0, 3.1, 17.7, 88.4, 249.9, 250.3, 499.0, 731.6};
    for (const double offset : offsets_ms) {
        SCOPED_TRACE(offset);
        vmu_cpu_card card = started_card(THREE_FILES);
        const double at = 1000 + offset;
        card.presses = {{VMU_BUTTON_DOWN, at, 150}, {VMU_BUTTON_DOWN, at + 400, 150}};
        cpu_card_run_to_ms(card, at + 390);
        EXPECT_EQ(screen_text(card.cpu).substr(0, 13), "FILE 002/003\n");
        cpu_card_run_to_ms(card, at + 800);
        EXPECT_EQ(screen_text(card.cpu).substr(0, 13), "FILE 003/003\n");
    }
}

// Left and right switch the speed, and the list shows it.
TEST(SenderFromTheSystem, LeftAndRightSwitchTheSpeed) {
    vmu_cpu_card card = started_card(THREE_FILES);
    card.presses = {{VMU_BUTTON_RIGHT, 1000, 150}, {VMU_BUTTON_LEFT, 1400, 150}};
    cpu_card_run_to_ms(card, 990);
    EXPECT_NE(screen_text(card.cpu).find("\n<> FAST\n"), std::string::npos);
    cpu_card_run_to_ms(card, 1300);
    EXPECT_NE(screen_text(card.cpu).find("\n<> SAFE\n"), std::string::npos);
    cpu_card_run_to_ms(card, 1700);
    EXPECT_NE(screen_text(card.cpu).find("\n<> FAST\n"), std::string::npos);
}

// Twenty seconds of the card's time with no key: forty base-timer ticks, each
// through the system's clock routine and back to the stub's pop ie. The
// sender is still on its list, its stack no deeper than its key loop; then B
// or MODE ends it,
// with the system's clock, key mode, interrupts and battery check back.
TEST(SenderFromTheSystem, LeavesOnlyWhenAskedAndPutsTheSystemBack) {
    for (const std::uint8_t key : {VMU_BUTTON_B, VMU_BUTTON_MODE}) {
        vmu_cpu_card card = started_card(THREE_FILES);
        card.presses = {{key, 20'000, 150}};
        cpu_card_run_to_ms(card, 19'990);
        EXPECT_EQ(card.cpu.state, vmu_cpu_state::running) << card.cpu.fault;
        EXPECT_EQ(screen_text(card.cpu).substr(0, 13), "FILE 001/003\n");
        EXPECT_LE(reg(card, vmu_sfr("SP")), 0x85);   // the key loop's calls, no more
        EXPECT_EQ(reg(card, vmu_sfr("OCR")), 0x81);  // its own: the RC clock /6
        cpu_card_run_to_ms(card, 20'400);
        EXPECT_EQ(card.cpu.state, vmu_cpu_state::ended);
        EXPECT_EQ(reg(card, vmu_sfr("OCR")), 0xA3);
        EXPECT_EQ(reg(card, vmu_sfr("P3INT")) & 0x05, 0x05);
        EXPECT_EQ(reg(card, vmu_sfr("IE")), 0x83);
        EXPECT_EQ(card.cpu.ram[VMU_BATTERY_CHECK], 0x00);
        EXPECT_TRUE(vmu_cpu_notes(card.cpu).empty());
    }
}

// After a transfer port 1 is as the system keeps it: only P17 an output,
// the pins given back to their functions; none of the PC's lines driven.
// The battery check that sending turned off is on again, the list's clock
// back.
TEST(SenderFromTheSystem, LeavesPortOneAsTheSystemKeepsIt) {
    vmu_cpu_card card = started_card({{"SAVE", false, 2}});
    card.presses = cpu_card_choose(0);
    cpu_card_run_to_ms(card, cpu_card_chosen_ms(0));
    fake_pc pc;
    pc.card = &card;
    ASSERT_TRUE(take_transfer(pc).complete);
    cpu_card_run_to_ms(card, static_cast<double>(card.cpu.time_ps) / 1e9 + 100);
    EXPECT_EQ(screen_text(card.cpu).substr(0, 10), "SAVE\nDONE\n");
    EXPECT_EQ(vmu_cpu_p1_outputs(card.cpu).ddr, 0x80);
    EXPECT_EQ(reg(card, vmu_sfr("P1FCR")), 0xBF);
    EXPECT_EQ(card.ever_driven, CABLE_CARD_OUTPUTS);
    EXPECT_EQ(cpu_card_driven(card), 0);
    EXPECT_EQ(card.cpu.ram[VMU_BATTERY_CHECK], 0x00);
    EXPECT_EQ(reg(card, vmu_sfr("OCR")), 0x81);
}

}  // namespace
