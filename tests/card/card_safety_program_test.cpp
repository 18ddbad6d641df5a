// A user's card image is never lost, as the programs are run: a changed byte
// in the root that once crashed every program that reads a card, a second
// writer, a read-only or hard-linked card, an output that is an input by
// another name, and the refusals all leaving every file byte for byte as it
// was; a dry run of repair reads such a card all the same.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include <gtest/gtest.h>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "card_program.h"
#include "files/atomic_write.h"

namespace {

card_image blank_image() {
    return card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, {2002, 3, 4, 5, 6, 7}, card_order::raw);
}

run_result run_argv(const temp_dir& dir, std::vector<std::string> argv) {
    return run_program(argv, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}, .timeout_s = 20});
}

// A dry run of repair only reads the card: what keeps a change out (the
// lock, a read-only card, other names) does not keep it from reading.
void expect_dry_run_reads(const temp_dir& dir, const char* what) {
    SCOPED_TRACE(what);
    const run_result r = run(dir, "repair --dry-run c.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "c.bin: nothing to repair\n");
    EXPECT_EQ(r.err, "");
}

// The root names its directory as 13 blocks down from block 1: read so, the
// list ran 1, 0, 65535, ... and every program that reads the card crashed.
TEST(CrashImage, EveryProgramThatReadsTheCardRefusesIt) {
    temp_dir dir;
    card_with(dir, "r.bin", {{"SAVE", make_save({})}});
    bytes image = read_bytes(dir, "r.bin");
    image[255 * 512 + 0x4A] = 1;
    image[255 * 512 + 0x4B] = 0;
    write_bytes(dir, "r.bin", image);
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    const std::string why = "the directory (13 blocks down from block 1) lies outside the card";
    const struct {
        std::vector<std::string> argv;
        int status;
    } runs[] = {
        {{CARD, "list", "r.bin"}, 2},
        {{CARD, "check", "r.bin"}, 1},
        {{CARD, "extract", "r.bin"}, 2},
        {{CARD, "remove", "r.bin", "SAVE"}, 2},
        {{CARD, "defrag", "r.bin"}, 2},
        {{CARD, "repair", "r.bin"}, 2},
        {{CARD, "add", "r.bin", "A.dci"}, 2},
        {{VMURX_EMU_PATH, "--card", "r.bin", "--entry", "SAVE"}, 2},
        {{VMURX_EMU_PATH, "--cpu", "--card", "r.bin"}, 2},
        {{VMURX_PROBE_EMU_PATH, "--cpu", "--card", "r.bin"}, 2},
        {{VMURX_VMU_PATH, "run", "--card", "r.bin", "SAVE"}, 1},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.argv[0] + " " + r.argv[1]);
        const run_result result = run_argv(dir, r.argv);
        EXPECT_EQ(result.status, r.status) << result.err;
        EXPECT_NE((result.out + result.err).find(why), std::string::npos) << result.err;
        EXPECT_EQ(read_bytes(dir, "r.bin"), image);
    }
}

// Two writers at once, interleaved at the moment before the first one's new
// card takes the name: a second vmurx-card is refused by the lock, and an
// emulator writing the card in place keeps its write. Every file of the
// card stays, and the refusals say so.
TEST(TwoWriters, TheSecondIsRefusedAndAnInPlaceWriteIsKept) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"FIRST", make_save({})}});
    write_bytes(dir, "SECOND.dci", make_dci(make_save({}), 0x33, "SECOND", STAMP_2002));
    write_bytes(dir, "THIRD.dci", make_dci(make_save({}), 0x33, "THIRD", STAMP_2002));
    const bytes before = read_bytes(dir, "c.bin");
    card_held held;
    file_error error;
    ASSERT_TRUE(card_hold(dir.file("c.bin"), false, held, error)) << error.reason;
    run_result r = run(dir, "add c.bin SECOND.dci");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: another program is changing it (it holds its lock); nothing "
              "was written\n");
    EXPECT_EQ(read_bytes(dir, "c.bin"), before);
    expect_dry_run_reads(dir, "a card held by another program");
    // An emulator saving into the card while this write is under way.
    bytes emulator = before;
    emulator[100] ^= 0xFF;
    atomic_write_test_hooks().before_placing = [&] { write_bytes(dir, "c.bin", emulator); };
    card_image changed = held.card;
    std::size_t slot = 0;
    std::string reason;
    card_add(changed, {"OURS", false, false, {2002, 3, 4, 5, 6, 7}, make_save({})}, slot, reason);
    EXPECT_FALSE(card_store_held(held, changed, error));
    atomic_write_test_hooks() = {};
    EXPECT_EQ(error.cause, file_failure::changed);
    EXPECT_EQ(error.reason,
              "changed by another program while it was being edited; nothing was written");
    EXPECT_EQ(read_bytes(dir, "c.bin"), emulator);
    held = {};  // lets go of the lock: the next writer goes ahead
    r = run(dir, "add c.bin THIRD.dci");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(run(dir, "list c.bin").out.find("THIRD"), std::string::npos);
}

