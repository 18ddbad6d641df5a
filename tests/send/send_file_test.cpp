// The file vmurx-send puts on the card, in this process: what it refuses
// before anything moves, and the frames it sends, written from the frames
// the card's own Copy sends (start, name, data and flash for each 128
// bytes, the directory entry's bytes 0x10 to 0x1B, the last flash). Also
// how its messages name a frame, and its progress line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card/card_disk.h"
#include "card/card_edit.h"
#include "run_program.h"
#include "save_files.h"
#include "send/send_file.h"
#include "send/send_transfer.h"

namespace {

constexpr std::uint8_t MONDAY_2002[8] = {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00};

bytes content_of(std::size_t blocks) {
    bytes content(blocks * 512);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 29 + 5);
    return content;
}

send_command_line for_file(const std::string& path) {
    send_command_line cl;
    cl.file = path;
    return cl;
}

send_command_line raw(const std::string& path, const std::string& type = "data") {
    send_command_line cl = for_file(path);
    cl.name = "RAWFILE";
    cl.game = type == "game";
    cl.stamp = save_stamp{2002, 3, 4, 5, 6, 7};
    return cl;
}

std::vector<std::uint8_t> frame_of(std::vector<std::uint8_t> head,
                                   const std::vector<std::uint8_t>& payload, std::uint8_t trailer) {
    head.insert(head.end(), payload.begin(), payload.end());
    head.push_back(trailer);
    return head;
}

}  // namespace

