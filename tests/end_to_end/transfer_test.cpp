// Whole runs of vmurx-emu, the tool against the software VMU, observed as a
// user sees them: the console output byte for byte (the communications log is
// rebuilt from the frame rules), the exit status, and what is left on disk.
// Covers complete transfers (quiet, verbose, game, -n, name decoding and
// sanitising, an empty file, the largest file with its whole log), every way
// a run can be refused or fail, and the order of standard output and error
// when both go to one place. vmurx-emu's own options: vmu_options_test.cpp.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

constexpr long STAMP_1999_12_31_235958_UTC = 946684798;
const std::string OPEN_LINE = "open \"LPT1:\" @ $378\n";

// One log item: bit 8 makes it received (R), bits 0 to 7 and 9 are shown.
std::string item(int entry) {
    char text[16];
    std::snprintf(text, sizeof text, "%c:%02x ", entry & 0x100 ? 'R' : 'S', entry & 0x2FF);
    return text;
}

// A frame the PC accepts: header, its reply, code, payload, trailer, its ACK.
std::string frame(int code, const std::string& payload) {
    const int header = payload.size() == 128 ? 0x50 : 0x0F + static_cast<int>(payload.size());
    std::string log = item(0x100 + header) + item(0xE0) + item(0x100 + code);
    for (unsigned char byte : payload)
        log += item(0x100 + byte);
    return log + item(0x100) + item(0x0C);
}

std::string image_of(int blocks) {
    std::string image(static_cast<std::size_t>(blocks) * 512, '\0');
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 131 % 251);
    return image;
}

