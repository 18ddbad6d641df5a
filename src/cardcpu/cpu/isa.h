// The card processor's instruction set as one table: every instruction form
// with its mnemonic, operand pattern, base opcode, size and cycle count. The
// model decodes through it and the assembler encodes through it, so an
// opcode, a length or a cycle count is written down exactly once.
#pragma once

#include <cstdint>
#include <span>

/// The operations, one per mnemonic (`or_`, `and_`, `xor_` avoid the C++
/// alternative tokens).
enum class vmu_op : std::uint8_t {
    nop,
    br,
    ld,
    call,
    callr,
    brf,
    st,
    callf,
    jmpf,
    mov,
    jmp,
    mul,
    be,
    div,
    bne,
    bpc,
    ldf,
    stf,
    dbnz,
    push,
    inc,
    bp,
    pop,
    dec,
    bz,
    add,
    bn,
    bnz,
    addc,
    ret,
    sub,
    not1,
    reti,
    subc,
    ror,
    ldc,
    xch,
    clr1,
    rorc,
    or_,
    rol,
    and_,
    set1,
    rolc,
    xor_
};

/// The operand pattern of one instruction form, in source order. The bytes
/// after the opcode, in order:
/// - implied: none; r8: r8; r16: r16 low, high; a12: address low byte;
/// - a16: address high, low; imm: i8; d9: d9 low byte; ri: none;
/// - imm_d9 (MOV #i8,d9): d9 low byte, i8; imm_ri (MOV #i8,@Ri): i8;
/// - imm_r8 (BE #i8,r8): i8, r8; d9_r8: d9 low byte, r8;
/// - ri_imm_r8 (BE @Ri,#i8,r8): i8, r8; ri_r8 (DBNZ @Ri,r8): r8;
/// - bit_d9 (SET1 d9,b3): d9 low byte; bit_d9_r8 (BP d9,b3,r8): d9 low, r8.
enum class vmu_form : std::uint8_t {
    implied,
    r8,
    r16,
    a12,
    a16,
    imm,
    d9,
    ri,
    imm_d9,
    imm_ri,
    imm_r8,
    d9_r8,
    ri_imm_r8,
    ri_r8,
    bit_d9,
    bit_d9_r8
};

/// One instruction form. `opcode` has its operand bits clear; the bits an
/// operand sets are `vmu_form_opcode_bits(form)`:
/// - d9 forms: bit 0 is d9 bit 8;
/// - @Ri forms: bits 1-0 are i;
/// - a12: bit 4 is address bit 11, bits 2-0 are address bits 10-8;
/// - bit forms: bit 4 is d9 bit 8, bits 2-0 the bit number.
struct vmu_insn_form {
    vmu_op op;
    const char* mnemonic;  // lower case
    vmu_form form;
    std::uint8_t opcode;
    std::uint8_t size;    // bytes, opcode included
    std::uint8_t cycles;  // machine cycles
};

/// Every instruction form, one row each, in opcode order.
std::span<const vmu_insn_form> vmu_insn_forms();

/// The form an opcode byte belongs to; nullptr for an undefined opcode.
const vmu_insn_form* vmu_decode(std::uint8_t opcode);

/// The opcode bits that operands of this form occupy (0 when none).
std::uint8_t vmu_form_opcode_bits(vmu_form form);
