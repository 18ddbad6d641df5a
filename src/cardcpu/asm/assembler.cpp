// The two passes over the statements of a source and its includes: pass 1
// reads the lines, defines the labels and fixes every statement's address
// and size; pass 2 works out the values of the definitions that refer
// forward, then encodes each statement into the image (image.cpp).
#include "cardcpu/asm/assembler.h"

#include <utility>

#include "cardcpu/asm/assembly.h"
#include "cardcpu/asm/source.h"

namespace {

// Past this many, further errors are dropped: a binary file read as source
// would otherwise give one per line.
constexpr std::size_t max_errors = 100;

std::optional<std::int64_t> symbol_value(vmu_asm_assembly& as, const std::string& key,
                                         std::string& error) {
    const auto found = as.symbols.find(key);
    if (found == as.symbols.end()) {
        error = as.first_pass ? "'" + key + "' must be defined before this line"
                              : "undefined symbol '" + key + "'";
        return std::nullopt;
    }
    vmu_asm_symbol& symbol = found->second;
    if (symbol.resolved) {
        return symbol.value;
    }
    if (symbol.failed) {
        error = "'" + symbol.spelling + "' has no value (see " +
                vmu_asm_where(as, symbol.file, symbol.line) + ")";
        return std::nullopt;
    }
    if (symbol.resolving) {
        error = "'" + symbol.spelling + "' is defined in terms of itself";
        return std::nullopt;
    }
    if (as.chain == vmu_asm_max_chain) {
        // Each name of a chain is a recursion: refused before the stack runs
        // out. In pass 2 the whole program fails here; see resolve_definitions.
        error = "a chain of definitions more than " + std::to_string(vmu_asm_max_chain) +
                " deep, at '" + symbol.spelling + "'";
        as.chain_broke = !as.first_pass;
        return std::nullopt;
    }
    symbol.resolving = true;
    ++as.chain;
    std::optional<std::int64_t> value = vmu_asm_value(as, symbol.expr, error);
    --as.chain;
    symbol.resolving = false;
    if (value) {
        symbol.resolved = true;
        symbol.value = *value;
    }
    return value;
}

/// Defines a label at the current address, or the name `key` as `expr`.
void define(vmu_asm_assembly& as, const vmu_asm_token& name, const vmu_asm_expr* expr) {
    const std::string key = vmu_asm_symbol_key(name.text, as.scope);
    vmu_asm_symbol symbol;
    symbol.spelling = name.text;
    symbol.file = as.file;
    symbol.line = as.line;
    symbol.is_label = expr == nullptr;
    if (expr == nullptr) {
        symbol.resolved = true;
        symbol.value = as.pc;
    } else {
        symbol.expr = *expr;
        std::string ignored;
        if (const std::optional<std::int64_t> value = vmu_asm_value(as, *expr, ignored)) {
            symbol.resolved = true;
            symbol.value = *value;
        }
    }
    const auto found = as.symbols.find(key);
    if (found != as.symbols.end()) {
        const vmu_asm_symbol& old = found->second;
        // The same value given twice by definitions (a register file read
        // twice) is no conflict; anything else is.
        const bool same = !old.is_label && !symbol.is_label && old.resolved && symbol.resolved &&
                          old.value == symbol.value;
        if (!same) {
            vmu_asm_fail(as, "'" + name.text + "' is already defined at " +
                                 vmu_asm_where(as, old.file, old.line));
        }
        return;
    }
    as.symbols.emplace(key, std::move(symbol));
    as.symbol_order.push_back(key);
}

std::optional<vmu_asm_operand> parse_operand(vmu_asm_assembly& as,
                                             std::span<const vmu_asm_token> tokens,
                                             std::size_t& pos) {
    vmu_asm_operand operand;
    if (pos < tokens.size() && vmu_asm_is_punct(tokens[pos], "@")) {
        ++pos;
        const std::string reg = pos < tokens.size() && tokens[pos].kind == vmu_asm_token_kind::name
                                    ? vmu_asm_lower(tokens[pos].text)
                                    : "";
        if (reg.size() != 2 || reg[0] != 'r' || reg[1] < '0' || reg[1] > '3') {
            vmu_asm_fail(as, "'@' must be followed by R0, R1, R2 or R3");
            return std::nullopt;
        }
        ++pos;
        operand.kind = vmu_asm_operand_kind::indirect;
        operand.reg = reg[1] - '0';
        return operand;
    }
    if (pos < tokens.size() && vmu_asm_is_punct(tokens[pos], "#")) {
        ++pos;
        operand.kind = vmu_asm_operand_kind::immediate;
    }
    std::optional<vmu_asm_expr> value = vmu_asm_expect_expr(as, tokens, pos);
    if (!value) {
        return std::nullopt;
    }
    operand.value = std::move(*value);
    return operand;
}

void read_instruction(vmu_asm_assembly& as, const std::string& mnemonic,
                      std::span<const vmu_asm_token> tokens) {
    vmu_asm_statement statement;
    statement.kind = vmu_asm_statement_kind::instruction;
    std::vector<vmu_asm_operand_kind> kinds;
    // After each operand, `pos` stands at the comma before the next.
    for (std::size_t pos = 0; pos < tokens.size(); ++pos) {
        std::optional<vmu_asm_operand> operand = parse_operand(as, tokens, pos);
        if (!operand) {
            return;
        }
        kinds.push_back(operand->kind);
        statement.operands.push_back(std::move(*operand));
        if (pos == tokens.size()) {
            break;
        }
        if (!vmu_asm_is_punct(tokens[pos], ",")) {
            vmu_asm_fail(as, "',' expected before '" + tokens[pos].text + "'");
            return;
        }
        if (pos + 1 == tokens.size()) {
            vmu_asm_fail(as, "operand expected after ','");
            return;
        }
    }
    std::string error;
    statement.form = vmu_asm_select_form(mnemonic, kinds, error);
    if (statement.form == nullptr) {
        vmu_asm_fail(as, error);
        return;
    }
    statement.size = statement.form->size;
    vmu_asm_add_statement(as, std::move(statement));
}

bool is_name(std::span<const vmu_asm_token> tokens, std::size_t index) {
    return index < tokens.size() && tokens[index].kind == vmu_asm_token_kind::name;
}

bool is_definition(std::span<const vmu_asm_token> tokens, std::size_t index) {
    return index < tokens.size() &&
           (vmu_asm_is_punct(tokens[index], "=") ||
            (is_name(tokens, index) && vmu_asm_lower(tokens[index].text) == "equ"));
}

/// Whether a line holding only `name` is a label: it is neither an
/// instruction without operands nor a directive.
bool is_bare_label(const std::string& name) {
    const std::string lower = vmu_asm_lower(name);
    if (lower[0] == '.') {
        return !vmu_asm_is_directive(lower.substr(1));
    }
    return !vmu_asm_is_mnemonic(lower);
}

void read_line(vmu_asm_assembly& as, std::string_view text) {
    std::vector<vmu_asm_token> tokens;
    std::string error;
    if (!vmu_asm_tokenize(text, tokens, error)) {
        vmu_asm_fail(as, error);
        return;
    }
    std::span<const vmu_asm_token> rest(tokens);
    if (rest.empty()) {
        return;
    }
    // "name = expr", "name EQU expr", and the same with a colon after name.
    const std::size_t after_name = rest.size() > 1 && vmu_asm_is_punct(rest[1], ":") ? 2 : 1;
    if (is_name(rest, 0) && is_definition(rest, after_name)) {
        std::size_t pos = after_name + 1;
        std::optional<vmu_asm_expr> value = vmu_asm_expect_expr(as, rest, pos);
        if (value && pos < rest.size()) {
            vmu_asm_fail(as, "unexpected '" + rest[pos].text + "' after the value");
        } else if (value) {
            define(as, rest[0], &*value);
        }
        return;
    }
    if (is_name(rest, 0) &&
        (after_name == 2 || (rest.size() == 1 && is_bare_label(rest[0].text)))) {
        if (rest[0].text[0] != '.') {
            as.scope = vmu_asm_lower(rest[0].text);
        }
        define(as, rest[0], nullptr);
        rest = rest.subspan(after_name);
        if (rest.empty()) {
            return;
        }
    }
    if (!is_name(rest, 0)) {
        vmu_asm_fail(as,
                     "a label, an instruction or a directive expected, not '" + rest[0].text + "'");
        return;
    }
    const std::string word = vmu_asm_lower(rest[0].text);
    if (word[0] == '.') {
        if (!vmu_asm_directive(as, word.substr(1), rest.subspan(1))) {
            vmu_asm_fail(as, "unknown directive '" + rest[0].text + "'");
        }
    } else if (vmu_asm_is_mnemonic(word)) {
        read_instruction(as, word, rest.subspan(1));
    } else {
        // "loop dec c": a label followed by a statement needs its colon.
        const bool label_like =
            is_name(rest, 1) &&
            (vmu_asm_is_mnemonic(vmu_asm_lower(rest[1].text)) || rest[1].text[0] == '.');
        vmu_asm_fail(as, "unknown mnemonic '" + rest[0].text + "'" +
                             (label_like ? " (a label before a statement takes a colon)" : ""));
    }
}

/// Pass 2, first part: the definitions that referred forward, in the order
/// they were written, each error at its own line.
void resolve_definitions(vmu_asm_assembly& as) {
    for (const std::string& key : as.symbol_order) {
        if (as.symbols.at(key).resolved) {
            continue;
        }
        std::string error;
        if (!symbol_value(as, key, error)) {
            vmu_asm_symbol& symbol = as.symbols.at(key);
            vmu_asm_fail_at(as, symbol.file, symbol.line, error);
            symbol.failed = true;
        }
        if (as.chain_broke) {
            // Every later name of the chain would walk it again to the bound,
            // a cost that grows with its square: one error says it all.
            return;
        }
    }
}

vmu_asm_result assemble(vmu_asm_assembly& as, const std::string& name, std::string_view text) {
    if (!vmu_asm_read_source(as, name, text)) {
        return {{}, {{name, 0, vmu_asm_too_much_source()}}};
    }
    as.first_pass = false;
    resolve_definitions(as);
    std::vector<std::uint8_t> image;
    if (!as.chain_broke) {
        image = vmu_asm_write_image(as);
    }
    if (!as.errors.empty()) {
        image.clear();
    }
    return {std::move(image), std::move(as.errors), std::move(as.files_read)};
}

}  // namespace

