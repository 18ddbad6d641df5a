// Turning texts into something a terminal or a JSON reader takes: Shift-JIS
// (code page 932, the card's texts) to UTF-8, checking UTF-8, quoting for
// JSON and the console, and numbers and bytes in hex.
#pragma once

#include <cstdint>
#include <span>
#include <string>

/// Decodes Shift-JIS up to the first NUL with trailing spaces removed; bytes
/// that do not decode become U+FFFD.
std::string sjis_to_utf8(std::span<const std::uint8_t> text);

/// Whether the text is UTF-8 throughout: no overlong form, no surrogate,
/// nothing above U+10FFFF, no sequence cut short.
bool is_utf8(const std::string& text);

/// A JSON string literal of UTF-8 text; invalid sequences become U+FFFD,
/// and C0 and C1 controls are written as escapes.
std::string json_quote(const std::string& utf8);

/// A JSON text with the C1 controls (U+0080 to U+009F), which JSON lets
/// stand as they are, written as \u escapes: a terminal showing the text
/// could take them as commands. They only ever stand in strings.
std::string json_escape_c1(const std::string& json);

/// The text with control characters and invalid UTF-8 replaced, safe to
/// print on a terminal.
std::string printable(const std::string& utf8);

/// The text with ASCII letters in lower case, every other byte as it is.
std::string ascii_lower(std::string text);

/// Lowercase hex digits of the bytes.
std::string hex_string(std::span<const std::uint8_t> bytes);

/// "0x" and `value` in at least `digits` uppercase hex digits ("0x0C").
std::string hex_number(unsigned value, int digits);
