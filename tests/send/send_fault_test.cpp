// vmurx-send-emu from outside when something goes wrong on the card's side
// or the PC's: a bit the card takes wrong is caught by the echo on Select
// (and is not, without the check), a pause of the PC during the card's
// answer is reported, a card that never answers or stops answering is
// named, each with status 1 and the image as it was; and the command lines
// that are wrong, with status 2 before anything moves.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "lpt/byte_exchange.h"
#include "platform/emu/emu_platform.h"
#include "send/send_link.h"
#include "send/send_options.h"
#include "send/send_transfer.h"
#include "send_support.h"
#include "vmu/copy_receive.h"

namespace {

const char* const UNCHANGED = "; the card keeps its files as they were\n";

struct fault_run {
    run_result run;
    std::string before;  // the image before
    std::string after;
};

// One data block, content_of(1, 3), sent as DCI "SENT" onto a blank card
// with the card options `card` and vmurx-send's `tool` words.
fault_run send_one_block(std::vector<std::string> card, std::vector<std::string> tool = {"-q"}) {
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    write_file(dir.file("SENT.DCI"),
               as_string(make_dci(content_of(1, 3), 0x33, "SENT", MONDAY_2002)));
    card.insert(card.begin(), {"--card", "card.bin"});
    tool.emplace_back("SENT.DCI");
    fault_run f;
    f.before = read_file(dir.file("card.bin"));
    f.run = send_emu(dir, card, tool);
    f.after = read_file(dir.file("card.bin"));
    if (f.run.status == 0 && card_tool(dir, {"extract", "card.bin", "SENT"}).status == 0)
        f.after = read_file(dir.file("SENT"));
    return f;
}

std::string hex(unsigned byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

}  // namespace

TEST(SendFaults, TheEchoOnSelectCatchesABitTheCardTookWrong) {
    // The bytes the card takes: the start frame's 5, the name frame's 15,
    // then the first data frame's header, code and payload: byte 30 is the
    // payload's ninth, byte 10 of frame 3.
    const bytes content = content_of(1, 3);
    const fault_run caught = send_one_block({"--fault", "flip=30"});
    EXPECT_EQ(caught.run.status, 1);
    EXPECT_EQ(caught.run.err,
              "vmurx-send: the echo on Select shows " + hex(content[8] ^ 1U) +
                  " for byte 10 of frame 3 (block 1), which was " + hex(content[8]) +
                  ": the card took it wrong" + UNCHANGED +
                  "vmurx-send-emu: the card shows the file list\n"
                  "vmurx-send-emu: the card: the PC dropped D3 in frame 3: the card left receive "
                  "mode, its files as they were\n");
    EXPECT_EQ(caught.after, caught.before);

    // The echo of the last frame's byte before its trailer comes as the
    // trailer goes: the card has the whole frame and writes the file, so the
    // message cannot say it kept its files as they were. The start frame's
    // 5 bytes, the name frame's 15, four pieces of 131 and 4, the directory
    // frame's 15: byte 577 is the last frame's 0x00.
    const fault_run last = send_one_block({"--fault", "flip=577"});
    EXPECT_EQ(last.run.status, 1);
    EXPECT_TRUE(last.run.err.starts_with(
        "vmurx-send: the echo on Select shows 0x01 for byte 2 of frame 12 (the last frame), "
        "which was 0x00: the card took it wrong: the card may hold the file all the same; look "
        "at its file list\n"))
        << last.run.err;

    // Without the check the card writes what it took.
    const fault_run unchecked = send_one_block({"--fault", "flip=30"}, {"-q", "--no-echo-check"});
    EXPECT_EQ(unchecked.run.status, 0) << unchecked.run.err;
    bytes taken = content;
    taken[8] ^= 1U;
    EXPECT_EQ(unchecked.after, as_string(taken));
}

TEST(SendFaults, EachFailureIsToldAndLeavesTheImageAsItWas) {
    const struct {
        const char* rule;
        std::vector<std::string> card;
        std::vector<std::string> tool;
        std::string out;  // the core's clocked receive tells of a byte cut short here
        std::string error;
    } cases[] = {
        {"a card that never answers (D3 does not reach it)",
         {"--fault", "no-peer"},
         {"-q"},
         "",
         "vmurx-send: no answer from the card: is it showing its file list, with the cable in? "
         "Then it shows \"Waiting for data\" while vmurx-send runs" +
             std::string(UNCHANGED) + "vmurx-send-emu: the card shows the file list\n"},
        {"a card in a controller",
         {"--docked"},
         {"-q"},
         "",
         "vmurx-send: no answer from the card: is it showing its file list, with the cable in? "
         "Then it shows \"Waiting for data\" while vmurx-send runs" +
             std::string(UNCHANGED) + "vmurx-send-emu: the card shows the file list\n"},
        // Answers 0 to 7 are the replies and answers of the start frame, the
        // name frame and the first data and flash frames; answer 8 is the
        // reply to the second data frame's header, still block 1.
        {"a card that stops answering",
         {"--fault", "stall=8"},
         {"-q"},
         "",
         "vmurx-send: the card stopped answering during block 1" + std::string(UNCHANGED) +
             "vmurx-send-emu: the card shows the file list\n"
             "vmurx-send-emu: the card: stopped answering before answer 9, in frame 5\n"
             "vmurx-send-emu: the card: the PC dropped D3 in frame 5: the card left receive "
             "mode, its files as they were\n"},
        {"a flash write that fails three times",
         {"--fault", "flash=2"},
         {"-q"},
         "",
         "vmurx-send: the card could not write block 1 to its flash" + std::string(UNCHANGED) +
             "vmurx-send-emu: the card shows the file list\n"
             "vmurx-send-emu: the card: refused frame 6: the flash write of piece 2 failed 3 "
             "times\n"},
        {"a cable without Select",
         {"--fault", "no-echo"},
         {"-q"},
         "",
         "vmurx-send: the echo on Select shows 0xFF for byte 0 of frame 1 (the start frame), "
         "which was 0x11: the card took it wrong, or Select is not wired (for a cable without "
         "it, --no-echo-check)" +
             std::string(UNCHANGED) +
             "vmurx-send-emu: the card shows the file list\n"
             "vmurx-send-emu: the card: the PC dropped D3 in frame 1: the card left receive "
             "mode, its files as they were\n"},
        // Pauses of 200 µs, longer than the card's levels of 64 µs: with
        // this seed one falls while the card answers the start frame, and
        // the PC misses a level.
        {"a pause of the PC while the card answers",
         {"--pc-pause", "200@10000", "--seed", "7"},
         {"-q"},
         "only got 7 bits\n",
         "vmurx-send: the card's answer to the start frame came garbled (its levels stopped): "
         "this PC may have paused while the card answered (vmurx-probe tells whether it keeps "
         "the card's pace)" +
             std::string(UNCHANGED) +
             "vmurx-send-emu: the card shows the file list\n"
             "vmurx-send-emu: the card: the PC dropped D3 in frame 2: the card left receive "
             "mode, its files as they were\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const fault_run f = send_one_block(c.card, c.tool);
        EXPECT_EQ(f.run.status, 1);
        EXPECT_EQ(f.run.out, c.out);
        EXPECT_EQ(f.run.err, c.error);
        EXPECT_EQ(f.after, f.before);
    }
}

TEST(SendFaults, PausesShorterThanTheCardsLevelsAndAnyPauseWhileSendingDoNoHarm) {
    // The card follows D0's edges however long the PC takes, and 40 µs is
    // less than a level of its answers.
    for (const char* seed : {"1", "2", "3"}) {
        SCOPED_TRACE(seed);
        const fault_run f = send_one_block({"--pc-pause", "40@2000", "--seed", seed});
        EXPECT_EQ(f.run.status, 0) << f.run.err;
        EXPECT_EQ(f.after, as_string(content_of(1, 3)));
    }
}

TEST(SendFaults, AWrongCommandLineMovesNothing) {
    temp_dir dir;
    store(blank_card(), dir.file("card.bin"));
    write_file(dir.file("raw.bin"), as_string(content_of(1, 1)));
    write_file(dir.file("other.bin"), "not a card");
    // Cards the new image may not replace, refused before the port is
    // touched: one without a write bit, one with a second name, and one
    // reached through a symbolic link, which the last frame's write would
    // refuse after every frame was sent.
    store(blank_card(), dir.file("read-only.bin"));
    ASSERT_EQ(chmod(dir.file("read-only.bin").c_str(), 0444), 0);
    store(blank_card(), dir.file("linked.bin"));
    ASSERT_EQ(link(dir.file("linked.bin").c_str(), dir.file("second.bin").c_str()), 0);
    ASSERT_EQ(symlink("card.bin", dir.file("symbolic.bin").c_str()), 0);
    const std::string R = "\xEF\xBF\xBD";  // a terminal escape's ESC, as shown
    const struct {
        const char* rule;
        std::vector<std::string> card;
        std::vector<std::string> tool;
        int status;
        std::string first_line;
    } cases[] = {
        {"no FILE", {"--card", "card.bin"}, {}, 2, "vmurx-send: no FILE to send"},
        {"two FILEs, one --name",
         {"--card", "card.bin"},
         {"--name", "ONE", "raw.bin", "raw.bin"},
         2,
         "vmurx-send: --name, --type and --stamp tell of one file only"},
        {"--all and a --stamp",
         {"--card", "card.bin"},
         {"--stamp", "20020304050607", "--card", "card.bin", "--all"},
         2,
         "vmurx-send: --name, --type and --stamp tell of one file only"},
        {"--card without --entry",
         {"--card", "card.bin"},
         {"--card", "card.bin"},
         2,
         "vmurx-send: --card needs --entry ENTRY or --all"},
        {"--all without --card",
         {"--card", "card.bin"},
         {"--all"},
         2,
         "vmurx-send: --all needs --card"},
        {"--all and --entry",
         {"--card", "card.bin"},
         {"--card", "card.bin", "--all", "--entry", "#0"},
         2,
         "vmurx-send: give --entry or --all, not both"},
        {"--all before '--' is vmurx-send's",
         {"--card", "card.bin", "--all"},
         {},
         2,
         "vmurx-send-emu: unrecognized option '--all' (the vmurx-send options follow '--')"},
        {"a name over 12 bytes",
         {"--card", "card.bin"},
         {"--name", "THIRTEENBYTES", "raw.bin"},
         2,
         "vmurx-send: bad name 'THIRTEENBYTES' (1 to 12 bytes)"},
        {"a port that is none",
         {"--card", "card.bin"},
         {"-d", "LPT9", "raw.bin"},
         2,
         "vmurx-send: bad device 'LPT9' (LPT1 to LPT3 or a base address such as 0x378)"},
        {"a stamp that is no date",
         {"--card", "card.bin"},
         {"--stamp", "20021304050607", "raw.bin"},
         2,
         "vmurx-send: bad stamp '20021304050607' (YYYYMMDDhhmmss between the years 1900 and "
         "9999)"},
        {"no card",
         {},
         {"raw.bin"},
         2,
         "vmurx-send-emu: no card: give --card IMAGE (vmurx-card new makes a blank one)"},
        {"an image that is no card",
         {"--card", "other.bin"},
         {"raw.bin"},
         2,
         "vmurx-send-emu: --card other.bin: not a card image: 10 bytes, not 131072"},
        {"a raw file without its type",
         {"--card", "card.bin"},
         {"raw.bin"},
         1,
         "vmurx-send: raw.bin: it is not a save, so its type is unknown (give --type)"},
        {"--force-type alone",
         {"--card", "card.bin"},
         {"--force-type", "raw.bin"},
         2,
         "vmurx-send: --force-type needs --type"},
        {"a read-only card",
         {"--card", "read-only.bin"},
         {"raw.bin"},
         2,
         "vmurx-send-emu: --card read-only.bin: read-only (mode 0444)"},
        {"a card of two names",
         {"--card", "linked.bin"},
         {"raw.bin"},
         2,
         "vmurx-send-emu: --card linked.bin: it has 2 names (hard links), and a new image would "
         "part this one from the others"},
        {"a symbolic link to a card",
         {"--card", "symbolic.bin"},
         {"--name", "X", "--type", "data", "--force-type", "raw.bin"},
         2,
         "vmurx-send-emu: --card symbolic.bin: it is a symbolic link, and a changed card is only "
         "ever written over a regular file (name the card itself)"},
        {"a FILE named with escapes",
         {"--card", "card.bin"},
         {"\x1b[2Jgone.vms"},
         1,
         "vmurx-send: " + R + "[2Jgone.vms: No such file or directory"},
        {"a card named with escapes",
         {"--card", "\x1b]0;t\a.bin"},
         {"raw.bin"},
         2,
         "vmurx-send-emu: --card " + R + "]0;t" + R + ".bin: No such file or directory"},
    };
    const std::string before = read_file(dir.file("card.bin"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const run_result r = send_emu(dir, c.card, c.tool);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.first_line);
        EXPECT_EQ(r.err.find("vmurx-send-emu: the card"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find_first_of("\x1b\a"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir.file("card.bin")), before);
    }
}

// The card answers the last frame with 0x0A after it has written the file's
// blocks and its FAT: the tool must not say the card is as it was. Run in
// this process on a card whose image cannot be stored, which the software
// card refuses at that frame, as the card's firmware does with 16 files in
// its directory's first block.
TEST(SendFaults, ARefusedLastFrameSaysTheBlocksMayBeTakenAndWhatToDo) {
    temp_dir dir;
    write_file(dir.file("SENT.DCI"),
               as_string(make_dci(content_of(2, 3), 0x33, "SENT", MONDAY_2002)));
    send_command_line cl;
    cl.file = dir.file("SENT.DCI");
    send_item item;
    std::string error;
    ASSERT_TRUE(send_load_item(cl, item, error)) << error;

    static copy_receive card;
    card.image = blank_card();
    card.store = [](const card_image&, std::string& reason) {
        reason = "No such file or directory";  // the card cannot store its image
        return false;
    };
    emu_use_receive_card(card);
    static lpt_port port;
    ASSERT_TRUE(send_open("LPT1", port));
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* err = open_memstream(&text, &size);
    const int status = send_transfer(port, item, {.quiet = true, .err = err});
    send_close(port);
    std::fclose(err);
    const std::string said(text, size);
    std::free(text);

    EXPECT_EQ(status, 1);
    EXPECT_EQ(said,
              "vmurx-send: the card refused the last frame, which writes the file's directory "
              "entry: it found no free entry among the first 16 of its directory (the only ones "
              "it looks at), or its flash failed. It wrote the file and its FAT before that, so 2 "
              "blocks may now be taken by no file and not free. Delete a file on the card so "
              "that fewer than 16 are left, then send again; the blocks taken stay so until the "
              "card is formatted\n");
    EXPECT_EQ(card.outcome, receive_outcome::refused);
}

// The first header goes once the card has had its time to switch to
// "Waiting for data", and never within 20 ms of Select falling, when the
// card loses it; a Select that never falls (no such wire) or keeps
// flickering holds it back no longer than a bound.
TEST(SendFaults, TheFirstHeaderWaitsForSelectToHaveFallenTwentyMillisecondsAgo) {
    const struct {
        unsigned waited_ms, low_ms;
        bool due;
    } cases[] = {
        {0, 0, false},     {999, 0, false},   {999, 600, false}, {1000, 0, true},
        {1000, 1, false},  {1000, 20, false}, {1010, 25, true},  {1500, 400, true},
        {1999, 19, false}, {2000, 19, true},  {2000, 1, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.waited_ms) + " ms, Select low " + std::to_string(c.low_ms));
        EXPECT_EQ(send_first_header_due(c.waited_ms, c.low_ms), c.due);
    }
}
