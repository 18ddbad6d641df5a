// The assembler's errors: each at the line at fault, with a reason a user
// can act on, and no image whenever there is one.
#include <gtest/gtest.h>

#include "asm_support.h"

namespace {

struct error_case {
    const char* source;
    const char* errors;  // every error line, in order
};

const error_case error_cases[] = {
    // Symbols.
    {" jmpf nowhere", "t.s:1: undefined symbol 'nowhere'\n"},
    {"a:\n nop\na: nop", "t.s:3: 'a' is already defined at t.s:1\n"},
    {"x = 1\nx = 2", "t.s:2: 'x' is already defined at t.s:1\n"},
    {"x = 1\nx: nop", "t.s:2: 'x' is already defined at t.s:1\n"},
    {"a:\n.l: nop\n.l: nop", "t.s:3: '.l' is already defined at t.s:2\n"},
    {"a = b\nb = a\n.byte a",
     "t.s:1: 'a' is defined in terms of itself\n"
     "t.s:2: 'a' has no value (see t.s:1)\n"
     "t.s:3: 'a' has no value (see t.s:1)\n"},
    {"v = 1/0\n.byte v", "t.s:1: division by zero\nt.s:2: 'v' has no value (see t.s:1)\n"},
    {"b:\n br .nowhere", "t.s:2: undefined symbol 'b.nowhere'\n"},
    // What pass 1 must know.
    {".org later\nlater: nop", "t.s:1: origin: 'later' must be defined before this line\n"},
    {".text n \"a\"\nn = 4", "t.s:1: length: 'n' must be defined before this line\n"},
    {".org $10000", "t.s:1: origin $10000 is outside $0-$FFFF\n"},
    {".cnop 0, 0", "t.s:1: multiple $0 is outside $1-$10000\n"},
    {".cnop 0", "t.s:1: .cnop takes an offset and a multiple: .cnop a, m\n"},
    // Values that do not fit.
    {".byte 256, -129", "t.s:1: value $100 does not fit in a byte\n"},
    {".word $10000", "t.s:1: value $10000 does not fit in a word\n"},
    {".text 2 \"abc\"", "t.s:1: a string of 3 bytes does not fit in 2\n"},
    {".string 1, \"ab\"", "t.s:1: a string of 2 bytes does not fit in 1\n"},
    {".word 1 << 64", "t.s:1: shift by 64 (0 to 63 allowed)\n"},
    {".word $7FFFFFFFFFFFFFFF + 1", "t.s:1: arithmetic overflow\n"},
    {".byte 99999999999999999999", "t.s:1: number '99999999999999999999' is too big\n"},
    // Bytes that would be lost.
    {".byte 1, 2\n.org 1\n nop", "t.s:3: overwrites $0001, already written by t.s:1\n"},
    {".org $FFFF\n jmpf 0", "t.s:2: runs past the end of the 64 KiB program space\n"},
    {".org $FFFF\n.byte 1\n.cnop 1, 2", "t.s:3: runs past the end of the 64 KiB program space\n"},
    // Instructions written wrongly.
    {" foo 1", "t.s:1: unknown mnemonic 'foo'\n"},
    {"loop dec $0", "t.s:1: unknown mnemonic 'loop' (a label before a statement takes a colon)\n"},
    {"tab .byte 1", "t.s:1: unknown mnemonic 'tab' (a label before a statement takes a colon)\n"},
    {" ld #1", "t.s:1: LD takes d9 or @Ri\n"},
    {" nop 1", "t.s:1: NOP takes no operands\n"},
    {" be 1, 2, 3", "t.s:1: BE takes #i8,r8 or d9,r8 or @Ri,#i8,r8\n"},
    {" ld @r4", "t.s:1: '@' must be followed by R0, R1, R2 or R3\n"},
    {" ld 1,", "t.s:1: operand expected after ','\n"},
    {" set1 1 2", "t.s:1: ',' expected before '2'\n"},
    {" ld (1", "t.s:1: missing ')'\n"},
    {" ld 1 +", "t.s:1: expression expected\n"},
    // Lines the dialect cannot read.
    {".foo 1", "t.s:1: unknown directive '.foo'\n"},
    {".byte \"abc", "t.s:1: missing closing \"\n"},
    {".byte 'ab'", "t.s:1: a character in single quotes must be exactly one\n"},
    {".byte ?", "t.s:1: unexpected character '?'\n"},
    {".word \"ab\"", "t.s:1: .word takes values, not strings\n"},
    {"x = 1 2", "t.s:1: unexpected '2' after the value\n"},
    {".org 1 2", "t.s:1: unexpected '2' after the operands of .org\n"},
    {"= 5", "t.s:1: a label, an instruction or a directive expected, not '='\n"},
    {".include sfr.i",
     "t.s:1: .include takes a quoted file name: .include \"file\" or "
     ".include bytes \"file\"\n"},
    // Every faulty line is reported, not only the first.
    {" foo 1\n nop\n ld $200\n.byte 300",
     "t.s:1: unknown mnemonic 'foo'\n"
     "t.s:3: data address $200 is outside $0-$1FF\n"
     "t.s:4: value $12C does not fit in a byte\n"},
};

TEST(Errors, EachAtItsLineWithItsReason) {
    for (const error_case& c : error_cases) {
        const vmu_asm_result result = assemble(c.source);
        EXPECT_EQ(error_lines(result), c.errors) << c.source;
        EXPECT_TRUE(result.image.empty()) << c.source;
    }
}

TEST(Errors, ABinaryFileGivesAHundredErrorsAtMost) {
    std::string garbage;
    for (int line = 0; line < 500; ++line) {
        garbage += "\x01\x02\n";
    }
    const vmu_asm_result result = assemble(garbage);
    ASSERT_EQ(result.errors.size(), 101U);
    EXPECT_EQ(result.errors[0].message, "unexpected byte 1");
    EXPECT_EQ(result.errors.back().message, "too many errors; the rest are not shown");
}

}  // namespace