std::string name_block(const std::string& name) {
    return (name + std::string(12, ' ')).substr(0, 12);
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (unsigned char byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

// The console output of a complete transfer of a data or game file.
std::string completed_output(int blocks, bool game, const std::string& name, bool verbose,
                             const std::string& shown_name) {
    const std::string image = image_of(blocks);
    const int data_blocks = 4 * blocks;
    std::string log = frame(2, {static_cast<char>(game ? 0xCC : 0x33), static_cast<char>(blocks)}) +
                      frame(6, name_block(name));
    std::string counters;
    for (int n = 1; n <= data_blocks; ++n) {
        log += item(511 + n) + frame(4, image.substr(128 * (n - 1), 128)) + frame(8, {'\0'});
        char counter[40];
        std::snprintf(counter, sizeof counter, "Receiving data %03d/%03d \r", n, data_blocks);
        counters += counter;
    }
    log += item(766) +
           frame(3, std::string("\x19\x99\x12\x31\x23\x59\x58", 7) + std::string(5, '\0')) +
           item(767) + frame(8, {'\0'});
    const std::string close = "close\n\nCommunications log: " + log + "\n";
    if (!verbose)
        return OPEN_LINE + "firstread-hsk," + close;
    return OPEN_LINE + "Waiting for VM ready firstread-hsk,OK\nWaiting for start block OK\nType: " +
           (game ? "Game" : "Data") + ", size " + std::to_string(blocks) +
           " blocks\nWaiting for name block OK\nName: " + shown_name + "\n" + counters +
           "\nReceiving directory block OK\nReceiving last flash block OK\n" + close;
}

// Long outputs are compared by the place where they first differ.
testing::AssertionResult same_text(const std::string& got, const std::string& want) {
    if (got == want)
        return testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        ++at;
    return testing::AssertionFailure() << "first difference at byte " << at << ": got "
                                       << testing::PrintToString(got.substr(at, 80)) << ", want "
                                       << testing::PrintToString(want.substr(at, 80));
}

// Runs vmurx-emu in `cwd` with TZ=UTC, through a shell that may limit it
// first and may join its standard error to its standard output.
run_result run_emu(const temp_dir& cwd, const std::string& vmu, const std::string& tool,
                   const std::string& shell = "", bool joined = false) {
    std::vector<std::string> argv{"/bin/sh", "-c",
                                  shell + "exec \"$0\" \"$@\"" + (joined ? " 2>&1" : ""),
                                  VMURX_EMU_PATH, "--scripted"};
    for (const auto& word : split_words(vmu + " -- " + tool))
        argv.push_back(word);
    return run_program(argv, {.cwd = cwd.path(), .env = {"TZ=UTC"}, .unset = {}});
}

// A directory as "name:contents", "name/" and "name->target" items, sorted.
std::string listing(const temp_dir& dir) {
    std::set<std::string> items;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (entry.is_symlink()) {
            items.insert(name + "->" + fs::read_symlink(entry.path()).string());
        } else {
            items.insert(entry.is_directory() ? name + "/" : name + ":" + read_file(entry.path()));
        }
    }
    std::string text;
    for (const auto& item : items)
        text += (text.empty() ? "" : " ") + item;
    return text;
}

// Creates what a listing shows.
void make(const temp_dir& dir, const std::string& listed) {
    for (const auto& item : split_words(listed)) {
        if (auto arrow = item.find("->"); arrow != std::string::npos) {
            fs::create_symlink(item.substr(arrow + 2), dir.file(item.substr(0, arrow)));
        } else if (item.back() == '/') {
            fs::create_directory(dir.file(item));
        } else {
            write_file(dir.file(item.substr(0, item.find(':'))), item.substr(item.find(':') + 1));
        }
    }
}

TEST(CompletedTransfer, StoresTheImageWithItsStampAndPrintsTheWholeLog) {
    const struct {
        const char* rule;
        int blocks;
        bool game;
        std::string name;  // on the card, padded with spaces to 12 bytes
        std::string tool, stored_as;
    } cases[] = {
        {"verbose run", 1, false, "SAVE", "-v", "SAVE"},
        {"quiet run: open line, fragments, close and log", 1, false, "SAVE", "", "SAVE"},
        {"game file", 1, true, "GAME", "-v", "GAME"},
        {"-n overrides the name and is used as given", 1, false, "SAVE", "-v -n a\x01z", "a\x01z"},
        {"trailing spaces end the name", 1, false, "ABC", "-v", "ABC"},
        {"an inner space ends the name", 1, false, "AB CD", "-v", "AB"},
        {"a leading space stays", 1, false, " X", "-v", " X"},
        {"twelve characters without a space", 1, false, "ABCDEFGHIJKL", "-v", "ABCDEFGHIJKL"},
        {"'/' and control bytes from the card become '_'", 1, false, "a/b\x01\x1f\x7fz", "-v",
         "a_b___z"},
        {"an announced size of 0 stores an empty file", 0, false, "EMPTY", "-v", "EMPTY"},
        {"255 blocks: the whole image and the whole log", 255, false, "BIG", "-v", "BIG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir cwd, input;
        write_file(input.file("image"), image_of(c.blocks));
        run_result run = run_emu(cwd,
                                 "--file " + input.file("image") + " --raw-name " +
                                     hex(name_block(c.name)) + (c.game ? " --type game" : ""),
                                 c.tool);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(same_text(
            run.out, completed_output(c.blocks, c.game, c.name, !c.tool.empty(), c.stored_as)));
        const std::string log = run.out.substr(run.out.find("Communications log: "));
        EXPECT_EQ(std::count(log.begin(), log.end(), ':') - 1, 49 + 140 * 4 * c.blocks);
        EXPECT_EQ(log.find("log full"), std::string::npos);
        struct stat times {};
        ASSERT_EQ(stat(cwd.file(c.stored_as).c_str(), &times), 0);
        EXPECT_EQ(times.st_mtime, STAMP_1999_12_31_235958_UTC);
        EXPECT_EQ(times.st_atime, STAMP_1999_12_31_235958_UTC);
        // Last: reading the file may move its access time.
        EXPECT_EQ(listing(cwd), c.stored_as + ":" + image_of(c.blocks));
    }
}

TEST(FailedTransfer, EndsWithTheMessageTheLogAndStatusOne) {
    const char* const LIMIT_FILE_SIZE = "trap '' XFSZ; ulimit -f 0; ";
    // 8 KiB fit (the shell counts 512-byte blocks), as on a disk that fills
    // up during the write: part of a larger image reaches the file.
    const char* const DISK_FULL_AT_8K = "trap '' XFSZ; ulimit -f 16; ";
    temp_dir input;
    write_file(input.file("image"), image_of(1));
    write_file(input.file("large"), image_of(40));
    const struct {
        const char* rule;
        std::string vmu, tool;      // VMU options after --file (one block) --name SAVE
        std::string before, after;  // the working directory, as listing() shows it
        std::string err, out_has, out_ends;
        bool message_after_log;  // a failed block; else a failure of the driver's own
        std::string shell = "";
    } cases[] = {
        {"an existing file is refused and left alone", "", "-v", "SAVE:keep", "SAVE:keep",
         "Error: File SAVE already exists\n", "Waiting for name block \nclose\n", "S:0a \n", false},
        {"an existing directory given with -n is refused", "", "-n dir", "dir/", "dir/",
         "Error: File dir already exists\n", "", "R:00 S:0a \n", false},
        {"a dangling symbolic link is refused, its target not created", "", "", "SAVE->made",
         "SAVE->made", "Error: File SAVE already exists\n", "", "S:0a \n", false},
        {"a symbolic link to a file is refused, the file untouched", "", "",
         "SAVE->target target:keep", "SAVE->target target:keep",
         "Error: File SAVE already exists\n", "", "S:0a \n", false},
        {"a name block starting with NUL gives an empty name that cannot be created",
         "--raw-name 004142434445464748494a4b", "", "", "", "Error: Can't open file \n", "",
         "S:0a \n", false},
        {"F1: the card never signals ready", "--fault never-ready", "", "", "",
         "Error: Timeout getting VM ready\n",
         OPEN_LINE + "firstread-err,close\n\nCommunications log: \n", "", false},
        {"F2: a type neither game nor data is refused", "--type 0x00", "-v", "", "",
         "Error: File type 0x00 is neither Game nor Data\n", "Waiting for start block \nclose\n",
         "Communications log: R:11 S:e0 R:02 R:00 R:01 R:00 S:0a \n", false},
        {"a wrong block code at a data block: NAK, the empty file stays", "--fault wrong-code=3",
         "-v", "", "SAVE:", "Error: Wrong block, aborted\n", "", "R:00 S:0a \n\n", true},
        {"a wrong block code at the name block: no answer, no file", "--fault wrong-code=2", "", "",
         "", "Error: Wrong block, aborted\n", "R:1b S:e0 R:08 R:53 ", "R:20 R:00 \n", true},
        {"a timeout in the middle of a data block", "--fault stall=30", "", "",
         "SAVE:", "Error: Timeout\n", "only got 0 bits\nclose\n", "", true},
        {"a failure to flush the image at close is a failed write", "", "-v", "",
         "SAVE:", "Error writing file: File too large\n", "Receiving last flash block OK\nclose\n",
         "S:2ff R:10 S:e0 R:08 R:00 R:00 S:0c \n", false, LIMIT_FILE_SIZE},
        {"a write cut short by a full disk leaves the file empty, never part of a save",
         "--file " + input.file("large"), "", "", "SAVE:", "Error writing file: File too large\n",
         "", "R:10 S:e0 R:08 R:00 R:00 S:0c \n", false, DISK_FULL_AT_8K},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        const std::string vmu = "--file " + input.file("image") + " --name SAVE " + c.vmu;
        temp_dir cwd, joined_cwd;
        make(cwd, c.before);
        make(joined_cwd, c.before);
        run_result run = run_emu(cwd, vmu, c.tool, c.shell);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(listing(cwd), c.after);
        EXPECT_NE(run.out.find(c.out_has), std::string::npos) << run.out.substr(0, 300);
        EXPECT_TRUE(run.out.ends_with(c.out_ends)) << run.out.substr(run.out.size() - 100);

        // Standard output is flushed before every message on standard error,
        // so with both in one place the message stands where it was written:
        // before "close" for the driver's own failures, after the log for a
        // failed block.
        std::string joined = run.out;
        joined.insert(c.message_after_log ? joined.size() : joined.find("close\n"), c.err);
        EXPECT_TRUE(same_text(run_emu(joined_cwd, vmu, c.tool, c.shell, true).out, joined));
    }
}

}  // namespace
