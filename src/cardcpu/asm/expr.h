// Expressions of the assembler: parsed once into postfix order, evaluated in
// either pass against the symbol table. Operators, loosest first:
//   <e  >e      the low or high byte of everything that follows
//   |   ^   &   bitwise
//   <<  >>      shifts
//   +   -
//   *   /       (division truncates toward zero)
//   -e  ~e  +e  unary
// with parentheses, numbers and names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cardcpu/asm/lexer.h"

enum class vmu_asm_expr_op : std::uint8_t {
    number,
    symbol,
    negate,
    complement,
    low_byte,
    high_byte,
    add,
    subtract,
    multiply,
    divide,
    bit_and,
    bit_or,
    bit_xor,
    shift_left,
    shift_right
};

struct vmu_asm_expr_node {
    vmu_asm_expr_op op = vmu_asm_expr_op::number;
    std::int64_t value = 0;
    std::string symbol;  // the symbol's key: lower case, local names qualified
};

/// An expression in postfix order.
struct vmu_asm_expr {
    std::vector<vmu_asm_expr_node> nodes;
};

/// How deep parentheses, unary signs and byte selectors may nest in one
/// expression: far more than any program writes, and little enough stack.
inline constexpr int VMU_ASM_MAX_NESTING = 256;

/// The key a name is kept under in the symbol table: lower case, and a
/// local name (".loop") prefixed with the global label it belongs to.
std::string vmu_asm_symbol_key(const std::string& name, const std::string& scope);

/// Parses the expression at `tokens[pos]`, leaving `pos` after it. Local
/// names are qualified with `scope`. Nothing, with `error` set, when the
/// tokens there do not form an expression or nest deeper than
/// VMU_ASM_MAX_NESTING.
std::optional<vmu_asm_expr> vmu_asm_parse_expr(std::span<const vmu_asm_token> tokens,
                                               std::size_t& pos, const std::string& scope,
                                               std::string& error);

/// Gives a symbol's value, or nothing with `error` set.
using vmu_asm_symbol_lookup =
    std::function<std::optional<std::int64_t>(const std::string& key, std::string& error)>;

/// Evaluates `expr`; nothing, with `error` set, for an unknown symbol, a
/// division by zero, a shift outside 0-63 or an overflow.
std::optional<std::int64_t> vmu_asm_eval(const vmu_asm_expr& expr,
                                         const vmu_asm_symbol_lookup& lookup, std::string& error);
