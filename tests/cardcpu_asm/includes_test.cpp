// Included files: found beside the including file, then in the -I folders in
// order, then (sfr.i only) built in; raw bytes; and errors that name the
// file they are in.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <utility>

#include "asm_support.h"
#include "cardcpu/asm/source.h"
#include "cardcpu/cpu/sfr.h"
#include "run_program.h"

namespace {

class Includes : public ::testing::Test {
protected:
    temp_dir dir;

    void put(const std::string& name, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        write_file(dir.file(name), text);
    }

    vmu_asm_result run(const std::string& main, const std::vector<std::string>& include_dirs = {}) {
        put("main.s", main);
        std::vector<std::string> dirs;
        for (const std::string& include : include_dirs) {
            dirs.push_back(dir.file(include));
        }
        return vmu_assemble_file(dir.file("main.s"), dirs);
    }
};

TEST_F(Includes, RelativeToTheIncludingFile) {
    put("sub/a.i", ".include \"b.i\"\na_val = b_val + 1\n");
    put("sub/b.i", "b_val = 4\n");
    const vmu_asm_result result = run(".include \"sub/a.i\"\n.byte a_val\n");
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, asm_bytes{5});
}

TEST_F(Includes, BesideFirstThenEachIncludeFolderInOrder) {
    put("d.i", ".byte 1\n");
    put("inc1/d.i", ".byte 2\n");
    put("inc1/e.i", ".byte 3\n");
    put("inc2/e.i", ".byte 4\n");
    put("inc2/f.i", ".byte 5\n");
    const vmu_asm_result result =
        run(".include \"d.i\"\n.include \"e.i\"\n.include \"f.i\"\n", {"inc1", "inc2"});
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, (asm_bytes{1, 3, 5}));
}

TEST_F(Includes, BytesAreCopiedAsTheyAre) {
    put("sub/data.bin", std::string("\x00\xFF\n\x10", 4));
    put("sub/part.s", ".include bytes \"data.bin\"\n");
    const vmu_asm_result result = run(".org 2\n.include \"sub/part.s\"\n.byte 7\n");
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, (asm_bytes{0, 0, 0x00, 0xFF, 0x0A, 0x10, 7}));
}

TEST_F(Includes, AFileOfTheRegistersNameOverridesTheBuiltInOne) {
    put("inc/sfr.i", "acc equ $42\n");
    const vmu_asm_result result = run(".include \"sfr.i\"\n.byte acc\n", {"inc"});
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, asm_bytes{0x42});
}

TEST_F(Includes, ErrorsNameTheIncludedFileAndItsLine) {
    put("sub/bad.i", "nop\nfoo 1\n");
    put("self.i", ".include \"self.i\"\n");
    const vmu_asm_result result =
        run(".include \"sub/bad.i\"\n.include \"self.i\"\n.include \"none.i\"\n"
            ".include bytes \"none.bin\"\n");
    ASSERT_EQ(result.errors.size(), 4U) << error_lines(result);
    EXPECT_EQ(result.errors[0].file, dir.file("sub/bad.i"));
    EXPECT_EQ(result.errors[0].line, 2);
    EXPECT_EQ(result.errors[0].message, "unknown mnemonic 'foo'");
    EXPECT_EQ(result.errors[1].file, dir.file("self.i"));
    EXPECT_NE(result.errors[1].message.find("includes itself"), std::string::npos);
    for (std::size_t i : {2U, 3U}) {
        EXPECT_EQ(result.errors[i].file, dir.file("main.s"));
        EXPECT_EQ(result.errors[i].line, static_cast<int>(i + 1));
        EXPECT_NE(result.errors[i].message.find("cannot find"), std::string::npos);
    }
}

TEST_F(Includes, AnUnreadableSourceIsAnErrorOfTheWholeFile) {
    const vmu_asm_result missing = vmu_assemble_file(dir.file("none.s"), {});
    ASSERT_EQ(missing.errors.size(), 1U);
    EXPECT_EQ(missing.errors[0].file, dir.file("none.s"));
    EXPECT_EQ(missing.errors[0].line, 0);
    EXPECT_EQ(missing.errors[0].message, "No such file or directory");
    const vmu_asm_result folder = vmu_assemble_file(dir.path(), {});
    ASSERT_EQ(folder.errors.size(), 1U);
    EXPECT_EQ(folder.errors[0].message, "Is a directory");
}