TEST(SendFile, RefusesBeforeAnythingMovesWhatTheCardWouldRefuse) {
    temp_dir dir;
    write_file(dir.file("THISNAMEISLONG.BIN"), as_string(content_of(1)));
    write_file(dir.file("big.bin"), as_string(content_of(201)));
    write_file(dir.file("game.bin"), as_string(content_of(129)));
    write_file(dir.file("empty.bin"), "");
    write_file(dir.file("odd.dci"), as_string(make_dci(content_of(1), 0x00, "ODD", MONDAY_2002)));
    write_file(dir.file("noise.bin"), as_string(content_of(2)));
    const struct {
        const char* rule;
        send_command_line cl;
        std::string error;
    } cases[] = {
        {"a file's own name over 12 bytes", for_file(dir.file("THISNAMEISLONG.BIN")),
         dir.file("THISNAMEISLONG.BIN") +
             ": its name THISNAMEISLONG.BIN is longer than 12 bytes (give --name)"},
        {"a file over 200 blocks", raw(dir.file("big.bin")),
         dir.file("big.bin") + ": the file has 201 blocks; a card holds files of at most 200"},
        {"a game over 128 blocks", raw(dir.file("game.bin"), "game"),
         dir.file("game.bin") + ": the game has 129 blocks; a card takes games of at most 128"},
        {"a type neither game nor data", for_file(dir.file("odd.dci")),
         dir.file("odd.dci") + ": its type is neither game (0xCC) nor data (0x33) (give --type)"},
        {"no type at all",
         [&] {
             send_command_line cl = raw(dir.file("noise.bin"));
             cl.game.reset();
             return cl;
         }(),
         dir.file("noise.bin") + ": it is not a save, so its type is unknown (give --type)"},
        {"an empty file", raw(dir.file("empty.bin")),
         dir.file("empty.bin") + ": the file is empty"},
        {"a file that is not there", for_file(dir.file("none.vms")),
         dir.file("none.vms") + ": No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        send_item item;
        std::string error;
        EXPECT_FALSE(send_load_item(c.cl, item, error));
        EXPECT_EQ(error, c.error);
    }
}

// The type is decided as vmurx-card add decides it: a --type the save's
// header contradicts is refused unless forced, a descriptor's gives way to
// the header with a warning; bytes that nothing describes and that hold no
// save header go only when forced, and a whole card image is pointed to
// --card and --entry.
TEST(SendFile, DecidesTheTypeAsVmurxCardAddDoes) {
    temp_dir dir;
    write_file(dir.file("data.bin"), as_string(make_save({})));
    write_file(dir.file("game.bin"), as_string(make_save({.game = true})));
    write_file(dir.file("LYING.DCI"),
               as_string(make_dci(make_save({}), 0xCC, "LYING", MONDAY_2002)));
    bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.resize(700, 0x42);
    write_file(dir.file("picture.png"), as_string(png));
    write_file(dir.file("notes.txt"), "a text, not a save\n");
    file_error failure;
    ASSERT_TRUE(
        card_store(dir.file("card.bin"),
                   card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, {2002, 3, 4, 5, 6, 7}, card_order::raw),
                   false, failure))
        << failure.reason;
    const auto forced = [](send_command_line cl) {
        cl.force_type = true;
        return cl;
    };
    const std::string contradicts = " contradicts the save's header, a ";
    const std::string no_save =
        ": it is not a save (no save header at 0 or 0x200); --force-type sends it as the --type "
        "given all the same";
    const struct {
        const char* rule;
        send_command_line cl;
        std::string error;  // empty: taken
        bool game;
        std::string warning;
    } cases[] = {
        {"a data save sent as a game", raw(dir.file("data.bin"), "game"),
         dir.file("data.bin") + ": --type game" + contradicts +
             "data file's (--force-type sends it all the same)",
         false, ""},
        {"a game sent as data", raw(dir.file("game.bin")),
         dir.file("game.bin") + ": --type data" + contradicts +
             "game file's (--force-type sends it all the same)",
         false, ""},
        {"a game sent as data, forced", forced(raw(dir.file("game.bin"))), "", false, ""},
        {"a data save as the type its header says", raw(dir.file("data.bin")), "", false, ""},
        {"a DCI that says game of a data save", for_file(dir.file("LYING.DCI")), "", false,
         dir.file("LYING.DCI") +
             ": the descriptor says game, but the header is a data file's: sent as data"},
        {"a picture", raw(dir.file("picture.png")), dir.file("picture.png") + no_save, false, ""},
        {"a text as a game", raw(dir.file("notes.txt"), "game"), dir.file("notes.txt") + no_save,
         false, ""},
        {"a text, forced", forced(raw(dir.file("notes.txt"))), "", false, ""},
        {"a whole card image", for_file(dir.file("card.bin")),
         dir.file("card.bin") +
             ": a whole card image, not a save: send one of its files with "
             "--card " +
             dir.file("card.bin") + " --entry ENTRY (a name or #N, as vmurx-card list shows them)",
         false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        send_item item;
        std::string error;
        EXPECT_EQ(send_load_item(c.cl, item, error), c.error.empty());
        EXPECT_EQ(error, c.error);
        if (!c.error.empty())
            continue;
        EXPECT_EQ(item.game, c.game);
        EXPECT_EQ(send_frame(item, 0).at(2), c.game ? 0xCC : 0x33);
        EXPECT_EQ(item.warnings,
                  c.warning.empty() ? std::vector<std::string>{} : std::vector{c.warning});
    }
}

TEST(SendFile, SendsCopysFramesWithTheEntrysBytes) {
    temp_dir dir;
    const bytes content = content_of(1);
    write_file(dir.file("SAVE.DCI"), as_string(make_dci(content, 0x33, "SAVE", MONDAY_2002)));
    send_item item;
    std::string error;
    ASSERT_TRUE(send_load_item(for_file(dir.file("SAVE.DCI")), item, error)) << error;
    ASSERT_EQ(send_blocks(item), 1U);

    std::vector<std::vector<std::uint8_t>> expected;
    expected.push_back(frame_of({0x11, 0x02}, {0x33, 0x01}, 0xFF));
    expected.push_back(frame_of({0x1B, 0x06}, {'S', 'A', 'V', 'E', 0, 0, 0, 0, 0, 0, 0, 0}, 0xFF));
    for (std::size_t piece = 0; piece < 4; ++piece) {
        expected.push_back(
            frame_of({0x50, 0x04},
                     {content.begin() + static_cast<std::ptrdiff_t>(piece * 128),
                      content.begin() + static_cast<std::ptrdiff_t>(piece * 128 + 128)},
                     0x00));
        expected.push_back(frame_of({0x10, 0x08}, {0x00}, 0xFF));
    }
    // 2002-03-04 was a Monday (0); one block; a data file's header at 0.
    expected.push_back(
        frame_of({0x1B, 0x03}, {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 1, 0, 0, 0}, 0xFF));
    expected.push_back(frame_of({0x10, 0x08}, {0x00}, 0xFF));
    ASSERT_EQ(cable_frame_count(1), expected.size());
    for (std::size_t f = 0; f < expected.size(); ++f)
        EXPECT_EQ(send_frame(item, f), expected[f]) << "frame " << f;
}

TEST(SendFile, TakesTheDirectoryBytesFromEachSource) {
    temp_dir dir;
    // A card entry whose bytes 0x10 to 0x1B go out as they are, even a
    // weekday that does not fit the date and a header offset of its own.
    card_image card = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, {2002, 3, 4, 5, 6, 7}, card_order::raw);
    card_new_file on_card{"ONCARD", false, false, {2002, 3, 4, 5, 6, 7}, content_of(2)};
    std::size_t slot = 0;
    std::string reason;
    ASSERT_TRUE(card_add(card, on_card, slot, reason)) << reason;
    card.bytes[253 * 512 + 0x17] = 0x06;  // the weekday byte
    card.bytes[253 * 512 + 0x1A] = 0x03;  // the header's offset
    file_error failure;
    ASSERT_TRUE(card_store(dir.file("card.bin"), card, false, failure)) << failure.reason;
    write_file(dir.file("GAME.DCI"), as_string(make_dci(content_of(3), 0xCC, "GAME", MONDAY_2002)));
    write_file(dir.file("raw.bin"), as_string(content_of(1)));

    send_command_line from_card;
    from_card.card = dir.file("card.bin");
    from_card.entry = "ONCARD";
    send_command_line data_as_game = raw(dir.file("raw.bin"), "game");
    data_as_game.force_type = true;  // no save's header in them
    const struct {
        const char* rule;
        send_command_line cl;
        std::vector<std::uint8_t> start;
        std::array<std::uint8_t, 12> directory;
    } cases[] = {
        {"a card entry, as it is",
         from_card,
         {0x33, 2},
         {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x06, 2, 0, 3, 0}},
        {"a game's DCI: its header at block 1",
         for_file(dir.file("GAME.DCI")),
         {0xCC, 3},
         {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 3, 0, 1, 0}},
        {"bytes alone, with --type game --force-type and --stamp",
         data_as_game,
         {0xCC, 1},
         {0x20, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x00, 1, 0, 1, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        send_item item;
        std::string error;
        ASSERT_TRUE(send_load_item(c.cl, item, error)) << error;
        const std::vector<std::uint8_t> start = send_frame(item, 0);
        EXPECT_EQ(std::vector<std::uint8_t>(start.begin() + 2, start.end() - 1), c.start);
        EXPECT_EQ(item.directory, c.directory);
    }
}

TEST(SendWords, NameEachFrameAndTheProgress) {
    const struct {
        std::size_t index;
        const char* words;
    } frames[] = {
        {0, "the start frame"},
        {1, "the name frame"},
        {2, "block 1"},
        {9, "block 1"},
        {10, "block 2"},
        {17, "block 2"},
        {18, "the directory frame"},
        {19, "the last frame"},
    };
    for (const auto& f : frames)
        EXPECT_EQ(send_frame_words(f.index, 2), f.words) << f.index;

    const struct {
        std::size_t done;
        std::size_t total;
        double seconds;
        const char* line;
    } lines[] = {
        {0, 12, 0.0, "block 0 of 12"},
        {3, 12, 2.0, "block 3 of 12, 1.50 blocks/s, 6 s left"},
        {10, 200, 5.0, "block 10 of 200, 2.00 blocks/s, 1 min 35 s left"},
        {12, 12, 8.0, "block 12 of 12, 1.50 blocks/s"},
    };
    for (const auto& l : lines)
        EXPECT_EQ(send_progress_line(l.done, l.total, l.seconds), l.line);
}
