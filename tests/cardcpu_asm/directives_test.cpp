// The dialect around the instructions: labels in their three forms,
// definitions, comments, the data and placement directives, and
// expressions with their precedence.
#include <gtest/gtest.h>

#include "asm_support.h"

namespace {

struct source_case {
    const char* rule;
    const char* source;
    asm_bytes image;
};

const source_case sources[] = {
    {"empty source", "", {}},
    {".byte numbers, strings, characters",
     ".byte 1, \"AB\", 'c', -1, 255",
     {1, 'A', 'B', 'c', 0xFF, 0xFF}},
    {".word is little-endian", ".word $1234, -2", {0x34, 0x12, 0xFE, 0xFF}},
    {".text pads with spaces", ".text 5 \"AB\"", {'A', 'B', ' ', ' ', ' '}},
    {".string pads with NULs", ".string 4, \"AB\"", {'A', 'B', 0, 0}},
    {".text of exactly N", ".text 2 \"AB\"", {'A', 'B'}},
    {"escapes in strings", ".byte \"a\\\"\\\\\\n\\0\"", {'a', '"', '\\', '\n', 0}},
    {".org leaves zeros", ".org 3\n.byte 9", {0, 0, 0, 9}},
    {".org back into a gap", ".org 2\n.byte 1\n.org 0\n.byte 7", {7, 0, 1}},
    {".cnop to a multiple", ".byte 1\n.cnop 0, 4\n.byte 2", {1, 0, 0, 0, 2}},
    {".cnop then an offset", ".byte 1\n.cnop 2, 4\n.byte 2", {1, 0, 0, 0, 0, 0, 2}},
    {".cnop when aligned", ".byte 1, 2, 3, 4\n.cnop 0, 4\n.byte 5", {1, 2, 3, 4, 5}},
    {".cnop pads at the end", ".byte 1\n.cnop 0, 4", {1, 0, 0, 0}},
    {"label with colon", "start: nop\n jmpf start", {0x00, 0x21, 0x00, 0x00}},
    {"label alone without colon", " nop\nloop\n br loop", {0x00, 0x01, 0xFE}},
    {"a lone mnemonic is no label", "ret\nreti", {0xA0, 0xB0}},
    {"forward reference", " jmpf end\nend: ret", {0x21, 0x00, 0x03, 0xA0}},
    {"local labels per global label",
     "a:\n.l: br .l\nb:\n.l: br .l\n br a.l",
     {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFA}},
    {"local label alone, before use", "a:\n.l\n nop\n br .l", {0x00, 0x01, 0xFD}},
    {"definitions in any case",
     "x equ 5\nY EQU 6\nz = 7\nw: Equ 8\n.byte x, y, Z, W",
     {5, 6, 7, 8}},
    {"a definition that refers forward", ".byte v\nv = later + 1\nlater: .byte 0", {2, 0}},
    {"a definition through another", "a = b * 2\nb = c + 1\nc = 3\n.byte a", {8}},
    {"the same value defined twice", "x = 1\nx = 1\n.byte x", {1}},
    {"comments",
     "; a comment\n* a starred line\n   * indented star\n nop ; after\n .byte ';'",
     {0x00, ';'}},
    {"labels and names ignore case", "Here: .byte HERE, here", {0, 0}},
    {"CRLF line ends", "nop\r\n.byte 1\r\n", {0x00, 1}},
    {"label before a directive", "tab: .byte tab + 1, tab + 2", {1, 2}},
};

TEST(Dialect, SourcesGiveTheirImages) {
    for (const source_case& c : sources) {
        const vmu_asm_result result = assemble(c.source);
        ASSERT_EQ(error_lines(result), "") << c.rule;
        EXPECT_EQ(result.image, c.image) << c.rule;
    }
}

struct expression_case {
    const char* expression;
    std::uint16_t value;  // as a .word
};

const expression_case expressions[] = {
    {"1+2*3", 7},          {"(1+2)*3", 9},
    {"10-4-3", 3},         {"100/7/2", 7},
    {"7/-2", 0xFFFD},      {"1<<4|1", 0x11},
    {"1+1<<2", 8},         {"$F0&$3C^$FF", 0xCF},
    {"6|1^3", 6},          {"$FF00>>4&$FF", 0xF0},
    {"-(2*3)+10", 4},      {"~0&$FF", 0xFF},
    {"-1", 0xFFFF},        {"--1", 1},
    {"<$1234", 0x34},      {">$1234", 0x12},
    {">$1234+$100", 0x13}, {"<$12FF+1", 0x00},
    {"(<$1234)+1", 0x35},  {"%1010", 10},
    {"$ff", 0xFF},         {"'A'+1", 0x42},
    {"' '", 0x20},         {"65535", 0xFFFF},
};

TEST(Dialect, ExpressionsFollowThePrecedenceOfTheOperators) {
    for (const expression_case& c : expressions) {
        const vmu_asm_result result = assemble(std::string(".word ") + c.expression);
        ASSERT_EQ(error_lines(result), "") << c.expression;
        EXPECT_EQ(result.image, word_image(c.value)) << c.expression;
    }
}

TEST(Dialect, SizesDoNotDependOnForwardValues) {
    // A forward name that turns out small still takes the form its syntax
    // chose, so the label after it keeps the address pass 1 gave it.
    const vmu_asm_result result =
        assemble(" mov #small, big\n ld big\nafter: .byte after\nsmall = 1\nbig = $1FF");
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, (asm_bytes{0x23, 0xFF, 0x01, 0x03, 0xFF, 5}));
}

}  // namespace
