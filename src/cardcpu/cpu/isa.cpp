// The instruction table and the 256-entry decoding table derived from it.
#include "cardcpu/cpu/isa.h"

#include <array>

namespace {

using enum vmu_op;
using enum vmu_form;

// Cycle counts: where sources disagree, the majority is followed. MOV #i8,d9
// takes 2 cycles (one source says 1).
constexpr vmu_insn_form insn_forms[] = {
    {nop, "nop", implied, 0x00, 1, 1},   {br, "br", r8, 0x01, 2, 2},
    {ld, "ld", d9, 0x02, 2, 1},          {ld, "ld", ri, 0x04, 1, 1},
    {call, "call", a12, 0x08, 2, 2},     {callr, "callr", r16, 0x10, 3, 4},
    {brf, "brf", r16, 0x11, 3, 4},       {st, "st", d9, 0x12, 2, 1},
    {st, "st", ri, 0x14, 1, 1},          {callf, "callf", a16, 0x20, 3, 2},
    {jmpf, "jmpf", a16, 0x21, 3, 2},     {mov, "mov", imm_d9, 0x22, 3, 2},
    {mov, "mov", imm_ri, 0x24, 2, 1},    {jmp, "jmp", a12, 0x28, 2, 2},
    {mul, "mul", implied, 0x30, 1, 7},   {be, "be", imm_r8, 0x31, 3, 2},
    {be, "be", d9_r8, 0x32, 3, 2},       {be, "be", ri_imm_r8, 0x34, 3, 2},
    {div, "div", implied, 0x40, 1, 7},   {bne, "bne", imm_r8, 0x41, 3, 2},
    {bne, "bne", d9_r8, 0x42, 3, 2},     {bne, "bne", ri_imm_r8, 0x44, 3, 2},
    {bpc, "bpc", bit_d9_r8, 0x48, 3, 2}, {ldf, "ldf", implied, 0x50, 1, 2},
    {stf, "stf", implied, 0x51, 1, 2},   {dbnz, "dbnz", d9_r8, 0x52, 3, 2},
    {dbnz, "dbnz", ri_r8, 0x54, 2, 2},   {push, "push", d9, 0x60, 2, 2},
    {inc, "inc", d9, 0x62, 2, 1},        {inc, "inc", ri, 0x64, 1, 1},
    {bp, "bp", bit_d9_r8, 0x68, 3, 2},   {pop, "pop", d9, 0x70, 2, 2},
    {dec, "dec", d9, 0x72, 2, 1},        {dec, "dec", ri, 0x74, 1, 1},
    {bz, "bz", r8, 0x80, 2, 2},          {add, "add", imm, 0x81, 2, 1},
    {add, "add", d9, 0x82, 2, 1},        {add, "add", ri, 0x84, 1, 1},
    {bn, "bn", bit_d9_r8, 0x88, 3, 2},   {bnz, "bnz", r8, 0x90, 2, 2},
    {addc, "addc", imm, 0x91, 2, 1},     {addc, "addc", d9, 0x92, 2, 1},
    {addc, "addc", ri, 0x94, 1, 1},      {ret, "ret", implied, 0xA0, 1, 2},
    {sub, "sub", imm, 0xA1, 2, 1},       {sub, "sub", d9, 0xA2, 2, 1},
    {sub, "sub", ri, 0xA4, 1, 1},        {not1, "not1", bit_d9, 0xA8, 2, 1},
    {reti, "reti", implied, 0xB0, 1, 2}, {subc, "subc", imm, 0xB1, 2, 1},
    {subc, "subc", d9, 0xB2, 2, 1},      {subc, "subc", ri, 0xB4, 1, 1},
    {ror, "ror", implied, 0xC0, 1, 1},   {ldc, "ldc", implied, 0xC1, 1, 2},
    {xch, "xch", d9, 0xC2, 2, 1},        {xch, "xch", ri, 0xC4, 1, 1},
    {clr1, "clr1", bit_d9, 0xC8, 2, 1},  {rorc, "rorc", implied, 0xD0, 1, 1},
    {or_, "or", imm, 0xD1, 2, 1},        {or_, "or", d9, 0xD2, 2, 1},
    {or_, "or", ri, 0xD4, 1, 1},         {rol, "rol", implied, 0xE0, 1, 1},
    {and_, "and", imm, 0xE1, 2, 1},      {and_, "and", d9, 0xE2, 2, 1},
    {and_, "and", ri, 0xE4, 1, 1},       {set1, "set1", bit_d9, 0xE8, 2, 1},
    {rolc, "rolc", implied, 0xF0, 1, 1}, {xor_, "xor", imm, 0xF1, 2, 1},
    {xor_, "xor", d9, 0xF2, 2, 1},       {xor_, "xor", ri, 0xF4, 1, 1},
};

struct decode_table {
    std::array<const vmu_insn_form*, 256> form{};
};

decode_table make_decode_table() {
    decode_table table;
    for (const vmu_insn_form& row : insn_forms) {
        const unsigned bits = vmu_form_opcode_bits(row.form);
        // Every opcode the operand bits can make from the base.
        for (unsigned sub = bits;; sub = (sub - 1) & bits) {
            table.form[row.opcode | sub] = &row;
            if (sub == 0) {
                break;
            }
        }
    }
    return table;
}

}  // namespace

std::uint8_t vmu_form_opcode_bits(vmu_form form) {
    switch (form) {
        case d9:
        case imm_d9:
        case d9_r8:
            return 0x01;
        case ri:
        case imm_ri:
        case ri_imm_r8:
        case ri_r8:
            return 0x03;
        case a12:
        case bit_d9:
        case bit_d9_r8:
            return 0x17;
        default:
            return 0;
    }
}

std::span<const vmu_insn_form> vmu_insn_forms() {
    return insn_forms;
}

const vmu_insn_form* vmu_decode(std::uint8_t opcode) {
    static const decode_table table = make_decode_table();
    return table.form[opcode];
}
