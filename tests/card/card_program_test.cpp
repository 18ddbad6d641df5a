// vmurx-card run as a user runs it, on cards it formats itself and saves built
// from the layout: round trips through raw and Nexus cards, the listing, the
// check's lines and statuses, and that no failure touches a card or a file
// (extract has a file of its own, card_extract_test.cpp).
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "card_program.h"

namespace {

TEST(RoundTrip, AddThenExtractGivesTheBytesAndStampThroughRawAndNexusCards) {
    for (const std::string card : {"vmu0.bin", "card.dcm"}) {
        temp_dir dir;
        const bytes content = make_save({.payload = 2000});
        card_with(dir, card, {{"SONIC", content}});
        mkdir(dir.file("out").c_str(), 0755);
        const run_result r = run(dir, "extract -o out " + card);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(stat_of(dir.file("out/SONIC")).st_atime, STAMP_2002_UTC);
        EXPECT_EQ(stat_of(dir.file("out/SONIC")).st_mtime, STAMP_2002_UTC);
        EXPECT_EQ(read_bytes(dir, "out/SONIC"), content) << card;
        // The Nexus card is every four bytes reversed: its root's mark reads
        // the same, its FAT block's field not.
        const bytes image = read_bytes(dir, card);
        ASSERT_EQ(image.size(), 131072u);
        EXPECT_EQ(image[255 * 512 + (card == "card.dcm" ? 0x45 : 0x46)], 0xFE) << card;
    }
}

TEST(RoundTrip, StampsAreLocalStandardTimeAlsoInSummer) {
    temp_dir dir;
    const std::string zone = "CET-1CEST,M3.5.0,M10.5.0/3";
    const std::uint8_t summer[8] = {0x20, 0x20, 0x07, 0x01, 0x12, 0x00, 0x00, 0x02};
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", summer));
    ASSERT_EQ(run(dir, "new c.bin").status, 0);
    ASSERT_EQ(run(dir, "add c.bin A.dci", zone).status, 0);
    ASSERT_EQ(run(dir, "extract c.bin A", zone).status, 0);
    // 2020-07-01 12:00 standard time (UTC+1) is 11:00 UTC.
    EXPECT_EQ(stat_of(dir.file("A")).st_mtime, 1593601200);
}

TEST(List, ShowsTheFilesAndTheFreeBlocks) {
    temp_dir dir;
    card_with(dir, "c.bin", {{"FIRST", make_save({})}, {"SECOND", make_save({.payload = 1000})}});
    run_result r = run(dir, "list c.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "SLOT  TYPE  NAME          BLOCKS  FIRST  STAMP                DESCRIPTION\n"
              "   0  data  FIRST              2    199  2002-03-04T05:06:07  TEST SAVE\n"
              "   1  data  SECOND             4    197  2002-03-04T05:06:07  TEST SAVE\n"
              "194 of 200 user blocks free\n");
    r = run(dir, "list --json c.bin");
    EXPECT_EQ(r.status, 0);
    for (const std::string field : {
             "{\n  \"card\": \"c.bin\",\n  \"format\": \"raw\",\n  \"user_blocks\": 200,\n"
             "  \"free_blocks\": 194,\n  \"icon_shape\": 0,\n  \"color\": \"ffffffff\",\n",
             "  \"files\": [\n    {\n      \"slot\": 0,\n      \"name\": \"FIRST\",\n"
             "      \"type\": \"data\",\n      \"first_block\": 199,\n      \"blocks\": 2,\n"
             "      \"header_block\": 0,\n      \"protected\": false,\n"
             "      \"stamp\": \"2002-03-04T05:06:07\",\n      \"description\": \"TEST SAVE\",\n"
             "      \"verdict\": \"intact\"\n    },\n",
         }) {
        EXPECT_NE(r.out.find(field), std::string::npos) << field << "\n" << r.out;
    }
    // A root whose directory lies over the files' data: what list reads
    // there is shown and not passed off as the card.
    bytes lying = read_bytes(dir, "c.bin");
    lying[255 * 512 + 0x4A] = 199;
    write_bytes(dir, "c.bin", lying);
    r = run(dir, "list c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find(
            "vmurx-card: c.bin: the directory the root names (fields 0x4A and 0x4C: 13 blocks from "
            "block 199) disagrees with the system chain"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("; the list is read through it (vmurx-card check tells more)\n"),
              std::string::npos)
        << r.err;
}

TEST(Check, PrintsALinePerFindingAndTheWorstStatus) {
    temp_dir dir;
    card_with(dir, "good.bin", {{"A", make_save({})}});
    bytes broken = read_bytes(dir, "good.bin");
    broken[254 * 512 + 2 * 198] = 0xFC;  // A's second block: free
    broken[254 * 512 + 2 * 198 + 1] = 0xFF;
    write_bytes(dir, "broken.bin", broken);
    write_bytes(dir, "short.bin", bytes(1000, 0));
    const struct {
        std::string cards, out, err;
        int status;
    } cases[] = {
        {"good.bin", "good.bin: OK\n", "", 0},
        {"good.bin broken.bin",
         "good.bin: OK\nbroken.bin: error: #0 A: the chain enters the free block 198\n"
         "broken.bin: 1 error, 0 warnings\n",
         "", 1},
        {"short.bin good.bin", "good.bin: OK\n",
         "vmurx-card: short.bin: not a card image: 1000 bytes, not 131072\n", 2},
    };
    for (const auto& c : cases) {
        const run_result r = run(dir, "check " + c.cards);
        EXPECT_EQ(r.out, c.out) << c.cards;
        EXPECT_EQ(r.err, c.err) << c.cards;
        EXPECT_EQ(r.status, c.status) << c.cards;
    }
    const run_result r = run(dir, "check --json good.bin broken.bin");
    EXPECT_EQ(r.out,
              "[\n  {\n    \"card\": \"good.bin\",\n    \"errors\": [],\n    \"warnings\": [],\n"
              "    \"ok\": true,\n    \"repairable\": false\n  },\n  {\n"
              "    \"card\": \"broken.bin\",\n    \"errors\": [\n"
              "      \"#0 A: the chain enters the free block 198\"\n    ],\n"
              "    \"warnings\": [],\n    \"ok\": false,\n    \"repairable\": false\n  }\n]\n");
    EXPECT_EQ(r.status, 1);
    // A broken card is refused by all but check and remove; remove mends it.
    EXPECT_EQ(run(dir, "add broken.bin A.dci").status, 1);
    EXPECT_EQ(run(dir, "defrag broken.bin").status, 1);
    EXPECT_EQ(read_bytes(dir, "broken.bin"), broken);
    EXPECT_EQ(run(dir, "remove broken.bin A").status, 0);
    EXPECT_EQ(run(dir, "check broken.bin").out, "broken.bin: OK\n");
}

TEST(Refusals, ACardThatIsNoCardIsStatusTwoAndNothingIsWritten) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    bytes unformatted = read_bytes(dir, "c.bin");
    unformatted[255 * 512] = 0;
    write_bytes(dir, "unformatted.bin", unformatted);
    for (const std::string command : {"list", "extract", "defrag", "remove", "add"}) {
        const std::string extra = command == "remove" ? " A" : command == "add" ? " c.bin" : "";
        const run_result r = run(dir, command + " unformatted.bin" + extra);
        EXPECT_EQ(r.status, 2) << command;
        EXPECT_EQ(r.err,
                  "vmurx-card: unformatted.bin: no format mark in block 255: not a formatted "
                  "card\n")
            << command;
        EXPECT_EQ(read_bytes(dir, "unformatted.bin"), unformatted) << command;
    }
}

