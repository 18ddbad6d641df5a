// Every instruction form's bytes, written out by hand from the opcode map
// and the operand layouts, and the range rules of the operand fields at
// their limits: the a12 page, r8 and r16 reach, d9, b3 and #i8.
#include <gtest/gtest.h>

#include <set>

#include "asm_support.h"
#include "cardcpu/cpu/isa.h"

namespace {

struct encoding_case {
    const char* line;  // assembled at $1000
    asm_bytes bytes;
};

// At $1000; relative targets count from the end of the instruction.
const encoding_case encodings[] = {
    {"nop", {0x00}},
    {"br $1005", {0x01, 0x03}},
    {"ld $23", {0x02, 0x23}},
    {"ld $123", {0x03, 0x23}},
    {"ld @r2", {0x06}},
    {"call $1ABC", {0x1A, 0xBC}},
    {"callr $0FFF", {0x10, 0xFD, 0xFF}},
    {"brf $1010", {0x11, 0x0E, 0x00}},
    {"st $1FF", {0x13, 0xFF}},
    {"st @r3", {0x17}},
    {"callf $1234", {0x20, 0x12, 0x34}},
    {"jmpf $ABCD", {0x21, 0xAB, 0xCD}},
    {"mov #$5A, $101", {0x23, 0x01, 0x5A}},
    {"mov #-1, @r1", {0x25, 0xFF}},
    {"jmp $1234", {0x2A, 0x34}},
    {"mul", {0x30}},
    {"be #7, $1000", {0x31, 0x07, 0xFD}},
    {"be $102, $1082", {0x33, 0x02, 0x7F}},
    {"be @r0, #$10, $1003", {0x34, 0x10, 0x00}},
    {"div", {0x40}},
    {"bne #1, $1004", {0x41, 0x01, 0x01}},
    {"bne $7F, $1003", {0x42, 0x7F, 0x00}},
    {"bne @r1, #2, $1003", {0x45, 0x02, 0x00}},
    {"bpc $1FE, 7, $1003", {0x5F, 0xFE, 0x00}},
    {"bpc $20, 2, $1003", {0x4A, 0x20, 0x00}},
    {"ldf", {0x50}},
    {"stf", {0x51}},
    {"dbnz $010, $1000", {0x52, 0x10, 0xFD}},
    {"dbnz @r2, $1000", {0x56, 0xFE}},
    {"push $100", {0x61, 0x00}},
    {"inc $45", {0x62, 0x45}},
    {"inc @r0", {0x64}},
    {"bp $101, 0, $1003", {0x78, 0x01, 0x00}},
    {"pop $101", {0x71, 0x01}},
    {"dec $1FF", {0x73, 0xFF}},
    {"dec @r3", {0x77}},
    {"bz $1002", {0x80, 0x00}},
    {"add #$80", {0x81, 0x80}},
    {"add $100", {0x83, 0x00}},
    {"add @r1", {0x85}},
    {"bn $20, 3, $1003", {0x8B, 0x20, 0x00}},
    {"bnz $0F82", {0x90, 0x80}},
    {"addc #1", {0x91, 0x01}},
    {"addc $10", {0x92, 0x10}},
    {"addc @r0", {0x94}},
    {"ret", {0xA0}},
    {"sub #2", {0xA1, 0x02}},
    {"sub $3", {0xA2, 0x03}},
    {"sub @r2", {0xA6}},
    {"not1 $10E, 5", {0xBD, 0x0E}},
    {"reti", {0xB0}},
    {"subc #1", {0xB1, 0x01}},
    {"subc $1", {0xB2, 0x01}},
    {"subc @r3", {0xB7}},
    {"ror", {0xC0}},
    {"ldc", {0xC1}},
    {"xch $1FF", {0xC3, 0xFF}},
    {"xch @r1", {0xC5}},
    {"clr1 $25, 0", {0xC8, 0x25}},
    {"rorc", {0xD0}},
    {"or #$F0", {0xD1, 0xF0}},
    {"or $20", {0xD2, 0x20}},
    {"or @r0", {0xD4}},
    {"rol", {0xE0}},
    {"and #$0F", {0xE1, 0x0F}},
    {"and $101", {0xE3, 0x01}},
    {"and @r2", {0xE6}},
    {"set1 $107, 1", {0xF9, 0x07}},
    {"rolc", {0xF0}},
    {"xor #$FF", {0xF1, 0xFF}},
    {"xor $0", {0xF2, 0x00}},
    {"xor @r3", {0xF7}},
};

TEST(Encoding, EveryFormOfTheTableGivesItsBytes) {
    std::set<const vmu_insn_form*> covered;
    for (const encoding_case& c : encodings) {
        const vmu_asm_result result = assemble(std::string(".org $1000\n ") + c.line);
        ASSERT_EQ(error_lines(result), "") << c.line;
        EXPECT_EQ(bytes_from(result.image, 0x1000), c.bytes) << c.line;
        const vmu_insn_form* form = vmu_decode(c.bytes[0]);
        ASSERT_NE(form, nullptr) << c.line;
        EXPECT_EQ(form->size, c.bytes.size()) << c.line;
        covered.insert(form);
    }
    EXPECT_EQ(covered.size(), vmu_insn_forms().size()) << "a form of the table has no case here";
}

TEST(Encoding, MnemonicsAndIndirectRegistersIgnoreLetterCase) {
    const vmu_asm_result result = assemble("NOP\n Ld @R1\n MoV #1, $100\n JMPF $0001\n");
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, (asm_bytes{0x00, 0x05, 0x23, 0x00, 0x01, 0x21, 0x00, 0x01}));
}

