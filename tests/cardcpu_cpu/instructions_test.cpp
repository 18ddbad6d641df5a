// Single instructions on the model: the flags of the arithmetic around their
// carries, MUL and DIV, the jump and branch targets at their limits, @Ri
// through each register bank, and the ports' latch against their pins.
#include <gtest/gtest.h>

#include "machine.h"

namespace {

constexpr std::uint8_t CY = 0x80, AC = 0x40, OV = 0x04;

struct arith_case {
    std::uint8_t opcode;  // the #i8 form
    std::uint8_t acc, operand;
    bool carry_in;
    std::uint8_t result;
    std::uint8_t flags;  // CY, AC and OV after
};

const arith_case arith_cases[] = {
    {0x81, 0x00, 0x00, false, 0x00, 0},        // add: nothing
    {0x81, 0x0F, 0x01, false, 0x10, AC},       // add: half carry only
    {0x81, 0xFF, 0x01, false, 0x00, CY | AC},  // add: carry out
    {0x81, 0x7F, 0x01, false, 0x80, AC | OV},  // add: signed overflow
    {0x81, 0x80, 0x80, false, 0x00, CY | OV},  // add: carry and overflow
    {0x81, 0x10, 0x20, true, 0x30, 0},         // add ignores CY
    {0x91, 0xFE, 0x01, true, 0x00, CY | AC},   // addc: the carry makes it
    {0x91, 0x0E, 0x01, true, 0x10, AC},        // addc: half carry from CY
    {0x91, 0x7F, 0x00, true, 0x80, AC | OV},   // addc: overflow from CY
    {0xA1, 0x10, 0x01, false, 0x0F, AC},       // sub: half borrow
    {0xA1, 0x00, 0x01, false, 0xFF, CY | AC},  // sub: borrow
    {0xA1, 0x80, 0x01, false, 0x7F, AC | OV},  // sub: signed overflow
    {0xA1, 0x05, 0x05, true, 0x00, 0},         // sub ignores CY
    {0xB1, 0x05, 0x05, true, 0xFF, CY | AC},   // subc: the borrow makes it
    {0xB1, 0x00, 0xFF, true, 0x00, CY | AC},   // subc: 0 - 255 - 1
    {0xB1, 0x80, 0x00, true, 0x7F, AC | OV},   // subc: overflow from CY
};

TEST(VmuInstructions, ArithmeticFlagsAroundTheCarries) {
    for (const arith_case& c : arith_cases) {
        machine m({c.opcode, c.operand});
        m.write(vmu_sfr("ACC"), c.acc);
        m.write(vmu_sfr("PSW"), c.carry_in ? CY : 0);
        EXPECT_EQ(m.step(), 1U);
        EXPECT_EQ(m.read(vmu_sfr("ACC")), c.result)
            << std::hex << int{c.opcode} << " " << int{c.acc};
        EXPECT_EQ(m.read(vmu_sfr("PSW")) & (CY | AC | OV), c.flags)
            << std::hex << int{c.opcode} << " " << int{c.acc} << " " << int{c.operand};
    }
}

TEST(VmuInstructions, ParityFollowsAcc) {
    for (const auto& [acc, parity] :
         {std::pair{0x00, 0}, {0x01, 1}, {0x03, 0}, {0x80, 1}, {0xFE, 1}, {0xFF, 0}}) {
        machine m({});
        m.write(vmu_sfr("ACC"), static_cast<std::uint8_t>(acc));
        m.write(vmu_sfr("PSW"), 0x01);  // read-only: the write does not set it
        EXPECT_EQ(m.read(vmu_sfr("PSW")) & 1, parity) << acc;
    }
}

struct muldiv_case {
    std::uint8_t opcode;
    std::uint8_t acc, c, b;
    std::uint8_t out_acc, out_c, out_b;
    bool ov;
};

const muldiv_case muldiv_cases[] = {
    {0x30, 0x12, 0x34, 0x02, 0x24, 0x68, 0x00, false},  // 0x1234 x 2
    {0x30, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0xFE, true},   // 0xFFFF x 0xFF = 0xFEFF01
    {0x30, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, false},
    {0x40, 0x12, 0x34, 0x10, 0x01, 0x23, 0x04, false},  // 0x1234 / 16 = 0x123 r 4
    {0x40, 0xFF, 0xFF, 0x01, 0xFF, 0xFF, 0x00, false},
    {0x40, 0x12, 0x34, 0x00, 0xFF, 0x34, 0x00, true},  // by zero: ACC 0xFF, OV
};

TEST(VmuInstructions, MulAndDiv) {
    for (const muldiv_case& t : muldiv_cases) {
        machine m({t.opcode});
        m.write(vmu_sfr("ACC"), t.acc);
        m.write(vmu_sfr("C"), t.c);
        m.write(vmu_sfr("B"), t.b);
        m.write(vmu_sfr("PSW"), CY);
        EXPECT_EQ(m.step(), 7U);
        EXPECT_EQ(m.read(vmu_sfr("ACC")), t.out_acc) << std::hex << int{t.opcode} << int{t.b};
        EXPECT_EQ(m.read(vmu_sfr("C")), t.out_c) << std::hex << int{t.opcode} << int{t.b};
        EXPECT_EQ(m.read(vmu_sfr("B")), t.out_b) << std::hex << int{t.opcode} << int{t.b};
        EXPECT_EQ((m.read(vmu_sfr("PSW")) & OV) != 0, t.ov);
        EXPECT_EQ(m.read(vmu_sfr("PSW")) & CY, 0);
    }
}

struct jump_case {
    std::uint16_t at;
    std::vector<std::uint8_t> code;
    std::uint16_t target;
    unsigned cycles;
};

const jump_case jump_cases[] = {
    // a12: the top 4 bits come from the next instruction's address.
    {0x0100, {0x2F, 0x34}, 0x0734, 2},  // jmp, bits 10-8 from the opcode
    {0x0100, {0x38, 0x00}, 0x0800, 2},  // jmp, bit 11 from opcode bit 4
    {0x0FFE, {0x28, 0x10}, 0x1010, 2},  // next is 0x1000: the next page
    {0x1FFC, {0x3F, 0xFF}, 0x1FFF, 2},
    // r8, from the next instruction, at its limits.
    {0x0100, {0x01, 0x7F}, 0x0181, 2},
    {0x0100, {0x01, 0x80}, 0x0082, 2},
    // r16: the next instruction - 1 + r16, at its limits.
    {0x0100, {0x11, 0x00, 0x00}, 0x0102, 4},
    {0x0100, {0x11, 0xFF, 0x7F}, 0x8101, 4},
    {0x8000, {0x11, 0x00, 0x80}, 0x0002, 4},
    {0x0100, {0x11, 0xFF, 0xFF}, 0x0101, 4},
    // a16, big-endian.
    {0x0100, {0x21, 0xBE, 0xEF}, 0xBEEF, 2},
};

TEST(VmuInstructions, JumpAndBranchTargets) {
    for (const jump_case& c : jump_cases) {
        machine m(c.code, c.at);
        EXPECT_EQ(m.step(), c.cycles) << std::hex << c.at << " " << int{c.code[0]};
        EXPECT_EQ(m.cpu.pc, c.target) << std::hex << c.at << " " << int{c.code[0]};
    }
}

TEST(VmuInstructions, CallsPushLowThenHighAndReturn) {
    // 0x0200: callr +0x0100 (to 0x0302); 0x0302: ret.
    machine m({0x10, 0x00, 0x01}, 0x0200);
    m.cpu.flash[0x0302] = 0xA0;
    EXPECT_EQ(m.step(), 4U);
    EXPECT_EQ(m.cpu.pc, 0x0302);
    EXPECT_EQ(m.read(vmu_sfr("SP")), 0x81);
    EXPECT_EQ(m.cpu.ram[0x80], 0x03);  // low byte of the return address first
    EXPECT_EQ(m.cpu.ram[0x81], 0x02);
    EXPECT_EQ(m.step(), 2U);
    EXPECT_EQ(m.cpu.pc, 0x0203);
    EXPECT_EQ(m.read(vmu_sfr("SP")), 0x7F);
}

TEST(VmuInstructions, CompareBranchesSetCarryAlike) {
    struct {
        std::uint8_t opcode, acc, operand;
        bool taken, carry;
    } const cases[] = {
        {0x31, 5, 5, true, false},  {0x31, 4, 5, false, true}, {0x31, 6, 5, false, false},
        {0x41, 5, 5, false, false}, {0x41, 4, 5, true, true},  {0x41, 6, 5, true, false},
    };
    for (const auto& c : cases) {
        machine m({c.opcode, c.operand, 0x10});
        m.write(vmu_sfr("ACC"), c.acc);
        EXPECT_EQ(m.step(), 2U);
        EXPECT_EQ(m.cpu.pc, c.taken ? 0x13 : 0x03) << std::hex << int{c.opcode} << int{c.acc};
        EXPECT_EQ((m.read(vmu_sfr("PSW")) & CY) != 0, c.carry)
            << std::hex << int{c.opcode} << int{c.acc};
    }
}

// @Ri: the pointer at IRBK x 4 + i, R2 and R3 into 0x100-0x1FF.
TEST(VmuInstructions, IndirectThroughEachRegisterBank) {
    for (unsigned irbk = 0; irbk < 4; ++irbk) {
        for (unsigned i = 0; i < 4; ++i) {
            machine m({static_cast<std::uint8_t>(0x04 | i)});  // ld @Ri
            m.write(vmu_sfr("PSW"), static_cast<std::uint8_t>(irbk << 3));
            const std::uint16_t pointer = static_cast<std::uint16_t>(irbk * 4 + i);
            // R0/R1 point into RAM, R2/R3 at B (0x102) or into XRAM.
            const std::uint8_t low = i < 2 ? 0x40 : (i == 2 ? 0x02 : 0x90);
            m.write(pointer, low);
            const std::uint16_t target = static_cast<std::uint16_t>(low | (i >= 2 ? 0x100 : 0));
            m.write(target, static_cast<std::uint8_t>(0xA0 + irbk * 4 + i));
            EXPECT_EQ(m.step(), 1U);
            EXPECT_EQ(m.read(vmu_sfr("ACC")), 0xA0 + irbk * 4 + i) << irbk << " " << i;
        }
    }
}

TEST(VmuInstructions, RamBankFollowsPswBit1) {
    machine m({0x22, 0x40, 0x11});  // mov #$11,$040
    m.write(vmu_sfr("PSW"), 0x02);
    m.step();
    EXPECT_EQ(m.cpu.ram[0x140], 0x11);
    EXPECT_EQ(m.cpu.ram[0x040], 0x00);
}

// P1 read: (latch AND DDR) OR (pins AND NOT DDR); the read-modify-write
// instructions start from the latch.
TEST(VmuInstructions, PortLatchAgainstPinReads) {
    struct {
        std::vector<std::uint8_t> code;
        std::uint8_t latch_after;
        std::uint8_t acc_after;
    } const cases[] = {
        {{0x03, 0x44}, 0x3C, 0xCC},        // ld P1: DDR 0x0F, latch 0x3C, pins 0xC5
        {{0x63, 0x44}, 0x3D, 0x00},        // inc P1: latch + 1, not the pins + 1
        {{0x73, 0x44}, 0x3B, 0x00},        // dec P1
        {{0xF9, 0x44}, 0x3E, 0x00},        // set1 P1,1
        {{0xDA, 0x44}, 0x38, 0x00},        // clr1 P1,2
        {{0xBF, 0x44}, 0xBC, 0x00},        // not1 P1,7
        {{0x53, 0x44, 0x00}, 0x3B, 0x00},  // dbnz P1
        {{0x5D, 0x44, 0x00}, 0x1C, 0x00},  // bpc P1,5: set in the latch, 0 on the pin
        {{0x13, 0x44}, 0x00, 0x00},        // st P1: ACC 0 into the latch
    };
    for (const auto& c : cases) {
        machine m(c.code);
        m.write(vmu_sfr("P1DDR"), 0x0F);
        m.write(vmu_sfr("P1"), 0x3C);
        vmu_cpu_set_p1_pins(m.cpu, 0xC5);
        m.step();
        EXPECT_EQ(vmu_cpu_p1_outputs(m.cpu).latch, c.latch_after) << std::hex << int{c.code[0]};
        EXPECT_EQ(vmu_cpu_p1_outputs(m.cpu).ddr, 0x0F);
        EXPECT_EQ(m.read(vmu_sfr("ACC")), c.acc_after) << std::hex << int{c.code[0]};
        EXPECT_EQ(m.read(vmu_sfr("P1DDR")), 0xFF);  // write-only
    }
}

}  // namespace