TEST(Add, PlacesAllOrNoneAndKeepsTheCardsPermissions) {
    temp_dir dir;
    card_with(dir, "c.dcm", {});
    chmod(dir.file("c.dcm").c_str(), 0640);
    write_bytes(dir, "SMALL.dci", make_dci(make_save({}), 0x33, "SMALL", STAMP_2002));
    write_bytes(dir, "BIG.dci", make_dci(bytes(250 * 512, 0), 0x33, "BIG", STAMP_2002));
    const bytes before = read_bytes(dir, "c.dcm");
    run_result r = run(dir, "add c.dcm SMALL.dci BIG.dci");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: c.dcm: BIG.dci (BIG): needs 250 blocks, 198 are free; the card is "
              "unchanged\n");
    EXPECT_EQ(read_bytes(dir, "c.dcm"), before);
    r = run(dir, "add --name PLAIN --type game --stamp 20020304050607 c.dcm BIG.dci");
    EXPECT_EQ(r.status, 1);
    r = run(dir, "add c.dcm SMALL.dci");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stat_of(dir.file("c.dcm")).st_mode & 07777, 0640u);
    EXPECT_NE(read_bytes(dir, "c.dcm"), before);
    EXPECT_EQ(run(dir, "check c.dcm").out, "c.dcm: OK\n");
}

