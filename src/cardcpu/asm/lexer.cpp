// The assembler's tokenizer, one line at a time.
#include "cardcpu/asm/lexer.h"

#include <cctype>
#include <limits>

namespace {

bool is_name_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '.';
}

bool is_name_char(char c) {
    return is_name_start(c) || std::isdigit(static_cast<unsigned char>(c)) != 0;
}

/// The value of digit `c` in `base`, or -1.
int digit_value(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

/// The length of the base's mark at the start of a number: 1 for '$' (hex)
/// and '%' (binary), 2 for C's "0x" or "0X" (hex), 0 for a decimal number.
std::size_t number_prefix(std::string_view number) {
    if (number[0] == '$' || number[0] == '%') {
        return 1;
    }
    return number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X') ? 2 : 0;
}

/// Reads the number at `line[pos]`, its base's mark included. A number runs
/// to the first character that cannot be part of a name, so "12ab" or "$1g"
/// is one malformed number rather than a number and a name.
bool read_number(std::string_view line, std::size_t& pos, std::int64_t& value, std::string& error) {
    const std::size_t start = pos;
    const std::size_t prefix = number_prefix(line.substr(pos));
    const int base = prefix == 0 ? 10 : line[pos] == '%' ? 2 : 16;
    pos += prefix;
    const std::size_t digits_start = pos;
    while (pos < line.size() && is_name_char(line[pos])) {
        ++pos;
    }
    const std::string_view digits = line.substr(digits_start, pos - digits_start);
    const std::string written(line.substr(start, pos - start));
    value = 0;
    for (char c : digits) {
        const int digit = digit_value(c, base);
        if (digit < 0) {
            error = "malformed number '" + written + "'";
            return false;
        }
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / base) {
            error = "number '" + written + "' is too big";
            return false;
        }
        value = value * base + digit;
    }
    if (digits.empty()) {
        error = "'" + written + "' needs digits";
        return false;
    }
    return true;
}

/// Reads one character of a quoted text at `line[pos]`, resolving the
/// escapes \n \r \t \0 \\ \' \".
bool read_quoted_char(std::string_view line, std::size_t& pos, char& out) {
    if (line[pos] != '\\') {
        out = line[pos++];
        return true;
    }
    if (pos + 1 >= line.size()) {
        return false;
    }
    const char c = line[pos + 1];
    pos += 2;
    switch (c) {
        case 'n':
            out = '\n';
            return true;
        case 'r':
            out = '\r';
            return true;
        case 't':
            out = '\t';
            return true;
        case '0':
            out = '\0';
            return true;
        default:
            out = c;
            return c == '\\' || c == '\'' || c == '"';
    }
}

/// Reads a quoted text opened by `quote` at `line[pos]`.
bool read_quoted(std::string_view line, std::size_t& pos, std::string& text, std::string& error) {
    const char quote = line[pos++];
    text.clear();
    while (pos < line.size() && line[pos] != quote) {
        char c = 0;
        if (!read_quoted_char(line, pos, c)) {
            error = "unknown escape in quotes";
            return false;
        }
        text += c;
    }
    if (pos >= line.size()) {
        error = std::string("missing closing ") + quote;
        return false;
    }
    ++pos;
    return true;
}

}  // namespace

std::string vmu_asm_lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower;
}

bool vmu_asm_is_punct(const vmu_asm_token& token, std::string_view text) {
    return token.kind == vmu_asm_token_kind::punct && token.text == text;
}

bool vmu_asm_tokenize(std::string_view line, std::vector<vmu_asm_token>& tokens,
                      std::string& error) {
    tokens.clear();
    std::size_t pos = line.find_first_not_of(" \t");
    if (pos != std::string_view::npos && line[pos] == '*') {
        return true;
    }
    while (pos != std::string_view::npos && pos < line.size()) {
        const char c = line[pos];
        vmu_asm_token token;
        if (c == ';') {
            break;
        }
        if (is_name_start(c)) {
            const std::size_t start = pos;
            while (pos < line.size() && is_name_char(line[pos])) {
                ++pos;
            }
            token.kind = vmu_asm_token_kind::name;
            token.text = line.substr(start, pos - start);
        } else if (std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '$' || c == '%') {
            token.kind = vmu_asm_token_kind::number;
            const std::size_t start = pos;
            if (!read_number(line, pos, token.value, error)) {
                return false;
            }
            token.text = line.substr(start, pos - start);
        } else if (c == '\'' || c == '"') {
            if (!read_quoted(line, pos, token.text, error)) {
                return false;
            }
            if (c == '"') {
                token.kind = vmu_asm_token_kind::string;
            } else if (token.text.size() == 1) {
                token.kind = vmu_asm_token_kind::number;
                token.value = static_cast<unsigned char>(token.text[0]);
            } else {
                error = "a character in single quotes must be exactly one";
                return false;
            }
        } else if ((c == '<' || c == '>') && pos + 1 < line.size() && line[pos + 1] == c) {
            token.text = line.substr(pos, 2);
            pos += 2;
        } else if (std::string_view("#@,()+-*/&|^~<>=:").find(c) != std::string_view::npos) {
            token.text = std::string(1, c);
            ++pos;
        } else {
            error = std::isprint(static_cast<unsigned char>(c)) != 0
                        ? "unexpected character '" + std::string(1, c) + "'"
                        : "unexpected byte " + std::to_string(static_cast<unsigned char>(c));
            return false;
        }
        tokens.push_back(std::move(token));
        pos = line.find_first_not_of(" \t\r", pos);
    }
    return true;
}
