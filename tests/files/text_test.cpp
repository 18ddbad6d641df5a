// Texts for a terminal or a JSON reader: Shift-JIS decoded, UTF-8 checked to
// the letter (no overlong form, no surrogate, nothing past U+10FFFF, nothing
// cut short), and whatever is not UTF-8 or is a control character never
// reaching a terminal or a JSON document as it is.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "files/text.h"

namespace {

const std::string R = "\xEF\xBF\xBD";  // U+FFFD, the replacement character

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(ShiftJis, DecodesToUtf8WithReplacementForBadBytes) {
    const struct {
        std::string sjis, utf8;
    } cases[] = {
        {"SONIC ADV   ", "SONIC ADV"},
        {std::string("AB\0junk", 7), "AB"},
        {"\xB1\xB2", "\xEF\xBD\xB1\xEF\xBD\xB2"},          // half-width katakana
        {"\x88\x9F\x82\xA0", "\xE4\xBA\x9C\xE3\x81\x82"},  // kanji and hiragana
        {"\x82\x20X", R + " X"},                           // lead byte with a bad trail
        {"A\x82", "A" + R},                                // lead byte at the end
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sjis_to_utf8(bytes_of(c.sjis)), c.utf8) << c.sjis;
}

TEST(Quoting, KeepsJsonAndTerminalOutputWellFormed) {
    EXPECT_EQ(json_quote("a\"b\\c\x01\xFF"), "\"a\\\"b\\\\c\\u0001" + R + "\"");
    EXPECT_EQ(printable("ok\x1B[2Jx\xC2\x9B"), "ok" + R + "[2Jx" + R);
    // JSON lets the C1 controls stand; a terminal may take U+009B as CSI.
    // The first and last of them are escaped, their neighbours are not.
    EXPECT_EQ(json_quote("\xC2\x80\xC2\x9B[2J\xC2\x9F\xC2\xA0\x7F"),
              "\"\\u0080\\u009b[2J\\u009f\xC2\xA0\x7F\"");
    EXPECT_EQ(json_escape_c1("{\"k\xC2\x85\": \"\xC3\x85\"}"), "{\"k\\u0085\": \"\xC3\x85\"}");
}

// Each byte of a sequence that is not UTF-8 becomes one U+FFFD on a terminal,
// and the next byte is read afresh; a character that is UTF-8 passes unless
// it is a control character. The boundaries of each length are on both sides.
TEST(Utf8, OverlongFormsSurrogatesAndCutSequencesNeverPass) {
    const struct {
        const char* rule;
        std::string text;
        bool utf8;
        std::string shown;  // printable()
    } cases[] = {
        {"ASCII", "abc", true, "abc"},
        {"U+0080, the first two-byte character, is a C1 control", "\xC2\x80", true, R},
        {"U+00A0", "\xC2\xA0", true, "\xC2\xA0"},
        {"U+07FF, the last two-byte character", "\xDF\xBF", true, "\xDF\xBF"},
        {"U+0800, the first three-byte character", "\xE0\xA0\x80", true, "\xE0\xA0\x80"},
        {"U+D7FF, just below the surrogates", "\xED\x9F\xBF", true, "\xED\x9F\xBF"},
        {"U+E000, just above the surrogates", "\xEE\x80\x80", true, "\xEE\x80\x80"},
        {"U+FFFF", "\xEF\xBF\xBF", true, "\xEF\xBF\xBF"},
        {"U+10000, the first four-byte character", "\xF0\x90\x80\x80", true, "\xF0\x90\x80\x80"},
        {"U+10FFFF, the last character", "\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},
        {"NUL in two bytes", "\xC0\x80", false, R + R},
        {"U+007F in two bytes", "\xC1\xBF", false, R + R},
        {"NUL in three bytes", "\xE0\x80\x80", false, R + R + R},
        {"U+07FF in three bytes", "\xE0\x9F\xBF", false, R + R + R},
        {"NUL in four bytes", "\xF0\x80\x80\x80", false, R + R + R + R},
        {"U+FFFF in four bytes", "\xF0\x8F\xBF\xBF", false, R + R + R + R},
        {"the first high surrogate", "\xED\xA0\x80", false, R + R + R},
        {"the last low surrogate", "\xED\xBF\xBF", false, R + R + R},
        {"a surrogate pair, each half encoded", "\xED\xA0\xBD\xED\xB8\x80", false,
         R + R + R + R + R + R},
        {"U+110000, past the last character", "\xF4\x90\x80\x80", false, R + R + R + R},
        {"a lead byte of no length", "\xF5\x80\x80\x80", false, R + R + R + R},
        {"a five-byte form", "\xF8\x88\x80\x80\x80", false, R + R + R + R + R},
        {"0xFF",
         "a\xFF"
         "b",
         false, "a" + R + "b"},
        {"a continuation byte alone", "\x80", false, R},
        {"a sequence cut short at the end", "a\xE2\x82", false, "a" + R + R},
        {"a sequence cut short by ASCII, which survives",
         "\xE2\x82"
         "A",
         false, R + R + "A"},
        {"an escape sequence", "\x1B[2J", true, R + "[2J"},
        {"DEL", "\x7F", true, R},
        {"CSI, the C1 control", "\xC2\x9B", true, R},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        EXPECT_EQ(is_utf8(c.text), c.utf8);
        EXPECT_EQ(printable(c.text), c.shown);
        // The JSON library's own check agrees: it refuses to write exactly
        // what is_utf8 refuses.
        bool json_refuses = false;
        try {
            (void)nlohmann::json(c.text).dump();
        } catch (const nlohmann::json::type_error&) {
            json_refuses = true;
        }
        EXPECT_EQ(json_refuses, !c.utf8);
        // A quoted text is UTF-8 and reads back: the same text where it was
        // UTF-8, replacement characters where it was not.
        const std::string quoted = json_quote(c.text);
        EXPECT_TRUE(is_utf8(quoted)) << quoted;
        const std::string back = nlohmann::json::parse(quoted).get<std::string>();
        if (c.utf8)
            EXPECT_EQ(back, c.text);
        else
            EXPECT_NE(back.find(R), std::string::npos) << back;
    }
}

TEST(Hex, NumbersAndBytes) {
    EXPECT_EQ(hex_number(0x0C, 2), "0x0C");
    EXPECT_EQ(hex_number(0xD06C, 4), "0xD06C");
    EXPECT_EQ(hex_number(0x12345, 4), "0x12345");  // never cut
    EXPECT_EQ(hex_string(bytes_of(std::string("\x00\xAB\xff", 3))), "00abff");
    EXPECT_EQ(ascii_lower("Ab.VMS\xC3\x89"), "ab.vms\xC3\x89");
}

}  // namespace
