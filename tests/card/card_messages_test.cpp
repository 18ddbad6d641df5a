// What vmurx-card says and decides as a user meets it: a line per change
// (and none with -q), the type a save goes on as, names escaped in every
// message, a FIFO refused at once, repair and the check's hint, defrag on
// images other tools made, and list's JSON with C1 controls escaped.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "card_program.h"

namespace {

TEST(Messages, EachChangePrintsALineUnlessQuiet) {
    temp_dir dir;
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    write_bytes(dir, "B.dci", make_dci(make_save({.payload = 1000}), 0x33, "B", STAMP_2002));
    const struct {
        std::string command, out;
    } steps[] = {
        {"new c.bin", "new card c.bin: 200 blocks free\n"},
        {"add c.bin A.dci B.dci",
         "added A: 2 blocks from 199, slot 0; 198 blocks free\n"
         "added B: 4 blocks from 197, slot 1; 194 blocks free\n"},
        {"remove c.bin A", "removed A: 2 blocks freed, slot 0; 196 blocks free\n"},
        {"defrag c.bin", "packed 1 file; 196 blocks free\n"},
        {"repair c.bin", "c.bin: nothing to repair\n"},
        {"add -q c.bin A.dci", ""},
        {"remove --quiet c.bin A", ""},
        {"new -q d.bin", ""},
    };
    for (const auto& s : steps) {
        const run_result r = run(dir, s.command);
        EXPECT_EQ(r.status, 0) << s.command << ": " << r.err;
        EXPECT_EQ(r.out, s.out) << s.command;
        EXPECT_EQ(r.err, "") << s.command;
    }
}

// The type decided as vmurx-save convert decides it: a --type the header
// contradicts is refused unless --force-type, a descriptor's gives way to
// the header with a warning; check flags a game entry holding a data save.
TEST(Add, TheTypeIsTheHeadersUnlessTheUserInsists) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    write_bytes(dir, "SAVE", make_save({}));
    const bytes blank = read_bytes(dir, "c.bin");
    run_result r = run(dir, "add --type game c.bin SAVE");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vmurx-card: SAVE: --type game contradicts the save's header, a data file's "
              "(--force-type adds it all the same)\n");
    EXPECT_EQ(read_bytes(dir, "c.bin"), blank);
    // A VMI whose game bit is set over a data save.
    r = run_program({VMURX_SAVE_PATH, "convert", "--type", "game", "--force-type", "--stamp",
                     "20020304050607", "SAVE", "KISSPC.VMS"},
                    {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run(dir, "add c.bin KISSPC.VMS");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "vmurx-card: warning: KISSPC.VMS: the descriptor says game, but the header is a "
              "data file's: added as data\n");
    EXPECT_EQ(r.out, "added SAVE: 2 blocks from 199, slot 0; 198 blocks free\n");
    r = run(dir, "add --type game --force-type --name FORCED c.bin SAVE");
    EXPECT_EQ(r.status, 0) << r.err;
    r = run(dir, "check c.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("c.bin: warning: #1 FORCED: a game entry holding a data save"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(run(dir, "add --force-type c.bin SAVE").status, 2);
}

// A card name of escape sequences reaches the terminal as U+FFFD, in a
// refusal and in a success line alike; a C1 control is a \u escape in JSON.
TEST(Messages, NamesAreEscapedEverywhere) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    const std::string evil = "\x1B[41mEVIL\a";
    write_bytes(dir, "evil.dci", make_dci(make_save({}), 0x33, evil, STAMP_2002));
    const std::string R = "\xEF\xBF\xBD";
    run_result r = run(dir, "add c.bin evil.dci");
    EXPECT_EQ(r.out,
              "added " + R + "[41mEVIL" + R + ": 2 blocks from 199, slot 0; 198 blocks free\n");
    r = run(dir, "add c.bin evil.dci");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "vmurx-card: c.bin: evil.dci (" + R + "[41mEVIL" + R +
                         "): the name is on the card already (#0 " + R + "[41mEVIL" + R +
                         "); the card is unchanged\n");
    bytes image = read_bytes(dir, "c.bin");
    image[253 * 512 + 4] = 0x85;  // NEL, a C1 control when read as Latin-1
    write_bytes(dir, "c.bin", image);
    r = run(dir, "list --json c.bin");
    EXPECT_NE(r.out.find("\"name\": \"\\u0085[41mEVIL\\u0007\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("\xC2\x85"), std::string::npos);
}

// A FIFO where a file or its companion should be is refused at once.
TEST(Inputs, AFifoIsRefusedWithoutWaiting) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    write_bytes(dir, "X.VMS", make_save({}));
    ASSERT_EQ(mkfifo(dir.file("X.VMI").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(dir.file("fifo.bin").c_str(), 0644), 0);
    const struct {
        std::vector<std::string> argv;
        int status;
        std::string err;
    } runs[] = {
        {{VMURX_SAVE_PATH, "info", "X.VMS"},
         2,
         "vmurx-save: X.VMI: it is a FIFO, not a regular file"},
        {{CARD, "add", "c.bin", "X.VMS"}, 1, "vmurx-card: X.VMI: it is a FIFO, not a regular file"},
        {{CARD, "list", "fifo.bin"}, 2, "vmurx-card: fifo.bin: it is a FIFO, not a regular file"},
        {{CARD, "add", "fifo.bin", "X.VMS"},
         2,
         "vmurx-card: fifo.bin: it is a FIFO, not a regular file"},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.argv[1] + " " + r.argv[2]);
        const run_result result =
            run_program(r.argv, {.cwd = dir.path(), .env = {}, .unset = {}, .timeout_s = 5});
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.status, r.status);
        EXPECT_EQ(result.err.rfind(r.err, 0), 0u) << result.err;
    }
}

