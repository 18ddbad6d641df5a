// vmurx-emu --bios: the unchanged tool receives from the card's own Copy as
// its system ROM runs it on the processor model, a person at the card
// choosing the file. The transfers need the ROM and run only where
// VMURX_BIOS names one; what the program refuses before it runs a ROM is
// tested everywhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "card/card_disk.h"
#include "cpu_card_support.h"
#include "run_program.h"

using namespace cpu_card_test;

namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_all(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(RomCopy, RefusesWhatIsNoRomItCanBootWithStatus2) {
    struct row {
        std::vector<std::string> argv;  // after vmurx-emu; ROMs named from the test directory
        std::string error;
        bool file_given = true;  // --card card.bin --entry ONE follow
    };
    // A jump to itself at the reset vector boots, as far as the check goes,
    // but is no ROM the person finds a clock setting on.
    std::string spins(0x10000, '\0');
    spins[0] = '\x21';  // jmpf 0000
    const row rows[] = {
        {{"--bios", "missing.bin"}, "vmurx-emu: --bios missing.bin: No such file"},
        {{"--bios", "short.bin"},
         "vmurx-emu: --bios short.bin: not a system ROM the model can boot: 100 bytes, where a "
         "system ROM has 65536\n"},
        {{"--bios", "long.bin"},
         "vmurx-emu: --bios long.bin: not a system ROM the model can boot: more than the 65536 "
         "bytes of a system ROM\n"},
        {{"--bios", "zeros.bin"},
         "not a system ROM the model can boot: no jump at its reset vector"},
        {{"--bios", "spins.bin"}, "vmurx-emu: the person at the card stopped after "},
        // An empty ROM is VMURX_BIOS's, unset here.
        {{"--bios="}, "no system ROM given and VMURX_BIOS is not set: give --bios ROM"},
        // What the options ask that the ROM's card cannot do.
        {{"--bios", "zeros.bin", "--cpu"}, "vmurx-emu: --bios and --cpu choose two cards\n", false},
        {{"--scripted", "--bios", "zeros.bin"},
         "--bios runs the card's own Copy on its system ROM: not with --cpu or --scripted",
         false},
        {{"--bios", "zeros.bin", "--realtime"},
         "--bios runs the ROM counting; not with --realtime"},
        {{"--bios", "zeros.bin", "--rc-khz", "900"},
         "--rc-khz is for the modelled cards, not for --bios"},
        {{"--bios", "zeros.bin", "--fault", "stop=2"},
         "--fault is for the modelled cards, not for --bios"},
        {{"--bios", "zeros.bin", "--card", "card.bin"},
         "give --card IMAGE and --entry ENTRY",
         false},
    };
    temp_dir dir;
    write_all(dir.file("short.bin"), std::string(100, '\x21'));
    write_all(dir.file("long.bin"), std::string(0x10001, '\x21'));
    write_all(dir.file("zeros.bin"), std::string(0x10000, '\0'));
    write_all(dir.file("spins.bin"), spins);
    file_error failure;
    ASSERT_TRUE(card_store(dir.file("card.bin"), card_with({{"ONE"}}), true, failure));
    for (const row& r : rows) {
        std::vector<std::string> argv = {VMURX_EMU_PATH};
        argv.insert(argv.end(), r.argv.begin(), r.argv.end());
        if (r.file_given)
            argv.insert(argv.end(), {"--card", "card.bin", "--entry", "ONE"});
        const run_result result =
            run_program(argv, {.cwd = dir.path(), .env = {}, .unset = {"VMURX_BIOS"}});
        EXPECT_EQ(result.status, 2) << r.argv[1];
        EXPECT_NE(result.err.find(r.error), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "") << r.argv[1];
        // Refused before the port opens: no file stored.
        EXPECT_FALSE(std::ifstream(dir.file("ONE")).good());
    }
}

TEST(RomCopy, TheToolReceivesTheFileByteForByteFromTheRomsCopy) {
    const char* rom = std::getenv("VMURX_BIOS");
    if (rom == nullptr || *rom == '\0') {
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    }
    struct row {
        std::string entry;
        test_file file;  // found by --entry among the card's three
    };
    const test_file one{"ONE", false, 1};
    const test_file two{"TWO_BLOCKS", false, 2};
    const row rows[] = {
        {"ONE", one},
        {"TWO_BLOCKS", two},
        {"#2", {"LAST", false, 1}},
    };
    const card_image card = card_with({one, two, {"LAST", false, 1}});
    for (const row& r : rows) {
        temp_dir dir;
        file_error failure;
        ASSERT_TRUE(card_store(dir.file("card.bin"), card, true, failure));
        const std::string image = read_all(dir.file("card.bin"));
        const run_result result = run_program(
            {VMURX_EMU_PATH, "--bios", rom, "--card", "card.bin", "--entry", r.entry, "--", "-v"},
            {.cwd = dir.path(), .env = {}, .unset = {}, .timeout_s = 120});
        EXPECT_EQ(result.status, 0) << r.entry << ": " << result.out << result.err;
        const std::vector<std::uint8_t> sent = content_of(r.file);
        EXPECT_EQ(read_all(dir.file(r.file.name)), std::string(sent.begin(), sent.end()))
            << r.entry;
        EXPECT_NE(result.out.find("Receiving last flash block OK\n"), std::string::npos)
            << result.out;
        // The card's screen: the file's name over the ROM's word for done.
        EXPECT_NE(result.err.find("vmurx-emu: the card shows \"" + r.file.name.substr(0, 8)),
                  std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find("| Copied\"\n"), std::string::npos) << result.err;
        // The user's card is only read.
        EXPECT_EQ(read_all(dir.file("card.bin")), image);
    }
}