struct range_case {
    const char* source;
    std::size_t pc;
    asm_bytes bytes;    // expected at pc when `error` is empty
    const char* error;  // part of the message when the line must fail
};

const range_case ranges[] = {
    // a12: the page is that of the next instruction, not of the opcode.
    {".org $0FFE\n jmp $1000", 0x0FFE, {0x28, 0x00}, ""},
    {".org $0FFE\n jmp $0FFF", 0, {}, "outside the 4 KiB page $1000-$1FFF"},
    {".org $1FFC\n call $1000", 0x1FFC, {0x08, 0x00}, ""},
    {".org $1FFC\n call $1FFF", 0x1FFC, {0x1F, 0xFF}, ""},
    {".org $1000\n call $2000", 0, {}, "outside the 4 KiB page"},
    // r8: -128 to 127 from the next instruction.
    {".org $1000\n br $1081", 0x1000, {0x01, 0x7F}, ""},
    {".org $1000\n br $1082", 0, {}, "beyond r8"},
    {".org $1000\n br $0F82", 0x1000, {0x01, 0x80}, ""},
    {".org $1000\n br $0F81", 0, {}, "beyond r8"},
    {".org $1000\n be #0, $1082", 0x1000, {0x31, 0x00, 0x7F}, ""},
    {".org $1000\n be #0, $1083", 0, {}, "beyond r8"},
    {".org $1000\n dbnz @r0, $0F82", 0x1000, {0x54, 0x80}, ""},
    {".org $1000\n bp $0, 0, $0F83", 0x1000, {0x68, 0x00, 0x80}, ""},
    {".org $1000\n bp $0, 0, $0F82", 0, {}, "beyond r8"},
    // r16 reaches the whole program space, around its end.
    {".org $FFF0\n brf $0000", 0xFFF0, {0x11, 0x0E, 0x00}, ""},
    {"brf $FFFF", 0, {0x11, 0xFD, 0xFF}, ""},
    {"callr $0003", 0, {0x10, 0x01, 0x00}, ""},
    {"brf -1", 0, {}, "branch target -$1 is outside $0-$FFFF"},
    {"brf $10000", 0, {}, "outside $0-$FFFF"},
    // d9, b3 and i8.
    {"ld $1FF", 0, {0x03, 0xFF}, ""},
    {"ld $200", 0, {}, "data address $200 is outside $0-$1FF"},
    {"st -1", 0, {}, "data address"},
    {"set1 $0, 7", 0, {0xEF, 0x00}, ""},
    {"set1 $0, 8", 0, {}, "bit number 8 is outside 0-7"},
    {"bn $0, -1, 0", 0, {}, "bit number -1"},
    {"add #255", 0, {0x81, 0xFF}, ""},
    {"add #-128", 0, {0x81, 0x80}, ""},
    {"add #256", 0, {}, "immediate $100 does not fit in a byte"},
    {"add #-129", 0, {}, "does not fit in a byte"},
    {"mov #$100, $0", 0, {}, "does not fit in a byte"},
    {"mov #0, $200", 0, {}, "data address"},
    {"jmpf $10000", 0, {}, "jump target"},
};

TEST(Encoding, OperandFieldsAtTheirLimits) {
    for (const range_case& c : ranges) {
        const vmu_asm_result result = assemble(c.source);
        if (*c.error == '\0') {
            ASSERT_EQ(error_lines(result), "") << c.source;
            EXPECT_EQ(bytes_from(result.image, c.pc), c.bytes) << c.source;
        } else {
            ASSERT_EQ(result.errors.size(), 1U) << c.source;
            EXPECT_NE(result.errors[0].message.find(c.error), std::string::npos)
                << c.source << " gave: " << result.errors[0].message;
            EXPECT_TRUE(result.image.empty()) << c.source;
        }
    }
}

}  // namespace
