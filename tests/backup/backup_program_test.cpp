// vmurx-backup-emu from outside: the person at the modelled card copies
// every file of a card image built here, and vmurx-backup stores them. Every
// file that arrives comes out byte for byte with its entry as the card sent
// it, placed where the card's own rule places it; a copy-protected file is
// passed over; a refusal and a fault at any frame leave the image or folder
// as it was, byte for byte.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "card/card_check.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card/card_place.h"
#include "run_program.h"
#include "save/containers.h"
#include "save_files.h"

namespace {

const save_stamp STAMP{2002, 3, 4, 5, 6, 7};

bytes content_of(std::size_t blocks, unsigned seed) {
    bytes content(blocks * 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 31 + seed * 7 + i / 509);
    return content;
}

struct source_file {
    std::string name;
    std::size_t blocks;
    bool game = false;
    bool protect = false;
};

// A blank card with the files added in order, each stamped a second apart.
card_image card_of(const std::vector<source_file>& files) {
    card_image card = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
    unsigned seed = 1;
    for (const source_file& f : files) {
        save_stamp stamp = STAMP;
        stamp.second = static_cast<int>(seed);
        const card_new_file file{f.name, f.game, f.protect, stamp, content_of(f.blocks, seed++)};
        std::size_t slot = 0;
        std::string reason;
        EXPECT_TRUE(card_add(card, file, slot, reason)) << f.name << ": " << reason;
    }
    return card;
}

void store(const card_image& card, const std::string& path) {
    file_error error;
    ASSERT_TRUE(card_store(path, card, true, error)) << error.reason;
}

card_image load(const std::string& path) {
    card_image card;
    file_error error;
    EXPECT_TRUE(card_load(path, card, error)) << path << ": " << error.reason;
    return card;
}

card_layout layout_of(const card_image& card) {
    card_layout layout;
    std::string reason;
    EXPECT_TRUE(card_read_layout(card, layout, reason)) << reason;
    return layout;
}

// vmurx-backup-emu with the card options, then "--" and vmurx-backup's.
run_result backup_emu(const temp_dir& dir, std::vector<std::string> card,
                      const std::vector<std::string>& tool) {
    card.insert(card.begin(), VMURX_BACKUP_EMU_PATH);
    card.emplace_back("--");
    card.insert(card.end(), tool.begin(), tool.end());
    return run_program(card, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {"VMURX_DELAY_US"}});
}

// Every file of a folder, by name, with its bytes.
std::map<std::string, std::string> folder(const std::string& path) {
    std::map<std::string, std::string> files;
    DIR* dir = opendir(path.c_str());
    EXPECT_NE(dir, nullptr) << path;
    if (dir == nullptr)
        return files;
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            files[name] = read_file(path + "/" + name);
    }
    closedir(dir);
    return files;
}

}  // namespace

