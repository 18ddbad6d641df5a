// The handlers that change the flow: jumps and calls (12-bit in the 4 KiB
// page, 16-bit relative, 16-bit absolute), returns, and the conditional
// branches on ACC, on a comparison, on a bit and on a counter.
#include <bit>

#include "cardcpu/cpu/execute.h"

namespace {

// The target of JMP and CALL: bits 15-12 of the next address, bit 11 from
// opcode bit 4, bits 10-8 from opcode bits 2-0, the low byte after it.
std::uint16_t address12(const vmu_cpu& cpu, const std::uint8_t* code) {
    return static_cast<std::uint16_t>((cpu.pc & 0xF000) | ((code[0] & 0x10) << 7) |
                                      ((code[0] & 7) << 8) | code[1]);
}

// The target of BRF and CALLR: a 16-bit offset from the instruction's last
// byte.
std::uint16_t relative16(const vmu_cpu& cpu, const std::uint8_t* code) {
    return static_cast<std::uint16_t>(cpu.pc - 1 + (code[1] | (code[2] << 8)));
}

std::uint16_t absolute16(const std::uint8_t* code) {
    return static_cast<std::uint16_t>((code[1] << 8) | code[2]);
}

void op_br(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    branch8(cpu, code[1]);
}

void op_jmp(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    cpu.pc = address12(cpu, code);
}

void op_call(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    push_return(cpu, cpu.pc);
    cpu.pc = address12(cpu, code);
}

void op_brf(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    cpu.pc = relative16(cpu, code);
}

void op_callr(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    push_return(cpu, cpu.pc);
    cpu.pc = relative16(cpu, code);
}

// The program source EXT selects takes effect at a far jump: the BIOS stubs
// flip EXT bit 0 and then jump.
void op_jmpf(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    cpu.rom_source = (sfr_at(cpu, vmu_sfr("EXT")) & 1) != 0;
    cpu.pc = absolute16(code);
}

void op_callf(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    push_return(cpu, cpu.pc);
    cpu.pc = absolute16(code);
}

void op_ret(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    cpu.pc = pop_return(cpu);
}

void op_reti(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* /*code*/) {
    cpu.pc = pop_return(cpu);
    // The level served last is the highest being served.
    if (cpu.serving != 0) {
        cpu.serving = static_cast<std::uint8_t>(cpu.serving & ~std::bit_floor(cpu.serving));
    }
    cpu.hold_off = true;
}

void op_bz(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    if (acc(cpu) == 0) {
        branch8(cpu, code[1]);
    }
}

void op_bnz(vmu_cpu& cpu, const vmu_decoded& /*d*/, const std::uint8_t* code) {
    if (acc(cpu) != 0) {
        branch8(cpu, code[1]);
    }
}

// BE and BNE both set CY when the first operand is the smaller, as most
// sources have it for BNE. The forms: ACC with #i8 or d9, @Ri with #i8.
template <bool on_equal>
void op_compare_branch(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    const unsigned left = d.form == vmu_form::ri_imm_r8 ? data_read(cpu, address) : acc(cpu);
    const unsigned right = d.form == vmu_form::d9_r8 ? data_read(cpu, address) : code[1];
    set_flag(cpu, PSW_CY, left < right);
    if ((left == right) == on_equal) {
        branch8(cpu, code[2]);
    }
}

void op_dbnz(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    const auto value = static_cast<std::uint8_t>(data_read_latch(cpu, address) - 1);
    data_write(cpu, address, value);
    if (value != 0) {
        branch8(cpu, d.form == vmu_form::ri_r8 ? code[1] : code[2]);
    }
}

void op_bp(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    if ((data_read(cpu, operand_address(cpu, d, code)) & operand_bit(code)) != 0) {
        branch8(cpu, code[2]);
    }
}

void op_bn(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    if ((data_read(cpu, operand_address(cpu, d, code)) & operand_bit(code)) == 0) {
        branch8(cpu, code[2]);
    }
}

// Branches on the bit and clears it (read from the latch, as SET1 does).
void op_bpc(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    const std::uint16_t address = operand_address(cpu, d, code);
    const std::uint8_t value = data_read_latch(cpu, address);
    const std::uint8_t bit = operand_bit(code);
    if ((value & bit) != 0) {
        data_write(cpu, address, static_cast<std::uint8_t>(value & ~bit));
        branch8(cpu, code[2]);
    }
}

using enum vmu_op;

constexpr vmu_op_handler handlers[] = {
    {br, op_br},
    {jmp, op_jmp},
    {call, op_call},
    {brf, op_brf},
    {callr, op_callr},
    {jmpf, op_jmpf},
    {callf, op_callf},
    {ret, op_ret},
    {reti, op_reti},
    {bz, op_bz},
    {bnz, op_bnz},
    {be, op_compare_branch<true>},
    {bne, op_compare_branch<false>},
    {dbnz, op_dbnz},
    {bp, op_bp},
    {bn, op_bn},
    {bpc, op_bpc},
};

}  // namespace

std::span<const vmu_op_handler> vmu_branch_handlers() {
    return handlers;
}
