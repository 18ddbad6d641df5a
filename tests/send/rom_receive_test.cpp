// vmurx-send-emu --bios: the card's own system ROM, on the processor model,
// takes the file in its receive mode, and the image is written once the ROM
// is done. The transfers need the ROM and run only where VMURX_BIOS names
// one; what the program refuses before a ROM runs is tested everywhere.
#include <cstdlib>
#include <filesystem>

#include "send_support.h"

namespace {

const char* bios() {
    const char* rom = std::getenv("VMURX_BIOS");
    return rom != nullptr && *rom != '\0' ? rom : nullptr;
}

}  // namespace

TEST(RomReceive, RefusesWhatIsNoRomItCanBootWithStatus2AndLeavesTheImage) {
    std::string spins(0x10000, '\0');
    spins[0] = '\x21';  // jmpf 0000: boots as far as the check goes, no clock setting
    const struct {
        std::vector<std::string> card;  // the card options; --card card.bin follows
        std::string error;
    } cases[] = {
        {{"--bios", "missing.bin"}, "vmurx-send-emu: --bios missing.bin: No such file"},
        {{"--bios", "short.bin"},
         "vmurx-send-emu: --bios short.bin: not a system ROM the model can boot: 100 bytes, "
         "where a system ROM has 65536\n"},
        {{"--bios", "long.bin"},
         "not a system ROM the model can boot: more than the 65536 bytes of a system ROM\n"},
        {{"--bios", "zeros.bin"}, "not a system ROM the model can boot: no jump at its reset"},
        {{"--bios", "spins.bin"}, "vmurx-send-emu: the person at the card stopped after "},
        {{"--bios="}, "no system ROM given and VMURX_BIOS is not set: give --bios ROM"},
        {{"--bios", "zeros.bin", "--fault", "no-echo"},
         "--fault is for the modelled card, not for --bios"},
        {{"--docked", "--bios", "zeros.bin"}, "--docked is for the modelled card, not for --bios"},
        {{"--bios", "zeros.bin", "--read-us", "3"},
         "--read-us is for the modelled card, not for --bios"},
        {{"--bios", "zeros.bin", "--realtime"},
         "--bios runs the ROM counting; not with --realtime"},
        {{"--screen"}, "--screen needs --bios"},
    };
    temp_dir dir;
    write_file(dir.file("short.bin"), std::string(100, '\x21'));
    write_file(dir.file("long.bin"), std::string(0x10001, '\x21'));
    write_file(dir.file("zeros.bin"), std::string(0x10000, '\0'));
    write_file(dir.file("spins.bin"), spins);
    write_file(dir.file("NEW.DCI"),
               as_string(make_dci(content_of(1, 1), 0x33, "NEW", MONDAY_2002)));
    store(blank_card(), dir.file("card.bin"));
    const std::string before = read_file(dir.file("card.bin"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        std::vector<std::string> argv{VMURX_SEND_EMU_PATH};
        argv.insert(argv.end(), c.card.begin(), c.card.end());
        argv.insert(argv.end(), {"--card", "card.bin", "NEW.DCI"});
        const run_result run =
            run_program(argv, {.cwd = dir.path(), .env = {}, .unset = {"VMURX_BIOS"}});
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(read_file(dir.file("card.bin")), before);
    }
}

// The ROM takes the file; the image then checks clean, lists the file where
// the ROM put it and gives it back byte for byte. A refusal leaves the image
// as it was.
TEST(RomReceive, TheRomTakesTheFileIntoTheImageOrRefusesItAndLeavesTheImage) {
    if (bios() == nullptr)
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    const struct {
        const char* rule;
        card_image card;
        bool game;
        std::size_t blocks;
        const char* name;
        int status;
        std::string message;  // in vmurx-send's words
    } cases[] = {
        {"one block onto a blank card", blank_card(), false, 1, "SENT", 0,
         "the card took SENT (1 block)"},
        {"three blocks beside a file", card_holding(blank_card(), {{"OLD", 2}}), false, 3, "SENT",
         0, "the card took SENT (3 blocks)"},
        {"a game of two blocks", blank_card(), true, 2, "SENT", 0, "the card took SENT (2 blocks)"},
        {"a name on the card", card_holding(blank_card(), {{"SENT", 1}}), false, 1, "SENT", 1,
         "a data file named SENT is on the card already; the card keeps its files as they were"},
        {"no room", card_holding(blank_card(), {{"FULL", 199}}), false, 2, "SENT", 1,
         "the card has no room for 2 blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        store(c.card, dir.file("card.bin"));
        const std::string before = read_file(dir.file("card.bin"));
        const bytes content = content_of(c.blocks, 5);
        write_file(dir.file("NEW.DCI"),
                   as_string(make_dci(content, c.game ? 0xCC : 0x33, c.name, MONDAY_2002)));
        const run_result run =
            send_emu(dir, {"--bios", bios(), "--card", "card.bin"}, {"NEW.DCI"}, 120);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_NE(run.err.find("vmurx-send: " + c.message), std::string::npos) << run.err;
        // The ROM is done: back on its file list, the new file's name on it.
        EXPECT_NE(run.err.find("vmurx-send-emu: the card shows \"?00"), std::string::npos)
            << run.err;
        if (c.status != 0) {
            EXPECT_EQ(read_file(dir.file("card.bin")), before);
            continue;
        }
        EXPECT_NE(run.err.find("vmurx-send-emu: the card's flash, changed, is written to "
                               "card.bin\n"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
        ASSERT_EQ(card_tool(dir, {"extract", "card.bin", "SENT"}).status, 0);
        EXPECT_EQ(read_file(dir.file("SENT")), as_string(content));
    }
}

// A sitting through the ROM: every file of a source image, the card going
// back to its file list by itself between two, each byte for byte.
TEST(RomReceive, ASittingPutsEveryFileOfAnImageOnTheRomCard) {
    if (bios() == nullptr)
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    store(card_holding(blank_card(), {{"ONE", 1}, {"TWO", 2}}), dir.file("source.bin"));
    const run_result run = send_emu(dir, {"--bios", bios(), "--card", "card.bin"},
                                    {"--card", "source.bin", "--all"}, 120);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("vmurx-send: all 2 files are on the card\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
    std::filesystem::create_directory(dir.file("sent"));
    std::filesystem::create_directory(dir.file("source"));
    for (const std::string name : {"ONE", "TWO"}) {
        ASSERT_EQ(card_tool(dir, {"extract", "-o", "sent", "card.bin", name}).status, 0);
        ASSERT_EQ(card_tool(dir, {"extract", "-o", "source", "source.bin", name}).status, 0);
        EXPECT_EQ(read_file(dir.file("sent/" + name)), read_file(dir.file("source/" + name)))
            << name;
    }

    // A sitting the image would refuse a file of is refused whole before the
    // first file moves, as on the model's card.
    const std::string before = read_file(dir.file("card.bin"));
    const run_result again = send_emu(dir, {"--bios", bios(), "--card", "card.bin"},
                                      {"--card", "source.bin", "--all"}, 120);
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.err.find("vmurx-send: the card would refuse these files:\n"), std::string::npos)
        << again.err;
    EXPECT_EQ(again.err.find("the card took"), std::string::npos) << again.err;
    EXPECT_EQ(read_file(dir.file("card.bin")), before);
}
