// vmurx-send-emu from outside: vmurx-send against the software receiving
// card, on card images built here. Every file the card takes checks clean
// with vmurx-card, is listed where the card's rule puts it (data from block
// 199 down, a game from block 0 up) with its stamp, and comes back byte for
// byte; every refusal and fault leaves the image as it was, byte for byte,
// with a message that says what happened and status 1.
#include <sstream>

#include "card/card_disk.h"

#include "send_support.h"

namespace {

// The words of vmurx-card list's row of `slot`: slot, type, name, blocks,
// first block, stamp.
std::vector<std::string> listed(const temp_dir& dir, std::size_t slot) {
    std::istringstream lines(card_tool(dir, {"list", "card.bin"}).out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream row(line);
        std::vector<std::string> words;
        for (std::string word; row >> word && words.size() < 6;)
            words.push_back(word);
        if (!words.empty() && words[0] == std::to_string(slot))
            return words;
    }
    return {};
}

}  // namespace

TEST(SendProgram, PutsEveryFileWhereTheCardPutsItAndItComesBackWhole) {
    const struct {
        const char* rule;
        card_image card;
        bool game;
        std::size_t blocks;
        std::size_t slot;
        int first;  // the first block by the card's rule
    } cases[] = {
        {"one block of data onto a blank card", blank_card(), false, 1, 0, 199},
        {"the whole user area as data", blank_card(), false, 200, 0, 199},
        {"a game of one block", blank_card(), true, 1, 0, 0},
        {"the largest game", blank_card(), true, 128, 0, 0},
        {"data into the last 13 free blocks", card_holding(blank_card(), {{"FULL", 187}}), false,
         13, 1, 12},
        {"data into the gaps a removed file left",
         without(card_holding(blank_card(), {{"A", 3}, {"B", 2}, {"C", 4}}), 1), false, 5, 1, 196},
        {"a game below data files", without(card_holding(blank_card(), {{"A", 3}, {"B", 2}}), 0),
         true, 20, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        store(c.card, dir.file("card.bin"));
        const bytes content = content_of(c.blocks, 3);
        write_file(dir.file("SENT.DCI"),
                   as_string(make_dci(content, c.game ? 0xCC : 0x33, "SENT", MONDAY_2002)));
        const run_result run = send_emu(dir, {"--card", "card.bin"}, {"-q", "SENT.DCI"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "");

        EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
        EXPECT_EQ(listed(dir, c.slot),
                  (std::vector<std::string>{std::to_string(c.slot), c.game ? "game" : "data",
                                            "SENT", std::to_string(c.blocks),
                                            std::to_string(c.first), "2002-03-04T05:06:07"}));
        ASSERT_EQ(card_tool(dir, {"extract", "card.bin", "SENT"}).status, 0);
        EXPECT_EQ(read_file(dir.file("SENT")), as_string(content));
    }
}

TEST(SendProgram, RefusesWhatTheCardRefusesAndLeavesTheImageAsItWas) {
    const char* const UNCHANGED = "; the card keeps its files as they were\n";
    const struct {
        const char* rule;
        card_image card;
        bool game;
        std::size_t blocks;
        const char* name;
        std::string message;
        std::string note;
    } cases[] = {
        {"no room for a data file", card_holding(blank_card(), {{"FULL", 187}}), false, 14, "NEW",
         "the card has no room for 14 blocks (a data file needs them free)",
         "refused frame 1: no room for 14 blocks"},
        {"a second game", card_holding(blank_card(), {{"GAME", 2}}, true), true, 2, "NEW",
         "the card has no room for 2 blocks (a game needs them free from block 0)",
         "refused frame 1: no room for 2 blocks free from block 0"},
        {"a data file's name on the card", card_holding(blank_card(), {{"SAME", 1}}), false, 1,
         "SAME", "a data file named SAME is on the card already",
         "refused frame 2: a data file of this name is in slot 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        store(c.card, dir.file("card.bin"));
        const std::string before = read_file(dir.file("card.bin"));
        write_file(dir.file("NEW.DCI"),
                   as_string(make_dci(content_of(c.blocks, 4), c.game ? 0xCC : 0x33, c.name,
                                      MONDAY_2002)));
        const run_result run = send_emu(dir, {"--card", "card.bin"}, {"-q", "NEW.DCI"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "vmurx-send: " + c.message + UNCHANGED +
                               "vmurx-send-emu: the card shows the file list\n"
                               "vmurx-send-emu: the card: " +
                               c.note + "\n");
        EXPECT_EQ(read_file(dir.file("card.bin")), before);
    }
}

// A card with no free entry among the first 16 takes the whole file and
// writes its blocks and FAT, then refuses the last frame, as the card's
// firmware does: vmurx-send must say so and not that the card is as it was,
// and the image keeps the blocks taken by no file, as a real card would.
TEST(SendProgram, ACardWithSixteenFilesTakesTheBlocksAndRefusesTheLastFrame) {
    card_image full_directory = card_holding(blank_card(), {{"F", 1}});
    card_layout layout;
    std::string reason;
    ASSERT_TRUE(card_read_layout(full_directory, layout, reason)) << reason;
    card_file entry = card_read_entry(full_directory, layout, 0);
    for (std::size_t slot = 1; slot < 16; ++slot) {
        entry.slot = slot;
        entry.name[0] = static_cast<std::uint8_t>('A' + slot);
        card_put_entry(full_directory, layout, entry);
    }
    temp_dir dir;
    store(full_directory, dir.file("card.bin"));
    const std::string before = read_file(dir.file("card.bin"));
    write_file(dir.file("NEW.DCI"),
               as_string(make_dci(content_of(1, 4), 0x33, "NEW", MONDAY_2002)));
    const run_result run = send_emu(dir, {"--card", "card.bin"}, {"-q", "NEW.DCI"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.starts_with("vmurx-send: the card refused the last frame")) << run.err;
    EXPECT_EQ(run.err.find("keeps its files as they were"), std::string::npos) << run.err;
    EXPECT_NE(read_file(dir.file("card.bin")), before);
    const run_result check = card_tool(dir, {"check", "card.bin"});
    EXPECT_NE(check.out.find("lost"), std::string::npos) << check.out << check.err;
}

// The card image is held under its lock from the start to the last frame's
// write, as vmurx-card holds one: a card another program is changing is
// refused before anything moves, and left as it is.
TEST(SendProgram, RefusesACardAnotherProgramIsChanging) {
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    const std::string before = read_file(dir.file("card.bin"));
    write_file(dir.file("NEW.DCI"),
               as_string(make_dci(content_of(1, 4), 0x33, "NEW", MONDAY_2002)));
    card_held held;
    file_error error;
    ASSERT_TRUE(card_hold(dir.file("card.bin"), false, held, error)) << error.reason;
    const run_result run = send_emu(dir, {"--card", "card.bin"}, {"-q", "NEW.DCI"});
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(
        run.err.starts_with("vmurx-send-emu: --card card.bin: another program is "
                            "changing it (it holds its lock)"))
        << run.err;
    EXPECT_EQ(read_file(dir.file("card.bin")), before);
}

// A card name of terminal escapes reaches the terminal as U+FFFD, in
// vmurx-send's lines and in the card's note of what it took alike.
TEST(SendProgram, NamesItsFileEscapedInEveryLine) {
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    write_file(dir.file("EVIL.DCI"),
               as_string(make_dci(content_of(1, 4), 0x33, "\x1B[41mEVIL\a", MONDAY_2002)));
    const run_result run = send_emu(dir, {"--card", "card.bin"}, {"EVIL.DCI"});
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string shown = "\xEF\xBF\xBD[41mEVIL\xEF\xBF\xBD";
    EXPECT_TRUE(run.err.starts_with("vmurx-send: " + shown + ", a data file of 1 block: waiting"))
        << run.err;
    EXPECT_NE(run.err.find("vmurx-send: the card took " + shown + " (1 block) in "),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(run.err.ends_with("vmurx-send-emu: the card: took " + shown +
                                  " into slot 0, 1 block from block 199\n"))
        << run.err;
    EXPECT_EQ(run.err.find_first_of("\x1B\a"), std::string::npos) << run.err;
}

TEST(SendProgram, SendsAnEntryOfACardImageOntoANexusImageWithItsProgress) {
    temp_dir dir;
    store(card_holding(blank_card(), {{"FIRST", 1}, {"SECOND", 2}}), dir.file("from.bin"));
    store(card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP_2002, card_order::dcm), dir.file("card.bin"));
    const run_result run =
        send_emu(dir, {"--card", "card.bin"}, {"--card", "from.bin", "--entry", "#1"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.err);
    std::vector<std::string> err;
    for (std::string line; std::getline(lines, line);)
        err.push_back(line);
    ASSERT_EQ(err.size(), 6U) << run.err;
    EXPECT_EQ(err[0], "vmurx-send: SECOND, a data file of 2 blocks: waiting for the card");
    EXPECT_TRUE(err[1].starts_with("vmurx-send: block 1 of 2, ")) << err[1];
    EXPECT_TRUE(err[1].ends_with(" s left")) << err[1];
    EXPECT_TRUE(err[2].starts_with("vmurx-send: block 2 of 2, ")) << err[2];
    EXPECT_TRUE(err[3].starts_with("vmurx-send: the card took SECOND (2 blocks) in ")) << err[3];
    // The rate and the time are the counting card's own, not how fast this
    // machine ran it (a few milliseconds): a block takes the card over half
    // a second.
    const std::string rate = err[2].substr(err[2].find(", ") + 2);
    EXPECT_LT(std::stod(rate), 2.0) << err[2];
    const std::string took = err[3].substr(err[3].rfind(" in ") + 4);
    EXPECT_GT(std::stod(took), 1.0) << err[3];
    // A second after the last answer, on its way back to the file list.
    EXPECT_EQ(err[4], "vmurx-send-emu: the card shows \"the first page (Free, Game)\"");
    EXPECT_EQ(err[5], "vmurx-send-emu: the card: took SECOND into slot 0, 2 blocks from block 199");

    // Still in the Nexus order (each four bytes reversed: the root's byte
    // 0x10, 1, stands at 0x13), and the file as it was on the other card.
    EXPECT_EQ(read_file(dir.file("card.bin")).at(255 * 512 + 0x13), 1);
    EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
    ASSERT_EQ(card_tool(dir, {"extract", "card.bin", "SECOND"}).status, 0);
    EXPECT_EQ(read_file(dir.file("SECOND")), as_string(content_of(2, 51)));
}

// In real time the tool must see each of the card's 64 µs levels, and the
// card's thread must take each of the tool's edges within a delay unit: on
// a loaded machine a pause of either thread loses a bit (or the card's
// thread, starved, misses the PC altogether, or takes a wrong byte and
// refuses the frame), which the tool must then report, with the image as it
// was.
TEST(SendRealTime, PutsAFileOnTheCardRunningOnItsOwnThreadOrSaysWhyNot) {
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    const std::string before = read_file(dir.file("card.bin"));
    write_file(dir.file("SENT.DCI"),
               as_string(make_dci(content_of(1, 8), 0x33, "SENT", MONDAY_2002)));
    const run_result run = send_emu(dir, {"--card", "card.bin", "--realtime", "--read-us", "1"},
                                    {"-q", "SENT.DCI"}, 90);
    // A garbled answer to the last frame leaves the card holding the file or
    // not, and the tool says it cannot tell.
    const bool uncertain = run.err.find("may hold the file all the same") != std::string::npos;
    if (run.status == 0 || (uncertain && read_file(dir.file("card.bin")) != before)) {
        ASSERT_EQ(card_tool(dir, {"extract", "card.bin", "SENT"}).status, 0);
        EXPECT_EQ(read_file(dir.file("SENT")), as_string(content_of(1, 8)));
        return;
    }
    EXPECT_EQ(run.status, 1);
    const bool told = run.err.find("came garbled") != std::string::npos ||
                      run.err.find("the echo on Select shows") != std::string::npos ||
                      run.err.find("no answer from the card") != std::string::npos ||
                      run.err.find("the card stopped answering") != std::string::npos ||
                      run.err.find("the card refused") != std::string::npos;
    EXPECT_TRUE(told) << run.err;
    EXPECT_NE(run.err.find("vmurx-send-emu: the card shows the file list\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(read_file(dir.file("card.bin")), before);
}
