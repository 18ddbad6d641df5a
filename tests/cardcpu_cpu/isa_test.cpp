// The instruction table: every opcode byte decodes to the form the opcode
// map gives it, with the size and the cycle count of that form, and the step
// function has a handler for every opcode the table defines.
#include <gtest/gtest.h>

#include <string>

#include "cardcpu/cpu/isa.h"
#include "machine.h"

namespace {

struct opcode_case {
    std::uint8_t opcode;
    const char* mnemonic;
    vmu_form form;
    std::uint8_t size;
    std::uint8_t cycles;
};

// A row per form, and at the ends of each opcode range the map gives.
const opcode_case cases[] = {
    {0x00, "nop", vmu_form::implied, 1, 1},   {0x01, "br", vmu_form::r8, 2, 2},
    {0x03, "ld", vmu_form::d9, 2, 1},         {0x07, "ld", vmu_form::ri, 1, 1},
    {0x08, "call", vmu_form::a12, 2, 2},      {0x1F, "call", vmu_form::a12, 2, 2},
    {0x10, "callr", vmu_form::r16, 3, 4},     {0x11, "brf", vmu_form::r16, 3, 4},
    {0x13, "st", vmu_form::d9, 2, 1},         {0x14, "st", vmu_form::ri, 1, 1},
    {0x20, "callf", vmu_form::a16, 3, 2},     {0x21, "jmpf", vmu_form::a16, 3, 2},
    {0x23, "mov", vmu_form::imm_d9, 3, 2},    {0x27, "mov", vmu_form::imm_ri, 2, 1},
    {0x28, "jmp", vmu_form::a12, 2, 2},       {0x3F, "jmp", vmu_form::a12, 2, 2},
    {0x30, "mul", vmu_form::implied, 1, 7},   {0x31, "be", vmu_form::imm_r8, 3, 2},
    {0x33, "be", vmu_form::d9_r8, 3, 2},      {0x36, "be", vmu_form::ri_imm_r8, 3, 2},
    {0x40, "div", vmu_form::implied, 1, 7},   {0x41, "bne", vmu_form::imm_r8, 3, 2},
    {0x42, "bne", vmu_form::d9_r8, 3, 2},     {0x47, "bne", vmu_form::ri_imm_r8, 3, 2},
    {0x48, "bpc", vmu_form::bit_d9_r8, 3, 2}, {0x5F, "bpc", vmu_form::bit_d9_r8, 3, 2},
    {0x50, "ldf", vmu_form::implied, 1, 2},   {0x51, "stf", vmu_form::implied, 1, 2},
    {0x53, "dbnz", vmu_form::d9_r8, 3, 2},    {0x55, "dbnz", vmu_form::ri_r8, 2, 2},
    {0x61, "push", vmu_form::d9, 2, 2},       {0x63, "inc", vmu_form::d9, 2, 1},
    {0x66, "inc", vmu_form::ri, 1, 1},        {0x6C, "bp", vmu_form::bit_d9_r8, 3, 2},
    {0x71, "pop", vmu_form::d9, 2, 2},        {0x72, "dec", vmu_form::d9, 2, 1},
    {0x77, "dec", vmu_form::ri, 1, 1},        {0x7F, "bp", vmu_form::bit_d9_r8, 3, 2},
    {0x80, "bz", vmu_form::r8, 2, 2},         {0x81, "add", vmu_form::imm, 2, 1},
    {0x83, "add", vmu_form::d9, 2, 1},        {0x85, "add", vmu_form::ri, 1, 1},
    {0x8A, "bn", vmu_form::bit_d9_r8, 3, 2},  {0x90, "bnz", vmu_form::r8, 2, 2},
    {0x91, "addc", vmu_form::imm, 2, 1},      {0x96, "addc", vmu_form::ri, 1, 1},
    {0xA0, "ret", vmu_form::implied, 1, 2},   {0xA1, "sub", vmu_form::imm, 2, 1},
    {0xA3, "sub", vmu_form::d9, 2, 1},        {0xAF, "not1", vmu_form::bit_d9, 2, 1},
    {0xB0, "reti", vmu_form::implied, 1, 2},  {0xB2, "subc", vmu_form::d9, 2, 1},
    {0xB8, "not1", vmu_form::bit_d9, 2, 1},   {0xC0, "ror", vmu_form::implied, 1, 1},
    {0xC1, "ldc", vmu_form::implied, 1, 2},   {0xC3, "xch", vmu_form::d9, 2, 1},
    {0xC7, "xch", vmu_form::ri, 1, 1},        {0xC8, "clr1", vmu_form::bit_d9, 2, 1},
    {0xD0, "rorc", vmu_form::implied, 1, 1},  {0xD1, "or", vmu_form::imm, 2, 1},
    {0xDF, "clr1", vmu_form::bit_d9, 2, 1},   {0xE0, "rol", vmu_form::implied, 1, 1},
    {0xE1, "and", vmu_form::imm, 2, 1},       {0xE9, "set1", vmu_form::bit_d9, 2, 1},
    {0xF0, "rolc", vmu_form::implied, 1, 1},  {0xF1, "xor", vmu_form::imm, 2, 1},
    {0xF5, "xor", vmu_form::ri, 1, 1},        {0xFF, "set1", vmu_form::bit_d9, 2, 1},
};

TEST(VmuIsa, EachOpcodeDecodesToItsFormSizeAndCycles) {
    for (const opcode_case& c : cases) {
        const vmu_insn_form* form = vmu_decode(c.opcode);
        ASSERT_NE(form, nullptr) << std::hex << int{c.opcode};
        EXPECT_EQ(std::string(form->mnemonic), c.mnemonic) << std::hex << int{c.opcode};
        EXPECT_EQ(form->form, c.form) << std::hex << int{c.opcode};
        EXPECT_EQ(form->size, c.size) << std::hex << int{c.opcode};
        EXPECT_EQ(form->cycles, c.cycles) << std::hex << int{c.opcode};
    }
}

// The assembler encodes a row's base opcode with operand bits added: every
// opcode so made must decode back to that very row, and no two rows may
// share a mnemonic and form (the assembler would not know which to take).
TEST(VmuIsa, RowsAndDecodingAgree) {
    const auto forms = vmu_insn_forms();
    for (const vmu_insn_form& row : forms) {
        EXPECT_EQ(row.opcode & vmu_form_opcode_bits(row.form), 0) << row.mnemonic;
        for (unsigned bits = 0; bits < 256; ++bits) {
            if ((bits & ~unsigned{vmu_form_opcode_bits(row.form)}) == 0) {
                EXPECT_EQ(vmu_decode(static_cast<std::uint8_t>(row.opcode | bits)), &row)
                    << row.mnemonic << " " << std::hex << (row.opcode | bits);
            }
        }
        for (const vmu_insn_form& other : forms) {
            if (&other != &row) {
                EXPECT_FALSE(std::string(other.mnemonic) == row.mnemonic && other.form == row.form)
                    << row.mnemonic;
            }
        }
    }
}

// The model runs each operation through a handler looked up by operation: a
// defined opcode without one would run as undefined.
TEST(VmuIsa, EveryDefinedOpcodeRunsAndNoOtherDoes) {
    for (unsigned opcode = 0; opcode < 256; ++opcode) {
        machine m({static_cast<std::uint8_t>(opcode), 0x00, 0x00});
        const bool defined = vmu_decode(static_cast<std::uint8_t>(opcode)) != nullptr;
        EXPECT_EQ(m.step() != 0, defined) << std::hex << opcode;
        EXPECT_EQ(m.cpu.fault == "undefined opcode", !defined) << std::hex << opcode;
    }
}

}  // namespace
