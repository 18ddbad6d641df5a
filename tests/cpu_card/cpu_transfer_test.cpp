// The sender end to end: vmurx-emu --cpu, the real tool against the
// processor model running the built sender on a card image, in counting
// mode. What a user sees: the tool's output and status, the file it stores
// (the card's bytes, the card's stamp), the card's screen at the end, and
// which port bits the card drove.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "card/card_disk.h"
#include "cpu_card_support.h"
#include "run_program.h"

using namespace cpu_card_test;

namespace {

// 2001-02-03 04:05:06, the test files' stamp, read as UTC.
constexpr long STAMP_2001_02_03_040506_UTC = 981173106;
const std::string PINS_LINE = "card: drove P1 bits 0x0D, drives 0x00 at the end\n";
const std::string NO_PINS_LINE = "card: drove P1 bits 0x00, drives 0x00 at the end\n";

struct cpu_run {
    run_result result;
    std::string screen;
};

// vmurx-emu --cpu --screen on `card`, in `dir`, with TZ=UTC.
cpu_run run_cpu(const temp_dir& dir, const card_image& card, std::vector<std::string> options,
                std::vector<std::string> tool = {"-v"}) {
    const std::string image = dir.file("card.bin");
    file_error failure;
    if (!card_store(image, card, true, failure))
        throw std::runtime_error(failure.reason);
    std::vector<std::string> argv = {VMURX_EMU_PATH, "--cpu", "--screen", "--card", image};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.emplace_back("--");
    argv.insert(argv.end(), tool.begin(), tool.end());
    cpu_run run;
    run.result = run_program(argv, {.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}});
    run.screen = printed_screen_text(run.result.err);
    return run;
}

std::string bytes_of(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

long mtime_of(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_mtime) : -1;
}

}  // namespace