TEST_F(Includes, ATextNamedInAFolderIncludesFromThere) {
    put("sub/x.i", ".byte 9\n");
    const vmu_asm_result result =
        vmu_assemble_text(".include \"x.i\"\n", dir.file("sub/virtual.s"), {});
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, asm_bytes{9});
}

struct register_name {
    const char* name;
    int address;
};

// The registers and bits as the processor documents them.
const register_name registers[] = {
    {"acc", 0x100},   {"psw", 0x101},   {"b", 0x102},     {"c", 0x103},      {"trl", 0x104},
    {"trh", 0x105},   {"sp", 0x106},    {"pcon", 0x107},  {"ie", 0x108},     {"ip", 0x109},
    {"ext", 0x10D},   {"ocr", 0x10E},   {"t0cnt", 0x110}, {"t0prr", 0x111},  {"t0l", 0x112},
    {"t0lr", 0x113},  {"t0h", 0x114},   {"t0hr", 0x115},  {"t1cnt", 0x118},  {"t1lc", 0x11A},
    {"t1l", 0x11B},   {"t1lr", 0x11B},  {"t1hc", 0x11C},  {"t1h", 0x11D},    {"t1hr", 0x11D},
    {"mcr", 0x120},   {"stad", 0x122},  {"cnr", 0x123},   {"tdr", 0x124},    {"xbnk", 0x125},
    {"vccr", 0x127},  {"scon0", 0x130}, {"sbuf0", 0x131}, {"sbr", 0x132},    {"scon1", 0x134},
    {"sbuf1", 0x135}, {"p1", 0x144},    {"p1ddr", 0x145}, {"p1fcr", 0x146},  {"p3", 0x14C},
    {"p3ddr", 0x14D}, {"p3int", 0x14E}, {"fpr", 0x154},   {"p7", 0x15C},     {"i01cr", 0x15D},
    {"i23cr", 0x15E}, {"isl", 0x15F},   {"vsel", 0x163},  {"vrmad1", 0x164}, {"vrmad2", 0x165},
    {"vtrbf", 0x166}, {"vlreg", 0x167}, {"btcr", 0x17F},  {"cy", 7},         {"ac", 6},
    {"irbk1", 4},     {"irbk0", 3},     {"ov", 2},        {"rambk0", 1},     {"p", 0},
    {"halt", 0},      {"hold", 1},
};

TEST(BuiltInRegisters, EveryNameHasItsAddress) {
    for (const register_name& r : registers) {
        const vmu_asm_result result =
            assemble(std::string(".include \"sfr.i\"\n.word ") + r.name + "\n");
        ASSERT_EQ(error_lines(result), "") << r.name;
        EXPECT_EQ(result.image, (asm_bytes{static_cast<std::uint8_t>(r.address & 0xFF),
                                           static_cast<std::uint8_t>(r.address >> 8)}))
            << r.name;
    }
}

TEST(BuiltInRegisters, IncludedTwiceAndUsedByName) {
    const vmu_asm_result result = assemble(
        ".include \"sfr.i\"\n.include \"sfr.i\"\n mov #$80, vccr\n set1 psw, cy\n bp p3, 4, 0\n");
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, (asm_bytes{0x23, 0x27, 0x80, 0xFF, 0x01, 0x7C, 0x4C, 0xF8}));
}

// sfr.i is generated from the model's register list: each register, second
// name and bit of the list stands there with its value, and nothing else.
TEST(BuiltInRegisters, AreTheModelsListAndNothingElse) {
    std::vector<std::pair<std::string_view, unsigned>> listed;
    for (const vmu_sfr_info& row : vmu_sfr_infos) {
        listed.emplace_back(row.name, row.address);
    }
    for (const vmu_sfr_alias& alias : vmu_sfr_aliases) {
        listed.emplace_back(alias.name, alias.address);
    }
    for (const vmu_sfr_bit_info& bit : vmu_sfr_bits) {
        listed.emplace_back(bit.name, bit.bit);
    }
    std::string source = ".include \"sfr.i\"\n";
    asm_bytes expected;
    for (const auto& [name, value] : listed) {
        std::string lower(name);
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        source += ".word " + lower + "\n";
        expected.push_back(static_cast<std::uint8_t>(value));
        expected.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    const vmu_asm_result result = assemble(source);
    ASSERT_EQ(error_lines(result), "");
    EXPECT_EQ(result.image, expected);

    std::size_t definitions = 0;
    for (std::size_t at = 0; (at = vmu_asm_builtin_sfr.find(" equ ", at)) != std::string::npos;
         ++at) {
        ++definitions;
    }
    EXPECT_EQ(definitions, listed.size());
}

}  // namespace