std::string vmu_asm_too_much_source() {
    return "the source with its includes is larger than " + std::to_string(vmu_asm_max_source) +
           " bytes" + vmu_asm_source_limit_text;
}

std::string vmu_asm_where(const vmu_asm_assembly& as, int file, int line) {
    return as.files[static_cast<std::size_t>(file)] + ":" + std::to_string(line);
}

void vmu_asm_fail_at(vmu_asm_assembly& as, int file, int line, std::string message) {
    if (as.errors.size() < max_errors) {
        as.errors.push_back({as.files[static_cast<std::size_t>(file)], line, std::move(message)});
    } else if (as.errors.size() == max_errors) {
        as.errors.push_back({as.files[static_cast<std::size_t>(file)], line,
                             "too many errors; the rest are not shown"});
    }
}

void vmu_asm_fail(vmu_asm_assembly& as, std::string message) {
    vmu_asm_fail_at(as, as.file, as.line, std::move(message));
}

std::optional<std::int64_t> vmu_asm_value(vmu_asm_assembly& as, const vmu_asm_expr& expr,
                                          std::string& error) {
    return vmu_asm_eval(
        expr,
        [&as](const std::string& key, std::string& why) { return symbol_value(as, key, why); },
        error);
}

std::optional<vmu_asm_expr> vmu_asm_expect_expr(vmu_asm_assembly& as,
                                                std::span<const vmu_asm_token> tokens,
                                                std::size_t& pos) {
    std::string error;
    std::optional<vmu_asm_expr> expr = vmu_asm_parse_expr(tokens, pos, as.scope, error);
    if (!expr) {
        vmu_asm_fail(as, error);
    }
    return expr;
}