TEST(SenderTransfer, SendsAnyFileOfTheCardByteForByteWithItsStamp) {
    struct row {
        const char* what;
        std::vector<test_file> files;
        std::string entry;
        std::string type_line;
        std::string count;
    };
    const row rows[] = {
        {"a data save",
         {{"SAVE_DATA", false, 3}, {"OTHER", false, 1}},
         "SAVE_DATA",
         "Type: Data, size 3 blocks\n",
         "0012/0012"},
        {"a game, moved aside for the sender",
         {{"SONIC", true, 5}, {"SAVE", false, 1}},
         "SONIC",
         "Type: Game, size 5 blocks\n",
         "0020/0020"},
        {"the second file of the list",
         {{"ONE", false, 1}, {"TWO", false, 2}},
         "TWO",
         "Type: Data, size 2 blocks\n",
         "0008/0008"},
        {"the largest file a standard card holds",
         {{"WHOLE_CARD", false, 200}},
         "WHOLE_CARD",
         "Type: Data, size 200 blocks\n",
         "0800/0800"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        const cpu_run run = run_cpu(dir, card_with(r.files), {"--entry", r.entry});
        EXPECT_EQ(run.result.status, 0) << run.result.err;
        EXPECT_NE(
            run.result.out.find(r.type_line + "Waiting for name block OK\nName: " + r.entry + "\n"),
            std::string::npos)
            << run.result.out;
        EXPECT_NE(run.result.out.find("Receiving last flash block OK\nclose\n"), std::string::npos);

        const test_file& sent = *std::find_if(
            r.files.begin(), r.files.end(), [&](const test_file& f) { return f.name == r.entry; });
        EXPECT_EQ(read_file(dir.file(r.entry)), bytes_of(content_of(sent)));
        EXPECT_EQ(mtime_of(dir.file(r.entry)), STAMP_2001_02_03_040506_UTC);
        EXPECT_EQ(run.screen, r.entry + "\nDONE\n\n" + r.count + "\nPRESS A KEY\n");
        EXPECT_NE(run.result.err.find(PINS_LINE), std::string::npos) << run.result.err;
    }
}

// A slot names its file whatever the names: of two files of one name, as
// real cards carry them, each is sent by its #SLOT, and the name alone is
// refused with both slots.
TEST(SenderTransfer, ASlotNamesItsFileWhenTwoShareAName) {
    card_image card = card_with({{"TWIN", false, 1}, {"TWIX", false, 2}});
    card_layout layout;
    std::string reason;
    ASSERT_TRUE(card_read_layout(card, layout, reason)) << reason;
    card_file second = card_read_entry(card, layout, 1);
    ASSERT_EQ(card_file_name(second), "TWIX");
    second.name[3] = 'N';
    card_put_entry(card, layout, second);
    const struct {
        const char* entry;
        int status;
        std::string out, err;  // out: a line of it; err: its start
        std::size_t received;  // bytes of the file stored
    } rows[] = {
        {"#0", 0, "Type: Data, size 1 blocks\n", "", 512},
        {"#1", 0, "Type: Data, size 2 blocks\n", "", 1024},
        {"TWIN", 2, "",
         "vmurx-emu: --entry TWIN: several files have this name, give one of their slots: #0 #1\n",
         0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.entry);
        temp_dir dir;
        const cpu_run run = run_cpu(dir, card, {"--entry", r.entry});
        EXPECT_EQ(run.result.status, r.status) << run.result.err;
        EXPECT_NE(run.result.out.find(r.out), std::string::npos) << run.result.out;
        EXPECT_EQ(run.result.err.rfind(r.err, 0), 0U) << run.result.err;
        EXPECT_EQ(read_file(dir.file("TWIN")).size(), r.received);
    }
}

TEST(SenderTransfer, KeepsTimeWithAnyPcFastEnoughForTheCable) {
    // Reads of 1 to 8 cycles (1 to 8 µs at the sender's clock), PC levels of
    // 20 cycles up, and the delay floor's time instead where it is set: the
    // card must neither miss the PC's levels nor start a byte before the PC
    // looks (it once did, right after the PC's last bit).
    struct row {
        std::vector<std::string> options;
        std::string floor_us;
    };
    const row rows[] = {
        {{"--cycles-per-read", "1", "--cycles-per-delay", "20"}, ""},
        {{"--cycles-per-read", "8", "--cycles-per-delay", "20"}, ""},
        {{"--cycles-per-read", "4", "--cycles-per-delay", "400"}, ""},
        {{"--cycles-per-read", "2"}, "1000"},
        // A busy PC: SAFE rides out 100 µs pauses once a millisecond.
        {{"--speed", "safe", "--pc-pause", "100@1000", "--seed", "7"}, ""},
        {{"--speed", "fast", "--pc-pause", "10@1000", "--seed", "3"}, ""},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.options.back() + " " + r.floor_us);
        temp_dir dir;
        file_error failure;
        ASSERT_TRUE(
            card_store(dir.file("card.bin"), card_with({{"SAVE", false, 1}}), true, failure));
        std::vector<std::string> argv = {VMURX_EMU_PATH, "--cpu", "--card", dir.file("card.bin")};
        argv.insert(argv.end(), r.options.begin(), r.options.end());
        run_options options{.cwd = dir.path(), .env = {"TZ=UTC"}, .unset = {}};
        if (!r.floor_us.empty())
            options.env.push_back("VMURX_DELAY_US=" + r.floor_us);
        const run_result result = run_program(argv, options);
        EXPECT_EQ(result.status, 0) << result.out << result.err;
        EXPECT_EQ(read_file(dir.file("SAVE")), bytes_of(content_of({"SAVE", false, 1})));
    }
}

TEST(SenderTransfer, TheUsersCardImageIsNeverChanged) {
    temp_dir dir;
    const card_image card = card_with({{"SONIC", true, 5}, {"SAVE", false, 1}});
    const std::string before = bytes_of(card.bytes);
    const cpu_run run = run_cpu(dir, card, {"--entry", "SAVE"}, {});
    EXPECT_EQ(run.result.status, 0) << run.result.err;
    EXPECT_EQ(read_file(dir.file("card.bin")), before);
}

