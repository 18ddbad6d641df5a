// The numeric forms the assembler reads: decimal, $hex, C's 0x hex, %binary
// and a character in quotes, each as published card programs write them,
// and the malformed ones, each refused with the whole number as written.
#include <gtest/gtest.h>

#include "asm_support.h"

namespace {

struct number_case {
    const char* written;
    std::uint16_t value;  // as a .word, when `error` is null
    const char* error;    // the message, or null
};

const number_case numbers[] = {
    {"255", 255, nullptr},
    {"0", 0, nullptr},
    {"007", 7, nullptr},  // decimal: a leading 0 is not octal
    {"$FF", 0xFF, nullptr},
    {"$ff", 0xFF, nullptr},
    {"0xFF", 0xFF, nullptr},
    {"0XFF", 0xFF, nullptr},
    {"0xaB", 0xAB, nullptr},
    {"0x00FF", 0xFF, nullptr},
    {"0x0", 0, nullptr},
    {"0xFFFF", 0xFFFF, nullptr},
    {"%1010", 10, nullptr},
    {"'A'", 0x41, nullptr},
    {"0x10 + $10 + %10 + 10", 0x2C, nullptr},
    {"$FF00 >> 8 & 0xFF", 0xFF, nullptr},
    {"0x", 0, "'0x' needs digits"},
    {"0X", 0, "'0X' needs digits"},
    {"$", 0, "'$' needs digits"},
    {"%", 0, "'%' needs digits"},
    {"0xG1", 0, "malformed number '0xG1'"},
    {"$G1", 0, "malformed number '$G1'"},
    {"%102", 0, "malformed number '%102'"},
    {"12ab", 0, "malformed number '12ab'"},
    {"0b101", 0, "malformed number '0b101'"},
    {"0x1.5", 0, "malformed number '0x1.5'"},
    {"00x1", 0, "malformed number '00x1'"},
    {"0x10000000000000000", 0, "number '0x10000000000000000' is too big"},
    {"x12", 0, "undefined symbol 'x12'"},  // a name, not a number
};

TEST(Numbers, EveryFormHasItsValueOrItsReason) {
    for (const number_case& c : numbers) {
        const vmu_asm_result result = assemble(std::string(".word ") + c.written);
        if (c.error != nullptr) {
            EXPECT_EQ(error_lines(result), std::string("t.s:1: ") + c.error + "\n") << c.written;
            continue;
        }
        ASSERT_EQ(error_lines(result), "") << c.written;
        EXPECT_EQ(result.image, word_image(c.value)) << c.written;
    }
}

TEST(Numbers, CStyleHexInAnOperandAsPublishedProgramsWriteIt) {
    const vmu_asm_result c_style =
        assemble(".include \"sfr.i\"\nR3 = 3\n mov #(T1CNT & 0xFF), R3\n mov #0X1F, b");
    const vmu_asm_result dollar =
        assemble(".include \"sfr.i\"\nR3 = 3\n mov #(T1CNT & $FF), R3\n mov #$1F, b");
    ASSERT_EQ(error_lines(c_style), "");
    EXPECT_FALSE(c_style.image.empty());
    EXPECT_EQ(c_style.image, dollar.image);
}

}  // namespace