// A whole card given to add as a save is pointed to extract; a card named
// through a symbolic link, which no new image replaces, is refused before
// any change is made, whatever --force says.
TEST(Inputs, ACardAsASaveAndALinkToACardAreRefusedWithWhatToDo) {
    temp_dir dir;
    card_with(dir, "c.bin", {});
    card_with(dir, "other.bin", {});
    write_bytes(dir, "A.dci", make_dci(make_save({}), 0x33, "A", STAMP_2002));
    ASSERT_EQ(symlink("c.bin", dir.file("link.bin").c_str()), 0);
    const std::string link_refused =
        "vmurx-card: link.bin: it is a symbolic link, and a changed card is only ever written "
        "over a regular file (name the card itself)\n";
    const struct {
        const char* command;
        int status;
        std::string err;
    } cases[] = {
        {"add c.bin other.bin", 1,
         "vmurx-card: other.bin: a whole card image, not a save: 'vmurx-card extract other.bin "
         "ENTRY' writes one of its files out to add\n"},
        {"add link.bin A.dci", 2, link_refused},
        {"add --force link.bin A.dci", 2, link_refused},
    };
    const bytes before = read_bytes(dir, "c.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const run_result r = run(dir, c.command);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(read_bytes(dir, "c.bin"), before);
    }
}

TEST(Repair, SaysWhatItWouldDoThenDoesIt) {
    temp_dir dir;
    write_bytes(dir, "BIG", bytes(100 * 512, 7));
    card_with(dir, "c.bin", {});
    ASSERT_EQ(run(dir, "add --type data --stamp 20020304050607 c.bin BIG").status, 0);
    bytes image = read_bytes(dir, "c.bin");
    image[254 * 512 + 2 * 198] = 199;  // BIG: 199, 198, back to 199
    image[254 * 512 + 2 * 198 + 1] = 0;
    write_bytes(dir, "c.bin", image);
    run_result r = run(dir, "check c.bin");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "c.bin: error: #0 BIG: the chain loops back to block 199\n"
              "c.bin: warning: 98 lost blocks (allocated, in no file): 100-197\n"
              "c.bin: 1 error, 1 warning\n"
              "c.bin: vmurx-card repair can mend some of this (--dry-run shows what)\n");
    // BIG's own blocks past the loop are lost now: kept until a second run.
    const std::string mended =
        "#0 BIG: the chain loops back to block 199: ended at block 198, now 2 blocks (the entry "
        "said 100)\n";
    const std::string kept =
        "c.bin: left: 98 blocks lost (100-197) not freed: a file shortened now may go on in them "
        "(a copy of the card keeps them; a second repair frees them)\n";
    r = run(dir, "repair --dry-run c.bin");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "c.bin: would mend: " + mended + kept);
    EXPECT_EQ(read_bytes(dir, "c.bin"), image);
    r = run(dir, "repair c.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "c.bin: mended: " + mended + kept);
    const bytes cut = read_bytes(dir, "c.bin");
    EXPECT_TRUE(
        std::equal(cut.begin() + 100 * 512, cut.begin() + 198 * 512, image.begin() + 100 * 512));
    EXPECT_EQ(run(dir, "check c.bin").out,
              "c.bin: warning: 98 lost blocks (allocated, in no file): 100-197\n"
              "c.bin: 0 errors, 1 warning\n"
              "c.bin: vmurx-card repair can mend some of this (--dry-run shows what)\n");
    r = run(dir, "repair c.bin");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "c.bin: mended: freed 98 blocks allocated in no file: 100-197\n");
    EXPECT_EQ(run(dir, "check c.bin").out, "c.bin: OK\n");
    EXPECT_NE(run(dir, "list c.bin").out.find("198 of 200 user blocks free"), std::string::npos);
}

// Images other tools make mark blocks 200 to 240 taken: defrag and a game
// added with --defrag leave them as they are.
TEST(Defrag, WorksOnImagesOtherToolsMade) {
    const struct {
        const char* tool;
        std::uint8_t low, high;  // the FAT entry of blocks 200 to 240
    } images[] = {{"a FAT entry 0xFFFA", 0xFA, 0xFF}, {"a FAT entry 0", 0x00, 0x00}};
    for (const auto& image : images) {
        SCOPED_TRACE(image.tool);
        temp_dir dir;
        card_with(dir, "c.bin", {});
        bytes card = read_bytes(dir, "c.bin");
        for (std::size_t block = 200; block <= 240; ++block) {
            card[254 * 512 + 2 * block] = image.low;
            card[254 * 512 + 2 * block + 1] = image.high;
        }
        write_bytes(dir, "c.bin", card);
        EXPECT_EQ(run(dir, "check c.bin").out, "c.bin: OK\n");
        run_result r = run(dir, "defrag c.bin");
        EXPECT_EQ(r.status, 0) << r.err;
        bytes game(20 * 512, 3);
        const bytes program = make_save({.game = true});
        std::copy(program.begin(), program.end(), game.begin());
        write_bytes(dir, "GAME", game);
        r = run(dir, "add --defrag c.bin GAME");
        EXPECT_EQ(r.status, 0) << r.err;
        const bytes after = read_bytes(dir, "c.bin");
        EXPECT_TRUE(std::equal(after.begin() + 254 * 512 + 400, after.begin() + 254 * 512 + 482,
                               card.begin() + 254 * 512 + 400));
    }
}

}  // namespace