TEST(Add, DefragMakesRoomForAGameInTheSameWrite) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    // 150 blocks of data, then the first 100 freed again: the rest sits low.
    write_bytes(dir, "HIGH", bytes(100 * 512, 1));
    write_bytes(dir, "LOW", bytes(50 * 512, 2));
    ASSERT_EQ(run(dir, "add --type data c.bin HIGH").status, 0);
    ASSERT_EQ(run(dir, "add --type data c.bin LOW").status, 0);
    ASSERT_EQ(run(dir, "remove c.bin HIGH").status, 0);
    bytes game(120 * 512, 3);
    const bytes program = make_save({.game = true});
    std::copy(program.begin(), program.end(), game.begin());
    write_bytes(dir, "GAME", game);
    run_result r = run(dir, "add c.bin GAME");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("block 50 is taken (--defrag"), std::string::npos) << r.err;
    r = run(dir, "add --defrag c.bin GAME");
    EXPECT_EQ(r.status, 0) << r.err;
    r = run(dir, "list c.bin");
    EXPECT_NE(r.out.find("   0  game  GAME             120      0  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("   1  data  LOW               50    199  "), std::string::npos) << r.out;
    mkdir(dir.file("out").c_str(), 0755);
    ASSERT_EQ(run(dir, "extract --output out c.bin GAME LOW").status, 0);
    EXPECT_EQ(read_bytes(dir, "out/GAME"), game);
    EXPECT_EQ(read_bytes(dir, "out/LOW"), bytes(50 * 512, 2));
}

// A write that cannot be done leaves the card as it was, with the reason.
TEST(AtomicWrite, AFailedWriteLeavesTheCardUnchanged) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    const bytes before = read_bytes(dir, "c.bin");
    // A file system that takes no file of a card's size: RLIMIT_FSIZE, which
    // binds root as well (SIGXFSZ ignored, so that write() fails instead).
    const run_result r = run_program(
        {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 64; exec \"$0\" add c.bin A.dci", CARD},
        {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("vmurx-card: c.bin: File too large; the card is unchanged"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(read_bytes(dir, "c.bin"), before);
    EXPECT_EQ(run(dir, "check c.bin").out, "c.bin: OK\n");
}

TEST(AtomicWrite, ACardInAReadOnlyDirectoryIsLeftUnchanged) {
    temp_dir dir;
    mkdir(dir.file("ro").c_str(), 0755);
    ASSERT_EQ(run(dir, "new ro/c.bin").status, 0);
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    const bytes before = read_bytes(dir, "ro/c.bin");
    // The card itself writable by anyone: only its directory refuses.
    chmod(dir.file("ro/c.bin").c_str(), 0666);
    chmod(dir.path().c_str(), 0755);
    chmod(dir.file("ro").c_str(), 0555);
    // Root writes into any directory whatever its mode: then the program runs
    // as nobody, for whom the directory is read-only as for any user.
    std::vector<std::string> argv{CARD, "add", "ro/c.bin", "A.dci"};
    const std::string probe = dir.file("ro/probe");
    if (mkdir(probe.c_str(), 0755) == 0) {
        rmdir(probe.c_str());
        if (access("/usr/bin/setpriv", X_OK) != 0)
            GTEST_SKIP() << "running as root without setpriv to run as another user";
        argv.insert(argv.begin(),
                    {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    }
    const run_result r = run_program(argv, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
    chmod(dir.file("ro").c_str(), 0755);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vmurx-card: ro/c.bin: Permission denied; the card is unchanged\n");
    EXPECT_EQ(read_bytes(dir, "ro/c.bin"), before);
}

TEST(Emu, SendsAFileOfACardImageWithItsEntry) {
    temp_dir dir;
    const bytes content = make_save({.payload = 900});
    card_with(dir, "c.dcm", {{"OTHER", make_save({})}, {"SONIC", content}, {"EMPTY", content}});
    bytes image = read_bytes(dir, "c.dcm");
    // EMPTY's name starts with NUL: byte 4 of its entry, 7 in the Nexus order.
    image[253 * 512 + 2 * 32 + 7] = 0;
    write_bytes(dir, "c.dcm", image);
    write_file(dir.file("hostname"), "myhost\n");
    mkdir(dir.file("in").c_str(), 0755);
    const auto emu = [&](std::vector<std::string> args) {
        args.insert(args.begin(), VMURX_EMU_PATH);
        return run_program(args, {.cwd = dir.file("in"), .env = {"TZ=UTC"}, .unset = {}});
    };
    run_result r = emu({"--card", "../c.dcm", "--entry", "#1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(stat_of(dir.file("in/SONIC")).st_mtime, STAMP_2002_UTC);
    EXPECT_EQ(read_bytes(dir, "in/SONIC"), content);
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"--file", "../c.dcm"},
         "../c.dcm is a card image: name the file to send with --card ../c.dcm --entry ENTRY"},
        {{"--card", "../c.dcm"}, "--card ../c.dcm --entry ENTRY"},
        {{"--entry", "SONIC"}, "--entry needs --card CARD"},
        {{"--card", "../c.dcm", "--entry", "NOPE"},
         "../c.dcm: NOPE: no file of this name on the card"},
        // Only a card image is called one.
        {{"--card", "../hostname"}, "cannot read ../hostname: not a card image: 7 bytes, not"},
        // A name the tool could not store a file by, unless sent raw.
        {{"--card", "../c.dcm", "--entry", "#2"},
         "the file to send has no card name (its first byte is NUL): give --name"},
        {{"--cpu", "--card", "../c.dcm", "--entry", "#2"},
         "--entry #2: the entry has no card name (its first byte is NUL)"},
        {{"--name="}, "bad value for --name: '' (1 to 12 characters)"},
    };
    for (const auto& c : refusals) {
        r = emu(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

}  // namespace
