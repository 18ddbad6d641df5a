// Splits one line of assembler source into tokens: names, numbers in the
// five notations ($hex, 0xhex, %binary, decimal, 'c'), quoted strings and
// punctuation. Comments (from ';', or a line whose first character other
// than blanks is '*') end the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class vmu_asm_token_kind : std::uint8_t { name, number, string, punct };

/// One token. `text` is the name as written, the string's bytes with escapes
/// resolved, or the punctuation ("<<" and ">>" are one token each).
struct vmu_asm_token {
    vmu_asm_token_kind kind = vmu_asm_token_kind::punct;
    std::string text;
    std::int64_t value = 0;  // a number's value
};

/// Tokenizes `line` into `tokens` (cleared first). False, with `error` set to
/// the reason, for a malformed number, an unterminated quote or a character
/// the dialect does not use.
bool vmu_asm_tokenize(std::string_view line, std::vector<vmu_asm_token>& tokens,
                      std::string& error);

/// Whether `token` is the punctuation `text`.
bool vmu_asm_is_punct(const vmu_asm_token& token, std::string_view text);

/// `text` in lower case (ASCII): names and mnemonics ignore letter case.
std::string vmu_asm_lower(std::string_view text);
