// Ctrl-C in the middle of a backup, in one process: the person at the
// modelled card copies the files of a card image in turn, and a real SIGINT
// comes after a chosen frame of a chosen file. The file in progress leaves
// nothing behind, the files before it stay, D3 ends low, and the summary
// names what was stored.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>

#include "backup/backup_run.h"
#include "cable/cable.h"
#include "card/card_disk.h"
#include "card/card_edit.h"
#include "emu/emu_card.h"
#include "emu/emu_options.h"
#include "platform/emu/emu_platform.h"
#include "run_program.h"

namespace {

const save_stamp STAMP{2002, 3, 4, 5, 6, 7};

// The files of the source: FIRST of 1 block, SECOND of 2 (20 frames).
card_image source_card() {
    card_image card = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
    for (const auto& [name, blocks] : {std::pair{"FIRST", 1}, std::pair{"SECOND", 2}}) {
        const card_new_file file{name, false, false, STAMP,
                                 std::vector<std::uint8_t>(512 * blocks, 0x5A)};
        std::size_t slot = 0;
        std::string reason;
        EXPECT_TRUE(card_add(card, file, slot, reason)) << reason;
    }
    return card;
}

class interrupting_person final : public backup_person {
public:
    interrupting_person(std::string source, std::size_t file, std::size_t frame)
        : source_(std::move(source)), at_file_(file), at_frame_(frame) {}

    bool next(std::vector<std::string>&) override {
        // At a terminal this would wait for a key with the run meant to end.
        EXPECT_EQ(backup_interrupted, 0) << "the next file is asked for after Ctrl-C";
        if (file_ == 2)
            return false;
        options_ = {};
        std::string error;
        const char* entry = file_ == 0 ? "FIRST" : "SECOND";
        EXPECT_TRUE(
            emu_parse_options({"--card", source_, "--entry", entry}, emu_vmu(), options_, error))
            << error;
        EXPECT_TRUE(emu_put_card(options_, error)) << error;
        ++file_;
        return true;
    }
    void go() override {}
    void frame_done(std::size_t frame) override {
        if (file_ == at_file_ && frame == at_frame_)
            std::raise(SIGINT);
    }
    [[nodiscard]] std::uint8_t last_data() const { return options_.copy.data; }

private:
    std::string source_;
    std::size_t at_file_;
    std::size_t at_frame_;
    std::size_t file_ = 0;
    emu_options options_;
};

std::string contents(std::FILE* stream) {
    std::rewind(stream);
    std::string text;
    for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream))
        text += static_cast<char>(c);
    return text;
}

}  // namespace

TEST(BackupInterrupt, CtrlCLeavesNothingOfTheFileInProgressAndKeepsTheOnesBefore) {
    const struct {
        std::size_t file;    // from 1
        std::size_t frame;   // from 1
        const char* stored;  // the summary
        int status;
    } cases[] = {
        {1, 1, "0 files stored; 1 not", 1},
        {1, 2, "0 files stored; 1 not", 1},
        {1, 3, "0 files stored; 1 not", 1},
        {1, 11, "0 files stored; 1 not", 1},  // the last frame of FIRST is 12
        {1, 12, "1 file stored (1 block in ", 0},
        {2, 1, "1 file stored (1 block in ", 1},
        {2, 9, "1 file stored (1 block in ", 1},
        {2, 19, "1 file stored (1 block in ", 1},
        {2, 20, "2 files stored (3 blocks in ", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("file " + std::to_string(c.file) + ", frame " + std::to_string(c.frame));
        temp_dir dir;
        file_error error;
        ASSERT_TRUE(card_store(dir.file("source.bin"), source_card(), false, error));
        card_image before = card_new({0xFF, 0xFF, 0xFF, 0xFF}, 0, STAMP, card_order::raw);
        const card_new_file mine{"MINE", false, false, STAMP, std::vector<std::uint8_t>(512, 1)};
        std::size_t slot = 0;
        std::string reason;
        ASSERT_TRUE(card_add(before, mine, slot, reason)) << reason;
        ASSERT_TRUE(card_store(dir.file("target.bin"), before, false, error));
        const std::string target_before = read_file(dir.file("target.bin"));

        interrupting_person person(dir.file("source.bin"), c.file, c.frame);
        backup_command_line cl;
        cl.card = dir.file("target.bin");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const int status = backup_run(cl, person, monotonic_ns, {.out = out, .err = err});
        const std::string said = contents(err);
        const std::string summary = contents(out);
        std::fclose(out);
        std::fclose(err);
        EXPECT_EQ(status, c.status) << said;
        EXPECT_NE(said.find("stopped: D3 is low"), std::string::npos) << said;
        EXPECT_EQ(person.last_data() & DATA_OPEN, 0) << "D3 is still high";
        EXPECT_NE(summary.find(c.stored), std::string::npos) << summary;

        card_image after;
        ASSERT_TRUE(card_load(dir.file("target.bin"), after, error));
        card_layout layout;
        ASSERT_TRUE(card_read_layout(after, layout, reason)) << reason;
        const bool first = card_find_entry(after, layout, "FIRST", slot, reason);
        const bool second = card_find_entry(after, layout, "SECOND", slot, reason);
        EXPECT_TRUE(card_find_entry(after, layout, "MINE", slot, reason));
        EXPECT_EQ(first, c.file == 2 || c.frame == 12);
        EXPECT_EQ(second, c.file == 2 && c.frame == 20);
        if (!first) {
            EXPECT_EQ(read_file(dir.file("target.bin")), target_before);
        }
    }
}
