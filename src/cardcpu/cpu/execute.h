// What the instruction handlers share: the decoded form of an opcode with
// the handler that runs it, how a handler finds its operands, and the flag
// and stack helpers of the ALU and the branches. The step function (cpu.cpp)
// builds one decoded entry per opcode byte from the instruction table and
// the handler lists of the execute_*.cpp files, one per operation family.
// Not for callers of the model.
#pragma once

#include <cstdint>
#include <span>

#include "cardcpu/cpu/cpu_internal.h"
#include "cardcpu/cpu/isa.h"

struct vmu_decoded;

/// Runs one instruction: `code` holds its bytes, and cpu.pc already points
/// past it.
using vmu_handler = void (*)(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code);

/// The instruction table flattened for the step function: one entry per
/// opcode byte, with nothing to follow through a pointer but the handler.
struct vmu_decoded {
    vmu_handler run;
    vmu_form form;
    std::uint8_t size;
    std::uint8_t cycles;  // 0: undefined opcode
    // The operand address of the d9 and bit forms is (opcode AND
    // address_bit) x address_scale x 2, which moves the opcode's bit to bit
    // 8, OR the next byte; @Ri forms take theirs from the pointer instead.
    std::uint8_t address_bit;
    std::uint8_t address_scale;
    bool indirect;
};

/// An operation and its handler; each execute_*.cpp lists its family's.
struct vmu_op_handler {
    vmu_op op;
    vmu_handler run;
};

std::span<const vmu_op_handler> vmu_data_handlers();
std::span<const vmu_op_handler> vmu_alu_handlers();
std::span<const vmu_op_handler> vmu_branch_handlers();

inline std::uint8_t& acc(vmu_cpu& cpu) {
    return sfr_at(cpu, vmu_sfr("ACC"));
}
inline std::uint8_t& psw(vmu_cpu& cpu) {
    return sfr_at(cpu, vmu_sfr("PSW"));
}

inline void set_flag(vmu_cpu& cpu, std::uint8_t flag, bool on) {
    psw(cpu) = static_cast<std::uint8_t>(on ? (psw(cpu) | flag) : (psw(cpu) & ~flag));
}

inline unsigned carry(vmu_cpu& cpu) {
    return (psw(cpu) & PSW_CY) != 0 ? 1U : 0U;
}

/// The address of @Ri: the pointer at IRBK x 4 + i, R2 and R3 into 0x100-0x1FF.
inline std::uint16_t indirect_address(vmu_cpu& cpu, unsigned opcode) {
    const unsigned i = opcode & 3;
    const unsigned pointer = ((psw(cpu) & PSW_IRBK) >> 1) | i;
    return static_cast<std::uint16_t>(cpu.ram[ram_index(cpu, pointer)] | ((i & 2) << 7));
}

/// The operand address of the d9, @Ri and bit forms, without a branch for
/// the direct ones.
inline std::uint16_t operand_address(vmu_cpu& cpu, const vmu_decoded& d, const std::uint8_t* code) {
    if (d.indirect) {
        return indirect_address(cpu, code[0]);
    }
    return static_cast<std::uint16_t>(((code[0] & d.address_bit) * d.address_scale * 2U) | code[1]);
}

/// The bit a bit form names: opcode bits 2-0.
inline std::uint8_t operand_bit(const std::uint8_t* code) {
    return static_cast<std::uint8_t>(1U << (code[0] & 7));
}

/// A relative branch from the instruction's end (cpu.pc).
inline void branch8(vmu_cpu& cpu, std::uint8_t offset) {
    cpu.pc = static_cast<std::uint16_t>(cpu.pc + static_cast<std::int8_t>(offset));
}

/// A call's return address on the stack: low byte first.
inline void push_return(vmu_cpu& cpu, std::uint16_t address) {
    stack_push(cpu, static_cast<std::uint8_t>(address));
    stack_push(cpu, static_cast<std::uint8_t>(address >> 8));
}

inline std::uint16_t pop_return(vmu_cpu& cpu) {
    const unsigned high = stack_pop(cpu);
    return static_cast<std::uint16_t>((high << 8) | stack_pop(cpu));
}
