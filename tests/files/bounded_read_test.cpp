// Reading a file up to a limit, and the parts of a path: a file of exactly
// the limit is read, one byte more is refused without reading further, what
// is not a regular file (an endless device, a FIFO nobody writes) is refused
// at once and never opened, and what cannot be read says why; a file held to
// be changed alike.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "files/bounded_read.h"
#include "files/held_file.h"
#include "files/paths.h"
#include "run_program.h"

namespace {

TEST(BoundedRead, ReadsUpToTheLimitAndRefusesMore) {
    temp_dir dir;
    write_file(dir.file("eight"), "12345678");
    write_file(dir.file("empty"), "");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0644), 0);
    const struct {
        const char* rule;
        std::string path;
        std::size_t limit;
        bool read;
        file_failure cause;
        std::string reason;  // when not read
    } cases[] = {
        {"exactly the limit", dir.file("eight"), 8, true, {}, ""},
        {"under the limit", dir.file("eight"), 100, true, {}, ""},
        {"an empty file", dir.file("empty"), 0, true, {}, ""},
        {"one byte over", dir.file("eight"), 7, false, file_failure::too_large,
         "larger than 7 bytes"},
        {"a device without end", "/dev/zero", 4096, false, file_failure::not_regular,
         "it is a character device, not a regular file"},
        {"a FIFO that no one writes", dir.file("fifo"), 4096, false, file_failure::not_regular,
         "it is a FIFO, not a regular file"},
        {"a missing file", dir.file("none"), 8, false, file_failure::system,
         "No such file or directory"},
        {"a directory", dir.path(), 8, false, file_failure::system, "Is a directory"},
    };
    // What is not a regular file is refused before it is opened: opening a
    // device may act on it. The FIFO tells whether it was opened.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, dir.file("fifo").c_str(), IN_OPEN), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bounded_file file;
        file_error error;
        ASSERT_EQ(read_file_bounded(c.path, c.limit, file, error), c.read) << error.reason;
        // Holding a file to change it reads and refuses as reading it does.
        held_file held;
        file_error held_error;
        ASSERT_EQ(hold_file(c.path, c.limit, held, held_error), c.read) << held_error.reason;
        if (c.read) {
            EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), read_file(c.path));
            EXPECT_EQ(held.bytes, file.bytes);
        } else {
            for (const file_error& e : {error, held_error}) {
                EXPECT_EQ(e.object, c.path);
                EXPECT_EQ(e.cause, c.cause);
                EXPECT_EQ(e.reason, c.reason);
            }
            EXPECT_TRUE(file.bytes.empty());
        }
    }
    char event[sizeof(inotify_event) + 256];
    EXPECT_EQ(read(watch, event, sizeof event), -1) << "the FIFO was opened";
    close(watch);
}

TEST(BoundedRead, GivesTheModificationTime) {
    temp_dir dir;
    write_file(dir.file("f"), "x");
    const timespec times[2] = {{1015218367, 0}, {1015218367, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, dir.file("f").c_str(), times, 0), 0);
    bounded_file file;
    file_error error;
    ASSERT_TRUE(read_file_bounded(dir.file("f"), 1, file, error));
    EXPECT_EQ(file.mtime, 1015218367);
}

TEST(Paths, SplitAtTheLastSlashAndTheNamesLastDot) {
    const struct {
        std::string path, directory, base, extension, without;
    } cases[] = {
        {"SAVE.VMS", "", "SAVE.VMS", ".VMS", "SAVE"},
        {"dir/save.vms", "dir/", "save.vms", ".vms", "dir/save"},
        {"/a/b.c.d", "/a/", "b.c.d", ".d", "/a/b.c"},
        {"dir.x/name", "dir.x/", "name", "", "dir.x/name"},  // a dot in the directory only
        {".profile", "", ".profile", "", ".profile"},        // a leading dot is the name's
        {"dir/.vms", "dir/", ".vms", "", "dir/.vms"},
        {"name.", "", "name.", ".", "name"},
        {"dir/", "dir/", "", "", "dir/"},
        {"", "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(directory_of(c.path), c.directory);
        EXPECT_EQ(base_name(c.path), c.base);
        EXPECT_EQ(extension(c.path), c.extension);
        EXPECT_EQ(without_extension(c.path), c.without);
    }
}

}  // namespace
