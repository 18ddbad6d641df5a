// The machine around the instructions: the clocks, the timers' counting and
// overflow in both widths, the interrupt rule after RETI, the buttons and a
// clock stopped under the processor.
#include <gtest/gtest.h>

#include "machine.h"

namespace {

TEST(VmuMachine, CycleLengthFollowsOcr) {
    const std::pair<std::uint8_t, std::uint32_t> cases[] = {
        {0x00, 13'698'630},   // RC, /12: about 13.7 us
        {0x80, 6'849'315},    // RC, /6
        {0xA0, 183'105'469},  // quartz, /6: 183 us
        {0x20, 366'210'938},  // quartz, /12
        {0x90, 1'000'000},    // ceramic, /6
        {0xB0, 1'000'000},    // 11 is the ceramic too
        {0x10, 2'000'000},    // ceramic, /12
        {0xA3, 183'105'469},  // quartz with RC and ceramic stopped
    };
    for (const auto& [ocr, ps] : cases) {
        machine m({0x00});
        m.write(vmu_sfr("OCR"), ocr);
        EXPECT_EQ(vmu_cpu_cycle_ps(m.cpu), ps) << std::hex << int{ocr};
        m.step();
        EXPECT_EQ(m.cpu.time_ps, ps) << std::hex << int{ocr};
        EXPECT_EQ(m.cpu.state, vmu_cpu_state::running);
    }
}

TEST(VmuMachine, StoppingTheRunningClockFaults) {
    machine m({0x23, 0x0E, 0x02});  // mov #$02,OCR: stop RC while running on it
    m.step();
    EXPECT_EQ(m.cpu.state, vmu_cpu_state::fault);
    EXPECT_EQ(m.cpu.fault_pc, 0);
}

struct timer_case {
    const char* what;
    std::uint16_t control;
    std::uint8_t control_value;
    std::vector<std::pair<std::uint16_t, std::uint8_t>> setup;  // written first
    unsigned nops_before;                                       // NOPs with the flag still clear
    std::uint8_t flag;
};

const timer_case timer_cases[] = {
    // T0 counts every 256 - T0PRR cycles: 2 here, 3 counts to overflow.
    {"T0L", vmu_sfr("T0CNT"), 0x40, {{vmu_sfr("T0PRR"), 0xFE}, {vmu_sfr("T0LR"), 0xFD}}, 5, 0x02},
    {"T0H", vmu_sfr("T0CNT"), 0x80, {{vmu_sfr("T0PRR"), 0xFE}, {vmu_sfr("T0HR"), 0xFE}}, 3, 0x08},
    {"T0 16-bit",
     vmu_sfr("T0CNT"),
     0x60,
     {{vmu_sfr("T0PRR"), 0xFF}, {vmu_sfr("T0LR"), 0xFC}, {vmu_sfr("T0HR"), 0xFF}},
     3,
     0x08},
    // T1 counts every cycle (measured on a card by the authors of a timer
    // test program: reloaded with 0xFD it reads 0xFE one LD after its start).
    {"T1L", vmu_sfr("T1CNT"), 0x40, {{vmu_sfr("T1L"), 0xFE}}, 1, 0x02},
    {"T1H", vmu_sfr("T1CNT"), 0x80, {{vmu_sfr("T1H"), 0xFF}}, 0, 0x08},
    {"T1 16-bit",
     vmu_sfr("T1CNT"),
     0x60,
     {{vmu_sfr("T1L"), 0xFD}, {vmu_sfr("T1H"), 0xFF}},
     2,
     0x08},
};

TEST(VmuMachine, TimersOverflowAfterTheirCounts) {
    for (const timer_case& c : timer_cases) {
        machine m(std::vector<std::uint8_t>(64, 0x00));
        for (const auto& [address, value] : c.setup) {
            m.write(address, value);
        }
        m.write(c.control, c.control_value);
        for (unsigned i = 0; i < c.nops_before; ++i) {
            m.step();
            EXPECT_EQ(m.read(c.control) & c.flag, 0) << c.what << " after " << i + 1;
        }
        m.step();
        EXPECT_NE(m.read(c.control) & c.flag, 0) << c.what;
    }
}

TEST(VmuMachine, TimerReadsCountAndReloads) {
    machine m(std::vector<std::uint8_t>(64, 0x00));
    m.write(vmu_sfr("T1L"), 0xF0);    // the reload
    m.write(vmu_sfr("T1CNT"), 0x40);  // start: the counter takes the reload
    EXPECT_EQ(m.read(vmu_sfr("T1L")), 0xF0);
    for (int i = 0; i < 10; ++i) {
        m.step();
    }
    EXPECT_EQ(m.read(vmu_sfr("T1L")), 0xFA);
    for (int i = 0; i < 6; ++i) {
        m.step();
    }
    EXPECT_EQ(m.read(vmu_sfr("T1L")), 0xF0);  // overflowed at 16 counts and reloaded
}

// One instruction after RETI runs before the next interrupt, even when one
// is due at once. A request is taken up by the instruction it stands at and
// entered after it, as a step of its own.
TEST(VmuMachine, OneInstructionAfterReti) {
    machine m({0xB0}, 0x13);  // reti, at the T0L vector
    m.cpu.flash[0x200] = 0x00;
    m.cpu.flash[0x201] = 0x00;
    m.cpu.flash[0x202] = 0x00;
    m.cpu.pc = 0x200;
    m.write(vmu_sfr("IE"), 0x80);
    m.write(vmu_sfr("T0CNT"), 0x03);  // T0L's flag and its enable: always due
    EXPECT_EQ(m.step(), 1U);          // the NOP that takes it up
    EXPECT_EQ(m.cpu.pc, 0x201);
    EXPECT_EQ(m.step(), 2U);
    EXPECT_EQ(m.cpu.pc, 0x13);
    EXPECT_EQ(m.step(), 2U);  // reti
    EXPECT_EQ(m.cpu.pc, 0x201);
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x202);  // the one instruction
    m.step();
    EXPECT_EQ(m.cpu.pc, 0x13);
    EXPECT_EQ(m.read(vmu_sfr("SP")), 0x81);
}

TEST(VmuMachine, NoInterruptWithoutTheMasterEnable) {
    machine m({0x00, 0x00});
    m.write(vmu_sfr("IE"), 0x03);
    m.write(vmu_sfr("T0CNT"), 0x03);
    m.step();
    EXPECT_EQ(m.cpu.pc, 1);
}

TEST(VmuMachine, ButtonsReadLowAndRaiseP3sFlag) {
    machine m({});
    m.write(vmu_sfr("P3INT"), 0xFC);  // flag and enable clear
    vmu_cpu_set_buttons(m.cpu, VMU_BUTTON_A | VMU_BUTTON_UP);
    EXPECT_EQ(m.read(vmu_sfr("P3")), 0xEE);
    EXPECT_EQ(m.read(vmu_sfr("P3INT")) & 0x02, 0x02);
    m.write(vmu_sfr("P3INT"), 0xFC);
    vmu_cpu_set_buttons(m.cpu, VMU_BUTTON_A);  // a release raises nothing
    EXPECT_EQ(m.read(vmu_sfr("P3INT")) & 0x02, 0);
    EXPECT_EQ(m.read(vmu_sfr("P3")), 0xEF);
}

}  // namespace