bool vmu_asm_add_statement(vmu_asm_assembly& as, vmu_asm_statement statement) {
    if (as.pc + statement.size > vmu_asm_space) {
        vmu_asm_fail(as, "runs past the end of the 64 KiB program space");
        return false;
    }
    if (as.placed + statement.size > vmu_asm_space) {
        // Only overlapping statements place more than the space holds, and
        // an overlap is an error anyway: refused before the bytes are kept.
        vmu_asm_fail(as,
                     "the statements so far place more than the 64 KiB program space holds, "
                     "so some overlap");
        return false;
    }
    as.placed += statement.size;
    statement.file = as.file;
    statement.line = as.line;
    statement.pc = as.pc;
    as.pc += statement.size;
    as.statements.push_back(std::move(statement));
    return true;
}

bool vmu_asm_read_source(vmu_asm_assembly& as, const std::string& name, std::string_view text) {
    if (text.size() > vmu_asm_max_source - as.source_read) {
        return false;
    }
    as.source_read += text.size();
    const int outer_file = as.file;
    const int outer_line = as.line;
    as.files.push_back(name);
    as.file = static_cast<int>(as.files.size() - 1);
    as.line = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        ++as.line;
        read_line(as, line);
    }
    as.file = outer_file;
    as.line = outer_line;
    return true;
}

vmu_asm_result vmu_assemble_text(std::string_view source, const std::string& name,
                                 const std::vector<std::string>& include_dirs) {
    vmu_asm_assembly as;
    as.include_dirs = include_dirs;
    return assemble(as, name, source);
}

vmu_asm_result vmu_assemble_file(const std::string& path,
                                 const std::vector<std::string>& include_dirs) {
    std::string error;
    const std::optional<std::string> text =
        vmu_asm_read_file(path, vmu_asm_max_source, vmu_asm_source_limit_text, error);
    if (!text) {
        return {{}, {{path, 0, error}}};
    }
    vmu_asm_assembly as;
    as.include_dirs = include_dirs;
    as.files_read.push_back(path);
    as.include_stack.push_back(vmu_asm_canonical(path));
    return assemble(as, path, *text);
}
