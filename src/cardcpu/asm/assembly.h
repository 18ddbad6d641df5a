// The state of one assembly, shared by the line reader, the directives and
// the two passes: the files read, the symbols, the statements with their
// addresses, and the errors so far.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "cardcpu/asm/assembler.h"
#include "cardcpu/asm/encode.h"
#include "cardcpu/asm/expr.h"
#include "cardcpu/asm/lexer.h"

/// The program space: addresses 0 to 0xFFFF.
inline constexpr std::int64_t vmu_asm_space = 0x10000;

// What one assembly may take, so that no input can exhaust the stack or the
// memory: far beyond any card program, each refused with an error.
/// All the source text read, each include counted every time it is read.
inline constexpr std::size_t vmu_asm_max_source = std::size_t{4} * 1024 * 1024;
/// Said after the limit: why no source is larger.
inline constexpr const char* vmu_asm_source_limit_text =
    ", far more than any card program's source";
/// Names whose values are worked out through one another ("a = b", "b = c").
inline constexpr int vmu_asm_max_chain = 256;

/// A label (its address) or a name given a value by `=` or EQU. The value of
/// a definition that refers forward is worked out when it is first needed.
struct vmu_asm_symbol {
    std::string spelling;  // as first written, for messages
    int file = 0;
    int line = 0;
    bool is_label = false;
    bool resolved = false;
    bool resolving = false;  // being evaluated: a cycle if met again
    bool failed = false;     // its definition could not be evaluated
    std::int64_t value = 0;
    vmu_asm_expr expr;
};

struct vmu_asm_operand {
    vmu_asm_operand_kind kind = vmu_asm_operand_kind::value;
    int reg = 0;  // for @Ri
    vmu_asm_expr value;
};

/// One item of .byte or .word: a string's bytes or a value.
struct vmu_asm_data_item {
    bool is_string = false;
    std::string text;
    vmu_asm_expr value;
};

enum class vmu_asm_statement_kind : std::uint8_t { fixed, bytes, words, instruction };

/// Something that puts bytes into the image. Its address and size are fixed
/// in pass 1; the bytes of all but `fixed` statements are made in pass 2.
struct vmu_asm_statement {
    vmu_asm_statement_kind kind = vmu_asm_statement_kind::fixed;
    int file = 0;
    int line = 0;
    std::int64_t pc = 0;
    std::int64_t size = 0;
    std::vector<std::uint8_t> fixed;
    std::vector<vmu_asm_data_item> items;
    const vmu_insn_form* form = nullptr;
    std::vector<vmu_asm_operand> operands;
};

struct vmu_asm_assembly {
    std::vector<std::string> include_dirs;
    std::vector<std::string> files;          // names as messages show them
    std::vector<std::string> include_stack;  // canonical paths being read
    std::vector<std::string> files_read;     // every file read from disk, as found
    std::unordered_map<std::string, vmu_asm_symbol> symbols;
    std::vector<std::string> symbol_order;  // keys in order of definition
    std::vector<vmu_asm_statement> statements;
    std::vector<vmu_asm_error> errors;
    std::string scope;  // the key of the last global label
    std::int64_t pc = 0;
    bool first_pass = true;
    std::size_t source_read = 0;  // bytes of source text read so far
    // The bytes all statements place; past the program space some overlap,
    // which is an error, so no more are kept.
    std::int64_t placed = 0;
    int chain = 0;             // definitions being worked out, one inside the other
    bool chain_broke = false;  // a chain ran past vmu_asm_max_chain in pass 2
    // Where the line being read is.
    int file = 0;
    int line = 0;
};

/// "file:line", as messages refer to another place.
std::string vmu_asm_where(const vmu_asm_assembly& as, int file, int line);

/// Pass 2: every statement's bytes into the image. Writing a byte twice is
/// an error, since one of the two would be lost.
std::vector<std::uint8_t> vmu_asm_write_image(vmu_asm_assembly& as);

/// Records an error at the line being read.
void vmu_asm_fail(vmu_asm_assembly& as, std::string message);

/// Records an error at `file`:`line`.
void vmu_asm_fail_at(vmu_asm_assembly& as, int file, int line, std::string message);

/// Reads every line of `text`, the file `name`. False, with nothing read,
/// when the text would take the source read past vmu_asm_max_source.
bool vmu_asm_read_source(vmu_asm_assembly& as, const std::string& name, std::string_view text);

/// What is said when vmu_asm_read_source refuses.
std::string vmu_asm_too_much_source();

/// Evaluates `expr`; in pass 1 every name must already have a value.
std::optional<std::int64_t> vmu_asm_value(vmu_asm_assembly& as, const vmu_asm_expr& expr,
                                          std::string& error);

/// Parses an expression at `tokens[pos]` in the current scope, recording an
/// error when there is none.
std::optional<vmu_asm_expr> vmu_asm_expect_expr(vmu_asm_assembly& as,
                                                std::span<const vmu_asm_token> tokens,
                                                std::size_t& pos);

/// Adds a statement of `size` bytes at the current address and moves past
/// it; false, with an error recorded, when it would run past the program
/// space, or the statements would place more bytes than it holds.
bool vmu_asm_add_statement(vmu_asm_assembly& as, vmu_asm_statement statement);

/// Handles the directive `name` (lower case, without its dot) with the
/// tokens after it; false when there is no such directive.
bool vmu_asm_directive(vmu_asm_assembly& as, const std::string& name,
                       std::span<const vmu_asm_token> args);

/// Whether `name` (lower case, without its dot) is a directive.
bool vmu_asm_is_directive(const std::string& name);
