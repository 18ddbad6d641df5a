// The output file's rules that are plain functions: packed BCD digits taken
// at face value, the file name made from the card's name block (a space after
// position 0 ends it, '/' and control bytes become '_', and so does a
// leading '.'), and the time stamp
// read as local standard time with out-of-range fields normalised; and a
// signal that ends the process while the image is stored never leaves a part
// of it under the name.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "main/output_file.h"
#include "run_program.h"

using namespace std::literals;

namespace {

TEST(BcdDigits, AreTakenAtFaceValue) {
    const int cases[][2] = {{0x00, 0},  {0x59, 59},  {0x99, 99},
                            {0x1A, 20}, {0xFF, 165}, {0x159, 59}};
    for (const auto& [byte, value] : cases)
        EXPECT_EQ(bcd_to_int(byte), value) << std::hex << byte;
}

TEST(VmuName, EndsAtASpaceAfterPositionZeroAndIsMadeSafe) {
    const std::string_view cases[][2] = {
        // The 12 bytes of the name block and a stray 13th, then the name.
        {"ABC         ?", "ABC"},
        {"AB CD       ?", "AB"},
        {" X          ?", " X"},
        {"ABCDEFGHIJKL?", "ABCDEFGHIJKL"},
        {"\0BCDEFGHIJKL?"sv, ""},
        {"../etc/x    ?", "_._etc_x"},
        {"\x1b[2J\t\x7f\x01\x1f"
         "A   ?",
         "_[2J____A"},
        {"caf\xe9 AB/\x01   ?", "caf\xe9"},  // bytes from 0x80 on are kept
        // A leading '.' would hide the file, or name a directory.
        {".bash_login ?", "_bash_login"},
        {".          ?", "_"},
        {"..         ?", "_."},
        {"A.B        ?", "A.B"},
        {"\x01.        ?", "_."},
    };
    for (const auto& [block, name] : cases) {
        char buffer[NAME_BLOCK_SIZE + 1];
        block.copy(buffer, sizeof buffer);
        decode_vmu_name(buffer);
        EXPECT_EQ(buffer, name) << testing::PrintToString(block);
    }
}

TEST(FileTimes, AreTheDirectoryStampInLocalStandardTime) {
    const struct {
        const char* tz;
        std::string_view block;
        long seconds;
    } cases[] = {
        {"UTC", "\x19\x99\x12\x31\x23\x59\x58\1\2\3\4\5"sv, 946684798},  // bytes 7 to 11 unused
        // Month 0 is December of the year before: 2023-12-15 12:00:00.
        {"UTC", "\x20\x24\x00\x15\x12\x00\x00\0\0\0\0\0"sv, 1702641600},
        // Standard time also in summer: 12:00 CET is 11:00 UTC on 2000-07-01.
        {"CET-1CEST,M3.5.0,M10.5.0/3", "\x20\x00\x07\x01\x12\x00\x00\0\0\0\0\0"sv, 962449200},
        // mktime's -1 here is a real instant, not a failure.
        {"UTC", "\x19\x69\x12\x31\x23\x59\x59\0\0\0\0\0"sv, -1},
    };
    const char* saved = std::getenv("TZ");
    const std::string saved_tz = saved != nullptr ? saved : "";
    temp_dir dir;
    const std::string file = dir.file("f");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tz);
        setenv("TZ", c.tz, 1);
        tzset();
        write_file(file, "x");
        const int descriptor = open(file.c_str(), O_RDONLY);
        ASSERT_GE(descriptor, 0);
        set_file_times(descriptor, {reinterpret_cast<const std::uint8_t*>(c.block.data()), 12});
        close(descriptor);
        struct stat times {};
        ASSERT_EQ(stat(file.c_str(), &times), 0);
        EXPECT_EQ(times.st_mtime, c.seconds);
        EXPECT_EQ(times.st_atime, c.seconds);
    }
    saved != nullptr ? setenv("TZ", saved_tz.c_str(), 1) : unsetenv("TZ");
    tzset();
}

