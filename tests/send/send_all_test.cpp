// A whole card image sent back in one sitting: vmurx-send-emu with
// vmurx-send's --card SOURCE --all (or several FILEs) onto the software
// receiving card, which goes back to its file list by itself after each file.
// Every file arrives byte for byte where the card's own rule puts it, the
// game first, and the card checks clean; a sitting the card would refuse a
// file of is refused whole, each such file named, before anything moves.
#include <algorithm>

#include "card/card_disk.h"
#include "card/card_place.h"
#include "send/send_file.h"

#include "send_support.h"

namespace {

card_layout layout_of(const card_image& card) {
    card_layout layout;
    std::string reason;
    EXPECT_TRUE(card_read_layout(card, layout, reason)) << reason;
    return layout;
}

card_image loaded(const std::string& path) {
    card_image card;
    file_error error;
    EXPECT_TRUE(card_load(path, card, error)) << error.reason;
    return card;
}

// The source's files in the order the card takes them: the game first,
// the data files in slot order.
std::vector<card_file> sitting_order(const card_image& source) {
    std::vector<card_file> files = card_files(source, layout_of(source));
    std::stable_partition(files.begin(), files.end(),
                          [](const card_file& file) { return file.type == TYPE_GAME; });
    return files;
}

card_image nexus_card_holding(const std::vector<std::pair<std::string, std::size_t>>& files) {
    card_image nexus = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP_2002, card_order::dcm);
    return card_holding(nexus, files);
}

card_image with_protected_file(card_image card) {
    card_new_file file{"LOCKED", false, true, STAMP_2002, content_of(3, 8)};
    std::size_t slot = 0;
    std::string reason;
    EXPECT_TRUE(card_add(card, file, slot, reason)) << reason;
    return card;
}

std::vector<std::pair<std::string, std::size_t>> one_block_files(int count) {
    std::vector<std::pair<std::string, std::size_t>> files;
    for (int i = 0; i < count; ++i)
        files.emplace_back("F" + std::to_string(i), 1);
    return files;
}

}  // namespace