// Without renameat2's exchange, a new image that cannot take the card's
// name leaves the card as it was, and says so truly: no name is left
// without a card, and nothing is left beside it. One that took the name but
// does not read back as written says that it is in place.
TEST(Fallback, WhatBecameOfTheCardIsSaidTruly) {
    const struct {
        const char* rule;
        std::function<int(const char* from, const char* to)> rename;
        std::string reason;
        bool unchanged;
    } cases[] = {
        {"the rename fails",
         [](const char*, const char*) {
             errno = EIO;
             return -1;
         },
         "Input/output error; the card is unchanged", true},
        {"the name taken, then the card changed under it",
         [](const char* from, const char* to) {
             const int done = std::rename(from, to);
             std::ofstream(to, std::ios::binary | std::ios::trunc) << "garbled";
             return done;
         },
         "the card read back differs from what was written; the new image is in place", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        card_with(dir, "c.bin", {{"A", make_save({})}});
        const bytes before = read_bytes(dir, "c.bin");
        atomic_write_hooks& hooks = atomic_write_test_hooks();
        hooks.rename2 = [](const char*, const char*, unsigned) {
            errno = EINVAL;
            return -1;
        };
        hooks.rename = c.rename;
        card_held held;
        file_error error;
        ASSERT_TRUE(card_hold(dir.file("c.bin"), false, held, error)) << error.reason;
        EXPECT_FALSE(card_store_held(held, blank_image(), error));
        atomic_write_test_hooks() = {};
        EXPECT_EQ(error.reason, c.reason);
        EXPECT_EQ(read_bytes(dir, "c.bin") == before, c.unchanged);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()),
                  2);  // the card and A.dci
    }
}

TEST(Permissions, AReadOnlyOrHardLinkedCardIsOnlyChangedWithForce) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    const bytes blank = read_bytes(dir, "c.bin");
    chmod(dir.file("c.bin").c_str(), 0444);
    run_result r = run(dir, "add c.bin A.dci");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: read-only (mode 0444); nothing was written (use --force to "
              "change it all the same)\n");
    EXPECT_EQ(read_bytes(dir, "c.bin"), blank);
    expect_dry_run_reads(dir, "a read-only card");
    r = run(dir, "add --force c.bin A.dci");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stat_of(dir.file("c.bin")).st_mode & 07777, 0444u);

    const bytes one = read_bytes(dir, "c.bin");
    chmod(dir.file("c.bin").c_str(), 0644);
    ASSERT_EQ(link(dir.file("c.bin").c_str(), dir.file("other.bin").c_str()), 0);
    r = run(dir, "remove c.bin A");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: it has 2 names (hard links), and a new image would part this "
              "one from the others; nothing was written (use --force to change this name "
              "alone)\n");
    EXPECT_EQ(read_bytes(dir, "c.bin"), one);
    expect_dry_run_reads(dir, "a hard-linked card");
    r = run(dir, "remove --force c.bin A");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run(dir, "list c.bin").out.find(" A "), std::string::npos);
    EXPECT_EQ(read_bytes(dir, "other.bin"), one);
}