// The times go to the file that was written, even when its name has been
// swapped for a symbolic link since it was created.
TEST(StoreImage, SetsTheTimesOnTheOpenFileNotOnTheName) {
    temp_dir dir;
    const std::string name = dir.file("SAVE");
    const std::string victim = dir.file("victim");
    write_file(victim, "victim");
    struct stat before {};
    ASSERT_EQ(stat(victim.c_str(), &before), 0);
    std::FILE* stream = nullptr;
    ASSERT_EQ(create_output_file(name.c_str(), stream), create_status::created);
    ASSERT_EQ(std::rename(name.c_str(), dir.file("written").c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), name.c_str()), 0);

    const std::uint8_t image[512] = {1, 2, 3};
    const auto stamp = "\x19\x99\x12\x31\x23\x59\x58\0\0\0\0\0"sv;
    ASSERT_TRUE(
        store_image(stream, image, {reinterpret_cast<const std::uint8_t*>(stamp.data()), 12}));
    struct stat written {};
    ASSERT_EQ(stat(dir.file("written").c_str(), &written), 0);
    EXPECT_EQ(written.st_size, 512);
    EXPECT_LT(written.st_mtime, 1'000'000'000);  // the 1999 stamp in any time zone
    struct stat after {};
    ASSERT_EQ(stat(victim.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_EQ(read_file(victim), "victim");
}

// A signal that comes while the image is written, between two of its
// writes, ends the process as it would have, but only once the name holds
// the whole image or nothing: never the first 8,192 bytes of 9,216, which
// look like a save and are not one. A file size limit of 8,192 bytes cuts the
// write there: its own SIGXFSZ, or the one signal sent meanwhile by a
// SIGXFSZ handler of the program's, comes at that moment.
TEST(StoreImage, ASignalDuringTheWriteLeavesNoPartOfTheImage) {
    static int to_send = 0;
    for (const int signal : {SIGXFSZ, SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1}) {
        SCOPED_TRACE(signal);
        temp_dir dir;
        const std::string name = dir.file("SAVE");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            std::FILE* stream = nullptr;
            if (create_output_file(name.c_str(), stream) != create_status::created)
                _exit(20);
            if (signal != SIGXFSZ) {
                to_send = signal;
                std::signal(SIGXFSZ, [](int) { kill(getpid(), to_send); });
            }
            const rlimit small{8192, RLIM_INFINITY};
            setrlimit(RLIMIT_FSIZE, &small);
            const std::vector<std::uint8_t> image(9216, 0x5A);
            const auto stamp = "\x19\x99\x12\x31\x23\x59\x58\0\0\0\0\0"sv;
            store_image(stream, image, {reinterpret_cast<const std::uint8_t*>(stamp.data()), 12});
            _exit(21);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(read_file(name).size(), 0u);
    }
}

// A signal whose handler began while the image was stored, in another thread,
// may record itself only after the store has looked for one and put the
// actions back: it must still end the process, not be lost. The handler the
// store put on SIGTERM is taken while the write is cut short (a SIGXFSZ
// handler of the program's) and called once the store is over, as that late
// thread would.
TEST(StoreImage, ASignalNotedAsTheStoreEndsStillEndsTheProcess) {
    using handler = void (*)(int);
    static handler taken = nullptr;
    temp_dir dir;
    const std::string name = dir.file("SAVE");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit no_core{0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        std::FILE* stream = nullptr;
        if (create_output_file(name.c_str(), stream) != create_status::created)
            _exit(20);
        std::signal(SIGXFSZ, [](int) {
            struct sigaction now {};
            sigaction(SIGTERM, nullptr, &now);
            taken = now.sa_handler;
        });
        const rlimit small{8192, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &small);
        const std::vector<std::uint8_t> image(9216, 0x5A);
        const auto stamp = "\x19\x99\x12\x31\x23\x59\x58\0\0\0\0\0"sv;
        store_image(stream, image, {reinterpret_cast<const std::uint8_t*>(stamp.data()), 12});
        if (taken == nullptr || taken == SIG_DFL || taken == SIG_IGN)
            _exit(22);
        taken(SIGTERM);
        _exit(21);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(read_file(name).size(), 0u);
}

}  // namespace
