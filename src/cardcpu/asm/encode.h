// Instruction forms as the source writes them, and their bytes: the form is
// chosen from the operands' syntax alone (#imm, @Ri or a plain value), never
// from their values, so every statement's size is known in the first pass
// even when its operands refer forward. Opcodes, sizes and the operand
// layout all come from the processor's instruction table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cardcpu/cpu/isa.h"

/// How an operand is written: a plain value (an address, a bit number, a
/// branch target), `#value`, or `@R0`-`@R3`.
enum class vmu_asm_operand_kind : std::uint8_t { value, immediate, indirect };

/// Whether `name` (lower case) is a mnemonic of the instruction table.
bool vmu_asm_is_mnemonic(std::string_view name);

/// The form of `mnemonic` (lower case) whose operands are written as
/// `kinds`; nullptr, with `error` naming the forms it has, when none is.
const vmu_insn_form* vmu_asm_select_form(std::string_view mnemonic,
                                         std::span<const vmu_asm_operand_kind> kinds,
                                         std::string& error);

/// The bytes of `form` at address `pc`, from its operand values in source
/// order (the register number for @Ri). False, with `error` set, when a value
/// is out of its field's range: an address outside the data space, a bit
/// number above 7, an immediate that is not a byte, a branch beyond r8 or
/// out of the program space, or an a12 target in another 4 KiB page.
bool vmu_asm_encode(const vmu_insn_form& form, std::int64_t pc,
                    std::span<const std::int64_t> values, std::array<std::uint8_t, 3>& out,
                    std::string& error);

/// "$0000"-style hex of `value`, at least `digits` digits (negative values
/// with a leading '-').
std::string vmu_asm_hex(std::int64_t value, int digits);