// An output that is one of the run's inputs, whatever the name that reaches
// it: refused, and the input byte for byte as it was.
TEST(Guards, NoProgramWritesOverAnInput) {
    temp_dir dir;
    std::filesystem::create_directory(dir.file("sub"));
    // A card whose entry is named like the card itself.
    card_with(dir, "vmu0.bin", {{"vmu0.bin", make_save({})}, {"LINK", make_save({})}});
    ASSERT_EQ(link(dir.file("vmu0.bin").c_str(), dir.file("LINK").c_str()), 0);
    write_bytes(dir, "pj.bin", make_save({}));
    write_file(dir.file("inc.s"), "    .byte 1\n");
    write_file(dir.file("src.s"), "    .include \"inc.s\"\n    .byte 2\n");
    const std::vector<std::string> inputs = {"vmu0.bin", "pj.bin", "inc.s", "src.s"};
    std::vector<std::string> before;
    for (const std::string& name : inputs)
        before.push_back(read_file(dir.file(name)));
    const std::string vmu = VMURX_VMU_PATH;
    const struct {
        std::vector<std::string> argv;
        std::string err;
    } runs[] = {
        {{CARD, "extract", "--force", "vmu0.bin", "vmu0.bin"},
         "vmurx-card: ./vmu0.bin: not replaced: it is vmu0.bin, an input of this run\n"},
        {{CARD, "extract", "--force", "-o", dir.path(), "./vmu0.bin", "#0"},
         "vmurx-card: " + dir.file("vmu0.bin") +
             ": not replaced: it is ./vmu0.bin, an input of this run\n"},
        {{CARD, "extract", "--force", "vmu0.bin", "LINK"},
         "vmurx-card: ./LINK: not replaced: it is vmu0.bin, an input of this run\n"},
        {{VMURX_SAVE_PATH, "icon", "--force", "pj.bin", "pj.bin"},
         "vmurx-save: pj.bin: not replaced: it is an input of this run\n"},
        {{VMURX_SAVE_PATH, "convert", "--force", "pj.bin", "./pj.bin"},
         "vmurx-save: ./pj.bin: not replaced: it is pj.bin, an input of this run\n"},
        {{vmu, "asm", "-o", "./src.s", "src.s"},
         "vmurx-vmu: ./src.s: not replaced: it is src.s, an input of this run\n"},
        {{vmu, "asm", "-o", "sub/../src.s", "src.s"},
         "vmurx-vmu: sub/../src.s: not replaced: it is src.s, an input of this run\n"},
        {{vmu, "asm", "-o", dir.file("src.s"), "src.s"},
         "vmurx-vmu: " + dir.file("src.s") + ": not replaced: it is src.s, an input of this run\n"},
        {{vmu, "asm", "-o", "inc.s", "src.s"},
         "vmurx-vmu: inc.s: not replaced: it is an input of this run\n"},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.argv[1] + " " + r.argv.back());
        const run_result result = run_argv(dir, r.argv);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, r.err);
        for (std::size_t i = 0; i < inputs.size(); ++i)
            EXPECT_EQ(read_file(dir.file(inputs[i])), before[i]) << inputs[i];
    }
}

// Entries A, A and A~2 with --force: the second A is not written as A~2,
// the real A~2's name, so no file of the run replaces another.
TEST(Extract, NamesChosenInTheRunNeverReplaceEachOther) {
    temp_dir dir;
    card_with(dir, "c.bin",
              {{"A", make_save({.payload = 100})},
               {"B", make_save({.payload = 700})},
               {"A~2", make_save({.payload = 1300})}});
    bytes image = read_bytes(dir, "c.bin");
    image[253 * 512 + 32 + 4] = 'A';  // B becomes a second A
    write_bytes(dir, "c.bin", image);
    write_file(dir.file("A~3"), "older");
    const run_result r = run(dir, "extract --force c.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "vmurx-card: c.bin: #1 A: a name met before in this run; written as A~4\n");
    EXPECT_EQ(read_bytes(dir, "A"), make_save({.payload = 100}));
    EXPECT_EQ(read_bytes(dir, "A~4"), make_save({.payload = 700}));
    EXPECT_EQ(read_bytes(dir, "A~2"), make_save({.payload = 1300}));
    EXPECT_EQ(read_file(dir.file("A~3")), "older");
}

// A folder that does not exist is said once, and nothing is written.
TEST(Extract, AMissingFolderIsSaidOnce) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"A", make_save({})}, {"B", make_save({})}});
    write_file(dir.file("plain"), "x");
    for (const std::string folder : {"none", "plain"}) {
        const run_result r = run(dir, "extract -o " + folder + " c.bin");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "vmurx-card: " + folder +
                             (folder == "none" ? ": No such file or directory" : ": not a folder") +
                             "; nothing was extracted\n");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              4);
}

}  // namespace