TEST(SenderTransfer, ShowsWhatWentWrongWhenTheTransferFails) {
    struct row {
        const char* what;
        std::vector<std::string> options;
        bool existing;  // a file of the name already where the tool stores it
        std::string error;
        std::string screen;
        std::string pins;
    };
    const row rows[] = {
        {"the name exists on the PC",
         {"--entry", "SAVE"},
         true,
         "Error: File SAVE already exists\n",
         "SEND FAILED\nPC REFUSED\nNAME BLOCK\n0000/0008\nPRESS A KEY\n",
         PINS_LINE},
        {"the card is docked",
         {"--entry", "SAVE", "--docked"},
         false,
         "Error: Timeout getting VM ready\n",
         "CARD DOCKED\n\nTAKE IT OUT\nTO SEND\n\n",
         NO_PINS_LINE},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.what);
        temp_dir dir;
        if (r.existing)
            write_file(dir.file("SAVE"), "mine");
        const cpu_run run = run_cpu(dir, card_with({{"SAVE", false, 2}}), r.options);
        EXPECT_EQ(run.result.status, 1);
        EXPECT_EQ(run.result.err.substr(0, r.error.size()), r.error) << run.result.err;
        EXPECT_EQ(run.screen, r.screen);
        EXPECT_NE(run.result.err.find(r.pins), std::string::npos) << run.result.err;
        EXPECT_EQ(read_file(dir.file("SAVE")), r.existing ? "mine" : "");
    }
}

TEST(SenderTransfer, ACardWithoutFilesSaysSoAndNeverSignalsReady) {
    temp_dir dir;
    const cpu_run run = run_cpu(dir, card_with({}), {});
    EXPECT_EQ(run.result.status, 1);
    EXPECT_NE(run.result.err.find("Error: Timeout getting VM ready\n"), std::string::npos);
    EXPECT_EQ(run.screen, "NO FILES\n\n\n\nPRESS A KEY\n");
}

TEST(SenderTransfer, OptionsOfTheProcessorCard) {
    struct row {
        std::vector<std::string> argv;
        int status;
        std::string error;
    };
    const row rows[] = {
        {{"--card", "x.bin"}, 2, "x.bin is a card image: name the file to send with --card x.bin"},
        {{"--cycles-per-read", "4"}, 2, "--cycles-per-read needs --cpu"},
        {{"--cpu", "--entry="}, 2, "bad value for --entry: ''"},
        {{"--cpu", "--cycles-per-read", "0"}, 2, "bad value for --cycles-per-read: '0'"},
        {{"--scripted", "--pc-pause", "100@1000"},
         2,
         "--pc-pause is for the card's own Copy or --cpu, not for --scripted"},
        {{"--speed", "safe"}, 2, "--speed needs --cpu"},
        {{"--cpu", "--pc-pause", "100"}, 2, "bad value for --pc-pause: '100'"},
        {{"--cpu", "--pc-pause", "0@1000"}, 2, "bad value for --pc-pause: '0@1000'"},
        {{"--cpu", "--speed", "slow"}, 2, "bad value for --speed: 'slow' (fast or safe)"},
        // What the options name and the card cannot give: status 2, as for the
        // protocol-level card. A sender that cannot be read, or is no game,
        // is refused without reading more than a game's worth.
        {{"--cpu", "--card", "missing.bin"}, 2, "vmurx-emu: missing.bin: No such file"},
        {{"--cpu", "--entry", "NOT_THERE"}, 2, "vmurx-emu: --entry NOT_THERE: no file of this"},
        {{"--cpu", "--sender", "missing.vms"}, 2, "vmurx-emu: cannot read missing.vms"},
        {{"--cpu", "--sender", "."}, 2, "vmurx-emu: cannot read .\n"},
        {{"--cpu", "--sender", "/dev/zero"}, 2, "/dev/zero is no game the card can hold"},
    };
    for (const row& r : rows) {
        std::vector<std::string> argv = {VMURX_EMU_PATH};
        argv.insert(argv.end(), r.argv.begin(), r.argv.end());
        temp_dir dir;
        const run_result result = run_program(argv, {.cwd = dir.path(), .env = {}, .unset = {}});
        EXPECT_EQ(result.status, r.status) << r.argv.back();
        EXPECT_NE(result.err.find(r.error), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
}