TEST(BackupProgram, EveryCopyableFileArrivesWholeWhereTheCardsRulePutsIt) {
    const struct {
        const char* card;
        std::vector<source_file> files;
    } cases[] = {
        {"one block of data", {{"ONE", 1}}},
        {"a full card in one file", {{"WHOLE", 200}}},
        {"a game and data files", {{"GAME", 12, true}, {"SAVE_A", 3}, {"SAVE_B", 1}}},
        {"a copy-protected file among others",
         {{"FIRST", 2}, {"LOCKED", 4, false, true}, {"LAST", 5}}},
        {"as many files as blocks fit, a game too",
         {{"G", 100, true}, {"D1", 40}, {"D2", 30}, {"D3", 20}, {"D4", 9}, {"D5", 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.card);
        temp_dir dir;
        const card_image source = card_of(c.files);
        store(source, dir.file("source.bin"));
        const run_result run = backup_emu(dir, {"--card", "source.bin"}, {"--card", "new.bin"});
        bool any_protected = false;
        for (const source_file& f : c.files)
            any_protected = any_protected || f.protect;
        EXPECT_EQ(run.status, any_protected ? 1 : 0) << run.err;

        // What the card's rule makes of the copyable files, one after the
        // other, on a blank card.
        const card_image made = load(dir.file("new.bin"));
        const card_layout made_layout = layout_of(made);
        const card_layout source_layout = layout_of(source);
        card_image expected = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
        const card_layout expected_layout = layout_of(expected);
        std::size_t slot = 0;
        for (const card_file& entry : card_files(source, source_layout)) {
            SCOPED_TRACE(card_file_name(entry));
            const bool copyable = entry.protection != CARD_PROTECTED;
            std::size_t found = 0;
            std::string reason;
            const bool there =
                card_find_entry(made, made_layout, card_file_name(entry), found, reason);
            ASSERT_EQ(there, copyable) << run.err;
            if (!copyable) {
                EXPECT_NE(
                    run.err.find(card_file_name(entry) + ": the card shows \"Unable to copy\""),
                    std::string::npos)
                    << run.err;
                continue;
            }
            const std::vector<std::uint16_t> blocks = card_choose_blocks(
                expected, expected_layout, entry.type == TYPE_GAME, entry.blocks);
            const bytes content = card_chain_bytes(
                source, card_follow_chain(source, source_layout, entry.first_block, entry.blocks));
            card_write_chain(expected, expected_layout, blocks, content);
            card_file placed = entry;
            placed.slot = slot;
            placed.first_block = blocks.front();
            card_put_entry(expected, expected_layout, placed);

            const card_file got = card_read_entry(made, made_layout, found);
            EXPECT_EQ(got.slot, slot++);
            EXPECT_EQ(got.type, entry.type);
            EXPECT_EQ(got.protection, 0x00);
            EXPECT_EQ(card_entry_tail(got), card_entry_tail(entry));
            const card_chain chain =
                card_follow_chain(made, made_layout, got.first_block, got.blocks);
            EXPECT_EQ(chain.blocks, blocks);
            EXPECT_EQ(card_chain_bytes(made, chain), content);
        }
        // Block for block the card the rule makes, but for the root's own
        // stamp of when it was formatted.
        const card_report report = card_check(made);
        EXPECT_TRUE(report.errors.empty()) << report.errors.front();
        for (std::size_t block = 0; block < 256; ++block) {
            if (block == CARD_ROOT_BLOCK)
                continue;
            const auto a = card_block(made, block);
            const auto b = card_block(expected, block);
            ASSERT_TRUE(std::equal(a.begin(), a.end(), b.begin())) << "block " << block;
        }
    }
}

TEST(BackupProgram, AFolderGetsWhatVmurxCardExtractWritesOfTheSameFiles) {
    for (const char* form : {"dci", "vms", "raw"}) {
        SCOPED_TRACE(form);
        temp_dir dir;
        store(card_of({{"GAME", 3, true}, {"SAVE_A", 2}, {"A LONG NAME", 1}}),
              dir.file("source.bin"));
        ASSERT_EQ(mkdir(dir.file("backup").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(dir.file("extract").c_str(), 0755), 0);
        const run_result run =
            backup_emu(dir, {"--card", "source.bin"}, {"-o", "backup", "--as", form});
        ASSERT_EQ(run.status, 0) << run.err;
        const run_result extract =
            run_program({VMURX_CARD_PATH, "extract", "-o", "extract", "--as", form, "source.bin"},
                        {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
        ASSERT_EQ(extract.status, 0) << extract.err;
        const auto expected = folder(dir.file("extract"));
        EXPECT_EQ(expected.size(), std::string(form) == "vms" ? 6U : 3U);
        EXPECT_EQ(folder(dir.file("backup")), expected);
    }
}

// Whatever goes wrong with a file, the target keeps what it held: a card
// image byte for byte, a folder as it was. (Ctrl-C: backup_interrupt_test.)
TEST(BackupProgram, ARefusalOrAFaultAtAnyFrameLeavesTheTargetAsItWas) {
    // SAVE of 2 blocks: start, name, 8 data and 8 flash frames, directory,
    // last flash: 20 frames.
    const struct {
        std::string what;
        std::vector<std::string> card;
        std::vector<source_file> target;  // the image's files before; none: a folder
        const char* says;
        std::vector<source_file> source = {{"SAVE", 2}};
    } cases[] = {
        {"its name on the image", {}, {{"SAVE", 1}}, "the card shows \"Same file exists\""},
        {"its name in the folder", {}, {}, "the card shows \"Same file exists\""},
        {"an image without room", {}, {{"BIG", 199}}, "the card shows \"Not enough free memory\""},
        {"a second game",
         {},
         {{"GAME", 1, true}},
         "\"Not enough free memory\"",
         {{"GAME2", 2, true}}},
        {"no ready signal", {"--fault", "never-ready"}, {{"OTHER", 1}}, "no ready signal"},
        {"D3 not reaching the card", {"--fault", "no-peer"}, {}, "no ready signal"},
        {"a stall in the middle", {"--fault", "stall=300"}, {{"OTHER", 1}}, "timeout"},
    };
    std::vector<std::remove_cvref_t<decltype(cases[0])>> all(std::begin(cases), std::end(cases));
    for (int frame = 1; frame <= 20; ++frame) {
        const std::string k = std::to_string(frame);
        all.push_back({"a wrong code at frame " + k,
                       {"--fault", "wrong-code=" + k},
                       {{"O", 1}},
                       "the card shows \"Copy failed\""});
        all.push_back({"a bad trailer at frame " + k,
                       {"--fault", "bad-trailer=" + k},
                       {},
                       "the card shows \"Copy failed\""});
        if (frame < 20) {
            all.push_back(
                {"nothing after frame " + k, {"--fault", "stop=" + k}, {{"O", 1}}, "timeout"});
        }
    }
    for (const auto& c : all) {
        SCOPED_TRACE(c.what);
        temp_dir dir;
        std::vector<std::string> card{"--card", "source.bin"};
        card.insert(card.end(), c.card.begin(), c.card.end());
        store(card_of(c.source), dir.file("source.bin"));
        const bool image = !c.target.empty();
        std::vector<std::string> tool;
        std::string before;
        std::map<std::string, std::string> folder_before;
        if (image) {
            store(card_of(c.target), dir.file("target.bin"));
            before = read_file(dir.file("target.bin"));
            tool = {"--card", "target.bin"};
        } else {
            ASSERT_EQ(mkdir(dir.file("out").c_str(), 0755), 0);
            if (c.what == "its name in the folder")
                write_file(dir.file("out/SAVE.DCI"), "mine");
            folder_before = folder(dir.file("out"));
            tool = {"-o", "out"};
        }
        const run_result run = backup_emu(dir, card, tool);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("0 files stored"), std::string::npos) << run.out;
        if (image)
            EXPECT_EQ(read_file(dir.file("target.bin")), before);
        else
            EXPECT_EQ(folder(dir.file("out")), folder_before);
    }
}

// A target that cannot be looked at is told before the first file comes for
// it, not taken for one to be made.
TEST(BackupProgram, ATargetThatCannotBeLookedAtEndsTheBackupBeforeAnyFile) {
    temp_dir dir;
    store(card_of({{"SAVE", 1}}), dir.file("source.bin"));
    const run_result run =
        backup_emu(dir, {"--card", "source.bin"}, {"--card", "source.bin/target.bin"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("source.bin/target.bin: Not a directory; the backup ends here\n"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "0 files stored; 1 not\n");
}

// The figure of a whole card in counting mode: 200 blocks at the card's
// pace, whatever this machine's.
TEST(BackupProgram, AFullCardTakesTheCardsFourSecondsABlock) {
    temp_dir dir;
    store(card_of({{"GAME", 128, true}, {"D1", 50}, {"D2", 20}, {"D3", 2}}),
          dir.file("source.bin"));
    const auto began = std::chrono::steady_clock::now();
    const run_result run = backup_emu(dir, {"--card", "source.bin"}, {"--card", "new.bin"});
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_EQ(run.status, 0) << run.err;
    // "4 files stored (200 blocks in 13 min 24 s): ..."
    const std::size_t in = run.out.find("(200 blocks in ");
    ASSERT_NE(in, std::string::npos) << run.out;
    int minutes = 0;
    int seconds = 0;
    ASSERT_EQ(std::sscanf(run.out.c_str() + in, "(200 blocks in %d min %d s", &minutes, &seconds),
              2)
        << run.out;
    const int card_s = 60 * minutes + seconds;
    EXPECT_GE(card_s, 200 * 4);
    EXPECT_LE(card_s, 200 * 4 + 4 * 5);  // a few seconds a file for its own frames
    std::printf("a full card backed up: %d s of the card's time in %.1f s\n", card_s, wall);
}

// Through the card's own system ROM (VMURX_BIOS names one), the person
// choosing each file in the ROM's file manager: the image that arrives is
// block for block the one the model of Copy gives, but for the root's stamp
// of when it was made.
TEST(BackupProgram, TheSystemRomsCopyGivesTheImageTheModelGives) {
    if (std::getenv("VMURX_BIOS") == nullptr)
        GTEST_SKIP() << "VMURX_BIOS names no system ROM";
    temp_dir dir;
    store(card_of({{"GAME", 3, true}, {"SAVE_A", 2}, {"LOCKED", 1, false, true}, {"SAVE_B", 1}}),
          dir.file("source.bin"));
    const run_result rom =
        backup_emu(dir, {"--bios=", "--card", "source.bin"}, {"--card", "rom.bin"});
    EXPECT_EQ(rom.status, 1) << rom.err;  // LOCKED is passed over
    EXPECT_NE(rom.out.find("3 files stored (6 blocks in "), std::string::npos) << rom.out;
    EXPECT_NE(rom.err.find("LOCKED: the card shows \"Unable to copy\""), std::string::npos);
    const run_result model = backup_emu(dir, {"--card", "source.bin"}, {"--card", "model.bin"});
    EXPECT_EQ(model.status, 1) << model.err;
    const card_image a = load(dir.file("rom.bin"));
    const card_image b = load(dir.file("model.bin"));
    for (std::size_t block = 0; block < CARD_ROOT_BLOCK; ++block) {
        const auto x = card_block(a, block);
        const auto y = card_block(b, block);
        ASSERT_TRUE(std::equal(x.begin(), x.end(), y.begin())) << "block " << block;
    }
}

// The link's own fragments (the port's open and close lines, the ready
// handshake, the communications log) go to --log alone, a file per run
// that never replaces one; without it nowhere.
TEST(BackupProgram, TheLinksLogGoesToLogAloneAndNeverOverAFile) {
    temp_dir dir;
    store(card_of({{"SAVE_A", 1}, {"SAVE_B", 2}}), dir.file("source.bin"));
    const struct {
        const char* what;
        bool log_there;
        int status;
    } cases[] = {{"a new log", false, 0}, {"a log that is there", true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(dir.file("new.bin").c_str());
        std::remove(dir.file("log.txt").c_str());
        if (c.log_there)
            write_file(dir.file("log.txt"), "mine");
        const run_result run =
            backup_emu(dir, {"--card", "source.bin"}, {"--card", "new.bin", "--log", "log.txt"});
        EXPECT_EQ(run.status, c.status) << run.err;
        for (const std::string& stream : {run.out, run.err}) {
            EXPECT_EQ(stream.find("Communications log"), std::string::npos) << stream;
            EXPECT_EQ(stream.find("firstread-"), std::string::npos) << stream;
        }
        const std::string log = read_file(dir.file("log.txt"));
        if (c.log_there) {
            EXPECT_EQ(log, "mine");
            EXPECT_EQ(file_state(dir.file("new.bin")), "absent");
            continue;
        }
        // A file's log per file, each from the port's opening to its close.
        const std::string one_file =
            "open \"LPT1\" @ $378\nfirstread-hsk,close\n\nCommunications "
            "log: R:11 S:e0 R:02 R:33 R:0";
        const std::size_t first = log.find(one_file);
        ASSERT_EQ(first, 0U) << log.substr(0, 200);
        EXPECT_NE(log.find(one_file, first + 1), std::string::npos);
        EXPECT_NE(log.find("R:ff S:0c S:2ff"), std::string::npos);
    }
    const run_result quiet = backup_emu(dir, {"--card", "source.bin"}, {"-o", "."});
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.out.find("Communications log"), std::string::npos) << quiet.out;
}