TEST(SendAll, EveryFileOfACardArrivesWholeWhereTheCardPutsIt) {
    const struct {
        const char* rule;
        card_image source;
        const char* source_name;
    } cases[] = {
        {"data files, and a game after them that goes first",
         card_holding(card_holding(blank_card(), {{"A", 3}, {"B", 2}}), {{"GAME", 10}}, true),
         "source.bin"},
        {"a directory with a gap and blocks left free between files",
         without(card_holding(blank_card(), {{"A", 3}, {"B", 2}, {"C", 4}}), 1), "source.bin"},
        {"sixteen files, as many as the card takes",
         card_holding(blank_card(), one_block_files(16)), "source.bin"},
        {"a full card: the largest game and data in every other block",
         card_holding(card_holding(blank_card(), {{"D1", 40}, {"D2", 32}}), {{"BIG", 128}}, true),
         "source.bin"},
        {"a dump in the Nexus order", nexus_card_holding({{"N1", 2}, {"N2", 5}}), "source.dcm"},
        // The frames carry no copy mark: the card writes the file unprotected.
        {"a copy-protected file", with_protected_file(card_holding(blank_card(), {{"A", 1}})),
         "source.bin"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        store(c.source, dir.file(c.source_name));
        store(blank_card(), dir.file("card.bin"));
        const run_result run =
            send_emu(dir, {"--card", "card.bin"}, {"--card", c.source_name, "--all"}, 120);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<card_file> sent = sitting_order(c.source);
        EXPECT_NE(run.err.find("vmurx-send: all " + std::to_string(sent.size()) +
                               " files are on the card\n"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
        for (const card_file& file : sent) {
            const std::string warning = "vmurx-send: warning: " + std::string(c.source_name) +
                                        ":#" + std::to_string(file.slot) +
                                        ": copy-protected on the image; the card takes it "
                                        "unprotected\n";
            EXPECT_EQ(run.err.find(warning) != std::string::npos, file.protection != 0x00);
        }

        // Where the card's rule puts each, in the order sent: the library's
        // placement on a blank card, file after file.
        card_image expected = blank_card();
        const card_layout expected_layout = layout_of(expected);
        const card_image target = loaded(dir.file("card.bin"));
        const std::vector<card_file> arrived = card_files(target, layout_of(target));
        ASSERT_EQ(arrived.size(), sent.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            SCOPED_TRACE(card_file_name(sent[i]));
            const bool game = sent[i].type == TYPE_GAME;
            const std::vector<std::uint16_t> blocks =
                card_choose_blocks(expected, expected_layout, game, sent[i].blocks);
            ASSERT_FALSE(blocks.empty());
            bytes content;
            card_file file;
            std::string error;
            ASSERT_TRUE(card_take_file(dir.file(c.source_name), "#" + std::to_string(sent[i].slot),
                                       file, content, error))
                << error;
            card_write_chain(expected, expected_layout, blocks, content);
            card_file placed = sent[i];
            placed.slot = i;
            placed.first_block = blocks.front();
            placed.protection = 0x00;
            card_put_entry(expected, expected_layout, placed);

            EXPECT_EQ(arrived[i].slot, i);
            EXPECT_EQ(arrived[i].name, sent[i].name);
            EXPECT_EQ(arrived[i].type, sent[i].type);
            EXPECT_EQ(arrived[i].first_block, blocks.front());
            EXPECT_EQ(arrived[i].blocks, sent[i].blocks);
            EXPECT_EQ(arrived[i].stamp, sent[i].stamp);
            EXPECT_EQ(arrived[i].header_block, sent[i].header_block);
            bytes back;
            ASSERT_TRUE(
                card_take_file(dir.file("card.bin"), "#" + std::to_string(i), file, back, error))
                << error;
            EXPECT_EQ(back, content);
        }
        // The FAT and the directory as the rule leaves them, byte for byte.
        EXPECT_EQ(target.bytes, expected.bytes);
    }
}

TEST(SendAll, NamesEveryFileTheCardWouldRefuseBeforeAnythingMoves) {
    const struct {
        const char* rule;
        card_image target;
        std::vector<std::pair<std::string, std::size_t>> data;  // DCIs D0.DCI, D1.DCI, ...
        std::vector<std::size_t> games;                         // G0.DCI, ...
        std::vector<std::string> refusals;
    } cases[] = {
        {"a second game",
         blank_card(),
         {{"DATA", 1}},
         {2, 3},
         {"G1.DCI (G1, a game of 3 blocks): a second game: a card holds one, and G0 goes "
          "before it"}},
        {"a game onto a card that holds one",
         card_holding(blank_card(), {{"OLD", 4}}, true),
         {},
         {2, 1},
         {"G0.DCI (G0, a game of 2 blocks): a second game: a card holds one, and OLD is on it "
          "already",
          "G1.DCI (G1, a game of 1 block): a second game: a card holds one, and OLD is on it "
          "already"}},
        {"a data file's name twice, and one on the card",
         card_holding(blank_card(), {{"HERE", 1}}),
         {{"TWICE", 1}, {"TWICE", 2}, {"HERE", 1}},
         {},
         {"D1.DCI (TWICE, a data file of 2 blocks): a file of this name goes before it",
          "D2.DCI (HERE, a data file of 1 block): a file of this name is on the card already"}},
        {"more than the free space",
         card_holding(blank_card(), {{"HALF", 100}}),
         {{"FITS", 60}, {"TOO", 41}, {"LAST", 40}},
         {},
         {"D1.DCI (TOO, a data file of 41 blocks): 41 blocks are needed, and the card would have "
          "40 free by then"}},
        {"a game its blocks from 0 are not free for",
         card_holding(blank_card(), {{"LOW", 195}}),
         {{"SMALL", 1}},
         {10},
         {"G0.DCI (G0, a game of 10 blocks): 10 blocks free from block 0 are needed, and the card "
          "would have 5 free by then, not all of them from block 0"}},
        {"more files than the 16 entries the card looks at",
         card_holding(blank_card(), one_block_files(14)),
         {{"X", 1}, {"Y", 1}, {"Z", 1}},
         {},
         {"D2.DCI (Z, a data file of 1 block): the card would have no free entry left among the "
          "first 16 of its directory, the only ones it looks at when it receives a file"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        store(c.target, dir.file("card.bin"));
        const std::string before = read_file(dir.file("card.bin"));
        std::vector<std::string> words{"-q"};
        for (std::size_t i = 0; i < c.data.size(); ++i) {
            const std::string name = "D" + std::to_string(i) + ".DCI";
            write_file(dir.file(name), as_string(make_dci(content_of(c.data[i].second, 1), 0x33,
                                                          c.data[i].first, MONDAY_2002)));
            words.push_back(name);
        }
        for (std::size_t i = 0; i < c.games.size(); ++i) {
            const std::string name = "G" + std::to_string(i);
            write_file(dir.file(name + ".DCI"),
                       as_string(make_dci(content_of(c.games[i], 2), 0xCC, name, MONDAY_2002)));
            words.push_back(name + ".DCI");
        }
        const run_result run = send_emu(dir, {"--card", "card.bin"}, words);
        EXPECT_EQ(run.status, 1);
        std::string expected = std::string("vmurx-send: the card would refuse ") +
                               (c.refusals.size() == 1 ? "this file" : "these files") + ":\n";
        for (const std::string& line : c.refusals)
            expected += "vmurx-send:   " + line + "\n";
        expected +=
            "vmurx-send: nothing was sent: leave those files out, or make room on the card first\n";
        EXPECT_EQ(run.err, expected);
        EXPECT_EQ(read_file(dir.file("card.bin")), before);
    }

    // A real card is unknown: its limits are a blank card's at best. The
    // game goes first, wherever it was given.
    temp_dir dir;
    send_command_line cl;
    for (const char* name : {"D0", "G0", "G1"}) {
        write_file(
            dir.file(std::string(name) + ".DCI"),
            as_string(make_dci(content_of(1, 2), name[0] == 'G' ? 0xCC : 0x33, name, MONDAY_2002)));
        cl.files.push_back(dir.file(std::string(name) + ".DCI"));
    }
    std::vector<send_item> items;
    std::vector<std::string> warnings;
    std::string error;
    ASSERT_TRUE(send_load_items(cl, items, warnings, error)) << error;
    EXPECT_EQ(send_plan(items, nullptr),
              std::vector<std::string>{dir.file("G1.DCI") +
                                       " (G1, a game of 1 block): a second game: a card holds "
                                       "one, and G0 goes before it"});
    ASSERT_EQ(items.size(), 3U);
    EXPECT_EQ(send_name_text(items[0]), "G0");
    EXPECT_EQ(send_name_text(items[2]), "D0");
}

TEST(SendAll, AFileThatFailsEndsTheSittingWithTheFilesBeforeItOnTheCard) {
    // Each one-block file takes 24 answers: the card stops answering in the
    // second's first block. The first stays on the card, the image sound.
    temp_dir dir;
    store(card_holding(blank_card(), {{"A", 1}, {"B", 1}, {"C", 1}}), dir.file("source.bin"));
    store(blank_card(), dir.file("card.bin"));
    const run_result run = send_emu(dir, {"--card", "card.bin", "--fault", "stall=30"},
                                    {"-q", "--card", "source.bin", "--all"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(
        run.err.starts_with("vmurx-send: the card stopped answering during block 1; the "
                            "card keeps its files as they were\n"
                            "vmurx-send: the sitting ends at B; sent before it: A; not sent: C\n"))
        << run.err;
    EXPECT_EQ(card_tool(dir, {"check", "card.bin"}).out, "card.bin: OK\n");
    const card_image target = loaded(dir.file("card.bin"));
    const std::vector<card_file> files = card_files(target, layout_of(target));
    ASSERT_EQ(files.size(), 1U);
    EXPECT_EQ(card_file_name(files[0]), "A");
}
