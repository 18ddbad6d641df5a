// The directives: where code goes (.org, .cnop), data (.byte, .word, .text,
// .string) and other files (.include, .include bytes). Everything that
// decides an address or a size must be known when pass 1 reaches it.
#include <algorithm>
#include <array>
#include <utility>

#include "cardcpu/asm/assembly.h"
#include "cardcpu/asm/source.h"

namespace {

using tokens_t = std::span<const vmu_asm_token>;

// Deeper than any real program nests its files; a file that includes itself
// by another name stops here at the latest.
constexpr std::size_t max_include_depth = 32;

bool at_end(vmu_asm_assembly& as, tokens_t args, std::size_t pos, const char* directive) {
    if (pos == args.size()) {
        return true;
    }
    vmu_asm_fail(as, "unexpected '" + args[pos].text + "' after the operands of ." + directive);
    return false;
}

bool skip_comma(tokens_t args, std::size_t& pos) {
    if (pos < args.size() && vmu_asm_is_punct(args[pos], ",")) {
        ++pos;
        return true;
    }
    return false;
}

/// A value that pass 1 must know, between `low` and `high`.
std::optional<std::int64_t> known_value(vmu_asm_assembly& as, tokens_t args, std::size_t& pos,
                                        const char* what, std::int64_t low, std::int64_t high) {
    const std::optional<vmu_asm_expr> expr = vmu_asm_expect_expr(as, args, pos);
    if (!expr) {
        return std::nullopt;
    }
    std::string error;
    const std::optional<std::int64_t> value = vmu_asm_value(as, *expr, error);
    if (!value) {
        vmu_asm_fail(as, std::string(what) + ": " + error);
        return std::nullopt;
    }
    if (*value < low || *value > high) {
        vmu_asm_fail(as, std::string(what) + " " + vmu_asm_hex(*value, 1) + " is outside " +
                             vmu_asm_hex(low, 1) + "-" + vmu_asm_hex(high, 1));
        return std::nullopt;
    }
    return value;
}

void add_fixed(vmu_asm_assembly& as, std::vector<std::uint8_t> bytes) {
    vmu_asm_statement statement;
    statement.size = static_cast<std::int64_t>(bytes.size());
    statement.fixed = std::move(bytes);
    vmu_asm_add_statement(as, std::move(statement));
}

void org(vmu_asm_assembly& as, tokens_t args) {
    std::size_t pos = 0;
    const std::optional<std::int64_t> origin =
        known_value(as, args, pos, "origin", 0, vmu_asm_space - 1);
    if (origin && at_end(as, args, pos, "org")) {
        as.pc = *origin;
    }
}

void cnop(vmu_asm_assembly& as, tokens_t args) {
    std::size_t pos = 0;
    const std::optional<std::int64_t> offset =
        known_value(as, args, pos, "offset", 0, vmu_asm_space);
    if (!offset) {
        return;
    }
    if (!skip_comma(args, pos)) {
        vmu_asm_fail(as, ".cnop takes an offset and a multiple: .cnop a, m");
        return;
    }
    const std::optional<std::int64_t> multiple =
        known_value(as, args, pos, "multiple", 1, vmu_asm_space);
    if (!multiple || !at_end(as, args, pos, "cnop")) {
        return;
    }
    const std::int64_t target = (as.pc + *multiple - 1) / *multiple * *multiple + *offset;
    add_fixed(as, std::vector<std::uint8_t>(static_cast<std::size_t>(target - as.pc), 0));
}

void data(vmu_asm_assembly& as, tokens_t args, bool words) {
    const char* directive = words ? "word" : "byte";
    vmu_asm_statement statement;
    statement.kind = words ? vmu_asm_statement_kind::words : vmu_asm_statement_kind::bytes;
    for (std::size_t pos = 0;; ++pos) {
        vmu_asm_data_item item;
        if (pos < args.size() && args[pos].kind == vmu_asm_token_kind::string) {
            if (words) {
                vmu_asm_fail(as, ".word takes values, not strings");
                return;
            }
            item.is_string = true;
            item.text = args[pos++].text;
            statement.size += static_cast<std::int64_t>(item.text.size());
        } else if (std::optional<vmu_asm_expr> value = vmu_asm_expect_expr(as, args, pos)) {
            item.value = std::move(*value);
            statement.size += words ? 2 : 1;
        } else {
            return;
        }
        statement.items.push_back(std::move(item));
        if (pos == args.size()) {
            break;
        }
        if (!vmu_asm_is_punct(args[pos], ",")) {
            at_end(as, args, pos, directive);
            return;
        }
    }
    vmu_asm_add_statement(as, std::move(statement));
}

/// .text N "s" (padded with spaces) and .string N "s" (padded with NULs).
void fixed_text(vmu_asm_assembly& as, tokens_t args, char pad) {
    const char* directive = pad == ' ' ? "text" : "string";
    std::size_t pos = 0;
    const std::optional<std::int64_t> length =
        known_value(as, args, pos, "length", 0, vmu_asm_space);
    if (!length) {
        return;
    }
    skip_comma(args, pos);
    if (pos >= args.size() || args[pos].kind != vmu_asm_token_kind::string) {
        vmu_asm_fail(as, std::string(".") + directive + " takes a length and a quoted string");
        return;
    }
    const std::string& text = args[pos++].text;
    if (!at_end(as, args, pos, directive)) {
        return;
    }
    if (static_cast<std::int64_t>(text.size()) > *length) {
        vmu_asm_fail(as, "a string of " + std::to_string(text.size()) + " bytes does not fit in " +
                             std::to_string(*length));
        return;
    }
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.resize(static_cast<std::size_t>(*length), static_cast<std::uint8_t>(pad));
    add_fixed(as, std::move(bytes));
}

void include(vmu_asm_assembly& as, tokens_t args) {
    std::size_t pos = 0;
    const bool raw = pos < args.size() && args[pos].kind == vmu_asm_token_kind::name &&
                     vmu_asm_lower(args[pos].text) == "bytes";
    pos += raw ? 1 : 0;
    if (pos >= args.size() || args[pos].kind != vmu_asm_token_kind::string) {
        vmu_asm_fail(
            as, R"(.include takes a quoted file name: .include "file" or .include bytes "file")");
        return;
    }
    const std::string& name = args[pos++].text;
    if (!at_end(as, args, pos, "include")) {
        return;
    }
    const std::string& including = as.files[static_cast<std::size_t>(as.file)];
    const std::optional<std::string> path = vmu_asm_find_include(name, including, as.include_dirs);
    if (!path && !raw && name == vmu_asm_builtin_sfr_name) {
        if (!vmu_asm_read_source(as, name, vmu_asm_builtin_sfr)) {
            vmu_asm_fail(as, vmu_asm_too_much_source());
        }
        return;
    }
    if (!path) {
        vmu_asm_fail(as, "cannot find \"" + name + "\" beside " + including +
                             (as.include_dirs.empty() ? "" : " or in the -I folders"));
        return;
    }
    // Bytes beyond the program space could never be placed.
    std::string error;
    const std::optional<std::string> text =
        raw ? vmu_asm_read_file(*path, static_cast<std::size_t>(vmu_asm_space),
                                ", the whole program space", error)
            : vmu_asm_read_file(*path, vmu_asm_max_source, vmu_asm_source_limit_text, error);
    if (!text) {
        vmu_asm_fail(as, *path + ": " + error);
        return;
    }
    as.files_read.push_back(*path);
    if (raw) {
        add_fixed(as, std::vector<std::uint8_t>(text->begin(), text->end()));
        return;
    }
    const std::string canonical = vmu_asm_canonical(*path);
    if (std::ranges::find(as.include_stack, canonical) != as.include_stack.end()) {
        vmu_asm_fail(as, *path + " includes itself");
        return;
    }
    if (as.include_stack.size() >= max_include_depth) {
        vmu_asm_fail(as,
                     "includes nested more than " + std::to_string(max_include_depth) + " deep");
        return;
    }
    as.include_stack.push_back(canonical);
    if (!vmu_asm_read_source(as, *path, *text)) {
        vmu_asm_fail(as, *path + ": " + vmu_asm_too_much_source());
    }
    as.include_stack.pop_back();
}

struct directive_entry {
    const char* name;
    void (*handle)(vmu_asm_assembly&, tokens_t);
};

constexpr std::array<directive_entry, 7> directives = {{
    {"org", org},
    {"byte", [](vmu_asm_assembly& as, tokens_t args) { data(as, args, false); }},
    {"word", [](vmu_asm_assembly& as, tokens_t args) { data(as, args, true); }},
    {"text", [](vmu_asm_assembly& as, tokens_t args) { fixed_text(as, args, ' '); }},
    {"string", [](vmu_asm_assembly& as, tokens_t args) { fixed_text(as, args, '\0'); }},
    {"include", include},
    {"cnop", cnop},
}};

}  // namespace

bool vmu_asm_is_directive(const std::string& name) {
    return std::ranges::any_of(
        directives, [&name](const directive_entry& entry) { return name == entry.name; });
}

bool vmu_asm_directive(vmu_asm_assembly& as, const std::string& name, tokens_t args) {
    for (const directive_entry& entry : directives) {
        if (name == entry.name) {
            entry.handle(as, args);
            return true;
        }
    }
    return false;
}
