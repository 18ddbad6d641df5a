// What no source can make the assembler do: run off the stack through deep
// nesting or long chains of definitions, or take memory without end through
// a huge or endless file or statements that pile up. Each limit is met with
// one error at its line, and just within it the source still assembles.
#include <gtest/gtest.h>

#include <filesystem>

#include "asm_support.h"
#include "cardcpu/asm/expr.h"
#include "run_program.h"

namespace {

std::string repeated(const std::string& text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i) {
        out += text;
    }
    return out;
}

// name0 = name1, name1 = name2, ..., the last = 7: each refers forward, so
// pass 2 works the first out through all the others.
std::string chain(int length) {
    std::string source;
    for (int i = 0; i + 1 < length; ++i) {
        source += "n" + std::to_string(i) + " = n" + std::to_string(i + 1) + "\n";
    }
    return source + "n" + std::to_string(length - 1) + " = 7\n.byte n0\n";
}

const std::string nested_message = "t.s:1: expression nested more than " +
                                   std::to_string(VMU_ASM_MAX_NESTING) +
                                   " deep (parentheses, signs and byte selectors)\n";

struct nesting_case {
    const char* rule;
    std::string source;
    std::string errors;  // "" when it assembles to .byte 7
};

TEST(Limits, NestingStopsAtItsBoundWithOneError) {
    const int most = VMU_ASM_MAX_NESTING;
    const nesting_case cases[] = {
        {"parentheses at the bound", ".byte " + repeated("(", most) + "7" + repeated(")", most),
         ""},
        {"parentheses past it", ".byte " + repeated("(", most + 1) + "7" + repeated(")", most + 1),
         nested_message},
        {"ten thousand parentheses", ".byte " + repeated("(", 10'000) + "7" + repeated(")", 10'000),
         nested_message},
        {"signs at the bound", ".byte " + repeated("- ", most) + "7", ""},
        {"sixty thousand signs", ".byte " + repeated("- ", 60'000) + "7", nested_message},
        {"complements and pluses", ".byte " + repeated("~ + ", 30'000) + "7", nested_message},
        {"byte selectors", ".byte " + repeated("< ", 10'000) + "7", nested_message},
        {"a chain at the bound", chain(256), ""},
        {"fifty thousand chained names", chain(50'000),
         "t.s:1: a chain of definitions more than 256 deep, at 'n256'\n"},
    };
    for (const nesting_case& c : cases) {
        const vmu_asm_result result = assemble(c.source);
        EXPECT_EQ(error_lines(result), c.errors) << c.rule;
        EXPECT_EQ(result.image, c.errors.empty() ? asm_bytes{7} : asm_bytes{}) << c.rule;
    }
}

TEST(Limits, StatementsPlaceNoMoreThanTheProgramSpace) {
    // Each line would keep 64 KiB: 40,000 of them took 2.5 GB.
    const vmu_asm_result piled = assemble(repeated(".org 0\n.text $10000 \"\"\n", 40'000));
    ASSERT_FALSE(piled.errors.empty());
    EXPECT_EQ(piled.errors[0].line, 4);
    EXPECT_EQ(piled.errors[0].message,
              "the statements so far place more than the 64 KiB program space holds, so some "
              "overlap");
    EXPECT_LE(piled.errors.size(), 101U);
    // A small overlap still says where.
    EXPECT_EQ(error_lines(assemble(".text 4 \"\"\n.org 2\n.byte 1")),
              "t.s:3: overwrites $0002, already written by t.s:1\n");
    // The whole space, once, is a program.
    EXPECT_EQ(assemble(".org 0\n.text $10000 \"\"").image.size(), 0x10000U);
}

class FileLimits : public ::testing::Test {
protected:
    temp_dir dir;

    // A file of `size` bytes that takes no room on the disk.
    std::string sparse(const std::string& name, std::uintmax_t size) {
        write_file(dir.file(name), "");
        std::filesystem::resize_file(dir.file(name), size);
        return dir.file(name);
    }

    std::string errors_of(const std::string& main) {
        write_file(dir.file("main.s"), main);
        return error_lines(vmu_assemble_file(dir.file("main.s"), {}));
    }
};

TEST_F(FileLimits, HugeAndEndlessFilesAreRefusedUnread) {
    const std::string huge = sparse("huge.bin", 3'000'000'000);
    const std::string source_limit =
        ": larger than 4194304 bytes, far more than any card program's source";
    struct {
        const char* rule;
        std::string main;  // main.s, when no source below
        std::string source;
        std::string errors;
    } const cases[] = {
        {"an endless source", "", "/dev/zero",
         "/dev/zero:0: it is a character device, not a regular file\n"},
        {"a huge source", "", huge, huge + ":0" + source_limit + "\n"},
        {"bytes of a huge file", ".include bytes \"huge.bin\"\n", "",
         dir.file("main.s") + ":1: " + huge +
             ": larger than 65536 bytes, the whole program space\n"},
        {"a huge include", ".include \"huge.bin\"\n", "",
         dir.file("main.s") + ":1: " + huge + source_limit + "\n"},
    };
    for (const auto& c : cases) {
        if (c.source.empty()) {
            EXPECT_EQ(errors_of(c.main), c.errors) << c.rule;
        } else {
            EXPECT_EQ(error_lines(vmu_assemble_file(c.source, {})), c.errors) << c.rule;
        }
    }
}

TEST_F(FileLimits, IncludesCountTowardsTheSourceEveryTimeTheyAreRead) {
    write_file(dir.file("mib.i"), std::string(1024 * 1024, '\n'));
    // Four reads of a MiB are more than the 4 MiB with main.s itself.
    EXPECT_EQ(errors_of(repeated(".include \"mib.i\"\n", 4)),
              dir.file("main.s") + ":4: " + dir.file("mib.i") +
                  ": the source with its includes is larger than 4194304 bytes, far more than "
                  "any card program's source\n");
    EXPECT_EQ(errors_of(repeated(".include \"mib.i\"\n", 3)), "");
    // Text given directly is held to the same bound.
    EXPECT_EQ(error_lines(assemble(std::string(4 * 1024 * 1024 + 1, '\n'))),
              "t.s:0: the source with its includes is larger than 4194304 bytes, far more than "
              "any card program's source\n");
}

}  // namespace
