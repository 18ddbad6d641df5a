// Reading a file up to a limit, and the parts of a path: a file of exactly
// the limit is read, one byte more is refused without reading further, what
// is not a regular file (an endless device, a FIFO nobody writes) is refused
// at once, and what cannot be read says why.
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "files/bounded_read.h"
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        bounded_file file;
        file_error error;
        ASSERT_EQ(read_file_bounded(c.path, c.limit, file, error), c.read) << error.reason;
        if (c.read) {
            EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), read_file(c.path));
        } else {
            EXPECT_EQ(error.object, c.path);
            EXPECT_EQ(error.cause, c.cause);
            EXPECT_EQ(error.reason, c.reason);
            EXPECT_TRUE(file.bytes.empty());
        }
    }
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
