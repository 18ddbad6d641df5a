// vmurx-card extract as a user runs it: the bytes as on the card or converted
// as vmurx-save converts them, never over an existing file unasked, twins
// named apart, and an entry that cannot be extracted said so while the
// others are.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "card_program.h"

namespace {

TEST(Extract, AsDciOrVmsWritesWhatVmurxSaveConvertWrites) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"SONIC", make_save({.payload = 700})}});
    mkdir(dir.file("raw").c_str(), 0755);
    mkdir(dir.file("conv").c_str(), 0755);
    ASSERT_EQ(run(dir, "extract -o raw c.bin").status, 0);
    ASSERT_EQ(run(dir, "extract --as dci c.bin SONIC").status, 0);
    ASSERT_EQ(run(dir, "extract --as vms c.bin #0").status, 0);
    // Converted from the raw file, whose name and times carry the entry's.
    for (const std::string out : {"SONIC.DCI", "SONIC.VMS"}) {
        const run_result r = run_program({VMURX_SAVE_PATH, "convert", "raw/SONIC", "conv/" + out},
                                         {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    for (const std::string name : {"SONIC.DCI", "SONIC.VMS", "SONIC.VMI"}) {
        EXPECT_EQ(read_bytes(dir, name), read_bytes(dir, "conv/" + name)) << name;
        EXPECT_FALSE(read_bytes(dir, name).empty()) << name;
    }
    EXPECT_EQ(stat_of(dir.file("SONIC.DCI")).st_mtime, STAMP_2002_UTC);
}

// A VMI names its .VMS in at most 8 bytes: the name is made from the card
// name as the console's copier makes one, unique in the run and the folder,
// and the note after the write says which.
TEST(Extract, MakesAVmsNameTheVmiCanHoldAndSaysWhichItUsed) {
    temp_dir dir;
    card_with(dir, "c.bin",
              {{"SONIC2___S01", make_save({})},
               {"SONIC2___S02", make_save({.payload = 600})},
               {"A.B+C", make_save({})},
               {"SHORT", make_save({})}});
    write_file(dir.file("SHORT.VMS"), "mine");
    run_result r = run(dir, "extract --as vms c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: #0 SONIC2___S01: a .VMS name has at most 8 letters, digits, "
              "'_' or '-'; written as SONIC2__.VMS\n"
              "vmurx-card: c.bin: #1 SONIC2___S02: a name met before in this run; written as "
              "SONIC2~2.VMS\n"
              "vmurx-card: c.bin: #2 A.B+C: a .VMS name has at most 8 letters, digits, '_' or "
              "'-'; written as A_B_C.VMS\n"
              "vmurx-card: ./SHORT.VMS: File exists (use --force to replace it)\n");
    EXPECT_EQ(read_file(dir.file("SHORT.VMS")), "mine");
    EXPECT_EQ(read_bytes(dir, "SONIC2~2.VMS"), make_save({.payload = 600}));
    // The VMI names its own .VMS, and keeps the whole card name.
    const bytes vmi = read_bytes(dir, "SONIC2~2.VMI");
    EXPECT_EQ(std::string(vmi.begin() + 0x50, vmi.begin() + 0x58), "SONIC2~2");
    EXPECT_EQ(std::string(vmi.begin() + 0x58, vmi.begin() + 0x64), "SONIC2___S02");
    // Again: the made names are taken now, so others are made; a name of
    // its own is still only replaced with --force.
    r = run(dir, "extract --as vms --force c.bin #0 SHORT");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: #0 SONIC2___S01: SONIC2__.VMS is in the folder already; "
              "written as SONIC2~3.VMS\n");
    EXPECT_EQ(read_bytes(dir, "SHORT.VMS"), make_save({}));
}

TEST(Extract, AnEntryOfNoKnownTypeThatHoldsNoSaveIsLeftAsItIs) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"ZEROS", bytes(512, 0)}});
    bytes image = read_bytes(dir, "c.bin");
    image[253 * 512] = 0x77;  // the first directory entry's type
    write_bytes(dir, "c.bin", image);
    const run_result r = run(dir, "extract --as dci c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: #0 ZEROS: not a save, so its type is unknown (give --type); "
              "not extracted\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("ZEROS.DCI")));
}

TEST(Extract, NeverOverwritesAndNamesTwinsApart) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"TWIN", make_save({})}, {"OTHER", make_save({})}});
    // A second entry of the same name, as real cards carry.
    bytes image = read_bytes(dir, "c.bin");
    std::copy_n("TWIN\0", 5, image.begin() + 253 * 512 + 32 + 4);
    write_bytes(dir, "c.bin", image);
    write_file(dir.file("TWIN"), "mine");
    run_result r = run(dir, "extract c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_file(dir.file("TWIN")), "mine");
    EXPECT_EQ(r.err,
              "vmurx-card: ./TWIN: File exists (use --force to replace it)\n"
              "vmurx-card: c.bin: #1 TWIN: a name met before in this run; written as TWIN~2\n");
    EXPECT_EQ(read_bytes(dir, "TWIN~2"), make_save({}));
    r = run(dir, "extract --force c.bin #0");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_bytes(dir, "TWIN"), make_save({}));
    // A name that is on two entries is refused as an ENTRY, with their slots.
    r = run(dir, "remove c.bin TWIN");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: TWIN: several files have this name, give one of their "
              "slots: #0 #1; the card is unchanged\n");
    EXPECT_EQ(read_bytes(dir, "c.bin"), image);
    // new never replaces a file.
    r = run(dir, "new c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read_bytes(dir, "c.bin"), image);
}

TEST(Extract, RefusesADamagedChainAndStillExtractsTheOthers) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"GOOD", make_save({})}, {"BAD", make_save({})}});
    bytes image = read_bytes(dir, "c.bin");
    image[254 * 512 + 2 * 197] = 0x00;  // BAD's first block points at block 0
    image[254 * 512 + 2 * 197 + 1] = 0x00;
    write_bytes(dir, "c.bin", image);
    const run_result r = run(dir, "extract c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.bin: #1 BAD: the chain enters the free block 0; not extracted\n");
    EXPECT_EQ(read_bytes(dir, "GOOD"), make_save({}));
}

}  // namespace
