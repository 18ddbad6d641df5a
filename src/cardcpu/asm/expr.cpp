// The expression parser (recursive descent, one function per precedence
// level) and the evaluator over its postfix output.
#include "cardcpu/asm/expr.h"

#include <array>
#include <string>

namespace {

using enum vmu_asm_expr_op;

struct binary_level {
    std::array<const char*, 2> punct;
    std::array<vmu_asm_expr_op, 2> op;
};

// The binary operators, loosest first; an empty slot is nullptr.
constexpr std::array<binary_level, 6> binary_levels = {{
    {{"|", nullptr}, {bit_or, bit_or}},
    {{"^", nullptr}, {bit_xor, bit_xor}},
    {{"&", nullptr}, {bit_and, bit_and}},
    {{"<<", ">>"}, {shift_left, shift_right}},
    {{"+", "-"}, {add, subtract}},
    {{"*", "/"}, {multiply, divide}},
}};

struct parser {
    std::span<const vmu_asm_token> tokens;
    std::size_t pos;
    const std::string& scope;
    std::string& error;
    vmu_asm_expr out;
    int nesting = 0;  // the parentheses, signs and byte selectors open around `pos`

    bool at(const char* punct) const {
        return punct != nullptr && pos < tokens.size() && vmu_asm_is_punct(tokens[pos], punct);
    }

    void emit(vmu_asm_expr_op op) { out.nodes.push_back({op, 0, {}}); }

    // Each level is a recursion of this parser: a bound keeps a hostile line
    // ("((((...", "- - - ...") from running off the stack.
    bool nest() {
        if (nesting == VMU_ASM_MAX_NESTING) {
            error = "expression nested more than " + std::to_string(VMU_ASM_MAX_NESTING) +
                    " deep (parentheses, signs and byte selectors)";
            return false;
        }
        ++nesting;
        return true;
    }

    bool top() {
        if (at("<") || at(">")) {
            const vmu_asm_expr_op op = at("<") ? low_byte : high_byte;
            ++pos;
            if (!nest() || !top()) {
                return false;
            }
            --nesting;
            emit(op);
            return true;
        }
        return binary(0);
    }

    bool binary(std::size_t level) {
        if (level == binary_levels.size()) {
            return unary();
        }
        if (!binary(level + 1)) {
            return false;
        }
        const binary_level& ops = binary_levels[level];
        for (;;) {
            std::size_t which = 0;
            if (at(ops.punct[0])) {
                which = 0;
            } else if (at(ops.punct[1])) {
                which = 1;
            } else {
                return true;
            }
            ++pos;
            if (!binary(level + 1)) {
                return false;
            }
            emit(ops.op[which]);
        }
    }

    bool unary() {
        if (at("-") || at("~") || at("+")) {
            const bool plus = at("+");
            const vmu_asm_expr_op op = at("-") ? negate : complement;
            ++pos;
            if (!nest() || !unary()) {
                return false;
            }
            --nesting;
            if (!plus) {
                emit(op);
            }
            return true;
        }
        return primary();
    }

    bool primary() {
        if (pos >= tokens.size()) {
            error = "expression expected";
            return false;
        }
        const vmu_asm_token& token = tokens[pos];
        if (token.kind == vmu_asm_token_kind::number) {
            out.nodes.push_back({number, token.value, {}});
            ++pos;
            return true;
        }
        if (token.kind == vmu_asm_token_kind::name) {
            out.nodes.push_back({symbol, 0, vmu_asm_symbol_key(token.text, scope)});
            ++pos;
            return true;
        }
        if (at("(")) {
            ++pos;
            if (!nest() || !top()) {
                return false;
            }
            --nesting;
            if (!at(")")) {
                error = "missing ')'";
                return false;
            }
            ++pos;
            return true;
        }
        error = token.kind == vmu_asm_token_kind::string
                    ? "a quoted string is not a value here"
                    : "expression expected before '" + token.text + "'";
        return false;
    }
};

std::optional<std::int64_t> apply(vmu_asm_expr_op op, std::int64_t a, std::int64_t b,
                                  std::string& error) {
    std::int64_t result = 0;
    switch (op) {
        case add:
            if (__builtin_add_overflow(a, b, &result)) {
                break;
            }
            return result;
        case subtract:
            if (__builtin_sub_overflow(a, b, &result)) {
                break;
            }
            return result;
        case multiply:
            if (__builtin_mul_overflow(a, b, &result)) {
                break;
            }
            return result;
        case divide:
            if (b == 0) {
                error = "division by zero";
                return std::nullopt;
            }
            if (b == -1 && a == INT64_MIN) {
                break;
            }
            return a / b;
        case bit_and:
            return a & b;
        case bit_or:
            return a | b;
        case bit_xor:
            return a ^ b;
        case shift_left:
        case shift_right:
            if (b < 0 || b > 63) {
                error = "shift by " + std::to_string(b) + " (0 to 63 allowed)";
                return std::nullopt;
            }
            if (op == shift_right) {
                return a >> b;
            }
            if (b > 0 &&
                (a >= (std::int64_t{1} << (63 - b)) || a < -(std::int64_t{1} << (63 - b)))) {
                break;
            }
            return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) << b);
        default:
            break;
    }
    error = "arithmetic overflow";
    return std::nullopt;
}

}  // namespace

std::string vmu_asm_symbol_key(const std::string& name, const std::string& scope) {
    if (!name.empty() && name[0] == '.') {
        return vmu_asm_lower(scope + name);
    }
    return vmu_asm_lower(name);
}

std::optional<vmu_asm_expr> vmu_asm_parse_expr(std::span<const vmu_asm_token> tokens,
                                               std::size_t& pos, const std::string& scope,
                                               std::string& error) {
    parser p{tokens, pos, scope, error, {}};
    if (!p.top()) {
        return std::nullopt;
    }
    pos = p.pos;
    return std::move(p.out);
}

std::optional<std::int64_t> vmu_asm_eval(const vmu_asm_expr& expr,
                                         const vmu_asm_symbol_lookup& lookup, std::string& error) {
    std::vector<std::int64_t> stack;
    for (const vmu_asm_expr_node& node : expr.nodes) {
        switch (node.op) {
            case number:
                stack.push_back(node.value);
                continue;
            case symbol: {
                const std::optional<std::int64_t> value = lookup(node.symbol, error);
                if (!value) {
                    return std::nullopt;
                }
                stack.push_back(*value);
                continue;
            }
            case negate:
                if (stack.back() == INT64_MIN) {
                    error = "arithmetic overflow";
                    return std::nullopt;
                }
                stack.back() = -stack.back();
                continue;
            case complement:
                stack.back() = ~stack.back();
                continue;
            case low_byte:
                stack.back() &= 0xFF;
                continue;
            case high_byte:
                stack.back() = (stack.back() >> 8) & 0xFF;
                continue;
            default:
                break;
        }
        const std::int64_t b = stack.back();
        stack.pop_back();
        const std::optional<std::int64_t> result = apply(node.op, stack.back(), b, error);
        if (!result) {
            return std::nullopt;
        }
        stack.back() = *result;
    }
    return stack.back();
}
