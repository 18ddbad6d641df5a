// Writing files all or none: what is in the way of a later file leaves the
// earlier ones as they were, only regular files are replaced, a replacement
// keeps the old file's mode, and names up to the system's limit work; all of
// it the same on a file system without renameat2's one-step renames (and
// without hard links as well), and with another writer stepping in between
// the check and the rename.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "files/atomic_write.h"
#include "run_program.h"

namespace {

// "" when every file is written, else "PATH: reason".
std::string write_all(const std::vector<file_to_write>& files, bool replace,
                      file_failure* cause = nullptr) {
    file_error error;
    if (write_files_atomically(files, replace, error))
        return "";
    if (cause != nullptr)
        *cause = error.cause;
    return error.object + ": " + error.reason;
}

// The writer's stand-ins for one test, taken away after it.
class stand_ins {
public:
    // `missing_renameat2`: 0 for the real call, else the errno with which
    // every renameat2 fails, as on a file system without its flags (EINVAL)
    // or a kernel without the call (ENOSYS). Without `links`, every link
    // fails as well, as on a FUSE mount or a FAT file system.
    explicit stand_ins(int missing_renameat2, std::function<void()> before_placing = nullptr,
                       bool links = true) {
        atomic_write_hooks& hooks = atomic_write_test_hooks();
        if (missing_renameat2 != 0) {
            hooks.rename2 = [this, missing_renameat2](const char*, const char*, unsigned) {
                ++refused;
                errno = missing_renameat2;
                return -1;
            };
        }
        if (!links) {
            hooks.link = [](const char*, const char*) {
                errno = EPERM;
                return -1;
            };
        }
        hooks.before_placing = std::move(before_placing);
    }
    ~stand_ins() { atomic_write_test_hooks() = {}; }
    stand_ins(const stand_ins&) = delete;
    stand_ins& operator=(const stand_ins&) = delete;

    int refused = 0;  // renameat2 calls that failed
};

// A file system without renameat2, or with it; the last has no hard links
// either, so that a new file cannot take its name by a link.
const struct {
    const char* name;
    int missing;
    bool links = true;
} RENAMES[] = {{"renameat2", 0},
               {"EINVAL", EINVAL},
               {"ENOSYS", ENOSYS},
               {"EINVAL and no links", EINVAL, false}};

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

std::size_t entries_in(const std::string& dir) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::recursive_directory_iterator(dir))
        ++count;
    return count;
}

mode_t mode_of(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(WriteFilesAtomically, WritesEveryFileOrNone) {
    const std::string long_name(250, 'n');
    const struct {
        const char* rule;
        std::function<void(const temp_dir&)> before;
        std::vector<std::string> targets;  // written "new 0", "new 1", ...
        bool replace;
        std::string message;             // "" when the write succeeds
        std::vector<std::string> after;  // each target's state afterwards
        file_failure cause = file_failure::system;
    } cases[] = {
        {"two new files", nullptr, {"a", "b"}, false, "", {"new 0", "new 1"}},
        {"an existing file without replace",
         [](const temp_dir& d) { write_file(d.file("b"), "old"); },
         {"a", "b"},
         false,
         "b: File exists",
         {"absent", "old"},
         file_failure::exists},
        {"existing files replaced",
         [](const temp_dir& d) {
             write_file(d.file("a"), "old a");
             write_file(d.file("b"), "old b");
         },
         {"a", "b"},
         true,
         "",
         {"new 0", "new 1"}},
        {"a directory in the way of the second file",
         [](const temp_dir& d) { mkdir(d.file("b").c_str(), 0755); },
         {"a", "b"},
         false,
         "b: not replaced: it is a directory",
         {"absent", "directory"},
         file_failure::not_regular},
        {"a directory in the way of the second file, with replace",
         [](const temp_dir& d) {
             write_file(d.file("a"), "old a");
             mkdir(d.file("b").c_str(), 0755);
         },
         {"a", "b"},
         true,
         "b: not replaced: it is a directory",
         {"old a", "directory"},
         file_failure::not_regular},
        {"a FIFO is never replaced",
         [](const temp_dir& d) { mkfifo(d.file("p").c_str(), 0644); },
         {"p"},
         true,
         "p: not replaced: it is a FIFO",
         {"fifo"},
         file_failure::not_regular},
        {"a symbolic link is never replaced, nor what it names",
         [](const temp_dir& d) {
             write_file(d.file("real"), "kept");
             ASSERT_EQ(symlink("real", d.file("l").c_str()), 0);
         },
         {"l", "real"},
         true,
         "l: not replaced: it is a symbolic link",
         {"link", "kept"},
         file_failure::not_regular},
        {"a 250-byte name", nullptr, {long_name}, false, "", {"new 0"}},
        {"a 250-byte name replaced",
         [&](const temp_dir& d) { write_file(d.file(long_name), "old"); },
         {long_name},
         true,
         "",
         {"new 0"}},
        {"a missing directory",
         nullptr,
         {"a", "none/b"},
         false,
         "none/b: No such file or directory",
         {"absent", "absent"}},
        {"a path named twice",
         nullptr,
         {"a", "a"},
         true,
         "a: named twice",
         {"absent"},
         file_failure::named_twice},
    };
    for (const auto& rename : RENAMES) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.rule) + ", " + rename.name);
            temp_dir dir;
            if (c.before)
                c.before(dir);
            const std::size_t entries = entries_in(dir.path());
            std::vector<file_to_write> outputs;
            for (std::size_t i = 0; i < c.targets.size(); ++i) {
                outputs.push_back(
                    {dir.file(c.targets[i]), bytes_of("new " + std::to_string(i)), {}});
            }
            const stand_ins fs(rename.missing, nullptr, rename.links);
            file_failure cause = file_failure::system;
            const std::string message = write_all(outputs, c.replace, &cause);
            if (c.message.empty()) {
                EXPECT_EQ(message, "");
                // The fallback was taken, not some other way round it.
                EXPECT_EQ(fs.refused > 0, rename.missing != 0);
            } else {
                EXPECT_TRUE(message.starts_with(dir.file(c.message))) << message;
                EXPECT_EQ(cause, c.cause);
            }
            for (std::size_t i = 0; i < c.after.size(); ++i)
                EXPECT_EQ(file_state(dir.file(c.targets[i])), c.after[i]) << c.targets[i];
            const std::size_t added = c.message.empty() && !c.replace ? c.targets.size() : 0;
            EXPECT_EQ(entries_in(dir.path()), entries + added) << "a temporary file was left";
        }
    }
}

TEST(WriteFilesAtomically, RefusesADeviceNode) {
    const std::string message = write_all({{"/dev/null", bytes_of("x"), {}}}, true);
    EXPECT_EQ(message,
              "/dev/null: not replaced: it is a character device "
              "(only a regular file is ever replaced)");
}

TEST(WriteFilesAtomically, KeepsTheModeOfAReplacedFileAndSetsTheTimes) {
    temp_dir dir;
    const struct { mode_t mode; } cases[] = {{0600}, {0640}, {0755}};
    for (const auto& c : cases) {
        write_file(dir.file("f"), "old");
        chmod(dir.file("f").c_str(), c.mode);
        ASSERT_EQ(write_all({{dir.file("f"), bytes_of("new"), 1015218367}}, true), "");
        struct stat st {};
        stat(dir.file("f").c_str(), &st);  // before reading it sets the access time
        EXPECT_EQ(st.st_mtime, 1015218367);
        EXPECT_EQ(st.st_atime, 1015218367);
        EXPECT_EQ(mode_of(dir.file("f")), c.mode);
        EXPECT_EQ(read_file(dir.file("f")), "new");
    }
    // A new file gets what the umask leaves of 0666.
    const mode_t mask = umask(027);
    EXPECT_EQ(write_all({{dir.file("g"), bytes_of("new"), {}}}, false), "");
    umask(mask);
    EXPECT_EQ(mode_of(dir.file("g")), 0640u);
}

TEST(WriteFilesAtomically, AReadOnlyDirectoryLeavesEveryFileAsItWas) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only directories";
    temp_dir dir;
    mkdir(dir.file("ro").c_str(), 0755);
    write_file(dir.file("ro/b"), "old b");
    write_file(dir.file("a"), "old a");
    chmod(dir.file("ro").c_str(), 0555);
    const struct {
        bool replace;
        std::string first, second;
    } cases[] = {{false, "n", "ro/c"}, {true, "a", "ro/b"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.replace);
        const std::string message = write_all(
            {{dir.file(c.first), bytes_of("new"), {}}, {dir.file(c.second), bytes_of("new"), {}}},
            c.replace);
        EXPECT_EQ(message, dir.file(c.second + ": Permission denied"));
        EXPECT_EQ(file_state(dir.file("n")), "absent");
        EXPECT_EQ(read_file(dir.file("a")), "old a");
        EXPECT_EQ(read_file(dir.file("ro/b")), "old b");
        EXPECT_EQ(file_state(dir.file("ro/c")), "absent");
    }
    chmod(dir.file("ro").c_str(), 0755);
    EXPECT_EQ(entries_in(dir.path()), 3u);
}

TEST(WriteFilesAtomically, AFailedWriteOfTheSecondFileLeavesTheFirstAsItWas) {
    // A file size limit makes the second, longer file fail to write, even
    // for root, for whom no directory is read-only.
    temp_dir dir;
    write_file(dir.file("a"), "old a");
    const std::vector<std::uint8_t> big(4096, 'x');
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string message =
        write_all({{dir.file("a"), bytes_of("new a"), {}}, {dir.file("b"), big, {}}}, true);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(message, dir.file("b: File too large"));
    EXPECT_EQ(read_file(dir.file("a")), "old a");
    EXPECT_EQ(entries_in(dir.path()), 1u);
}

// Another writer replaces a target, or takes a new name, after the checks and
// the writing, just before the renames. What it wrote stays; every file this
// write had already put in place goes back to what it was; nothing of this
// write is left behind.
TEST(WriteFilesAtomically, AnotherWriterSteppingInKeepsWhatItWrote) {
    // Writes "theirs" to `name` as an editor would: a new file renamed over.
    const auto other_writer = [](const temp_dir& d, const std::string& name) {
        write_file(d.file("their-temp"), "theirs");
        ASSERT_EQ(std::rename(d.file("their-temp").c_str(), d.file(name).c_str()), 0);
    };
    const struct {
        const char* rule;
        std::vector<std::string> old;      // "name=contents" before the write
        std::vector<std::string> targets;  // written "new 0", "new 1", ...
        bool replace;
        std::string stepped_in;  // the name the other writer writes
        std::string message;
        file_failure cause;
        std::vector<std::string> after;  // each target's state afterwards
    } cases[] = {
        {"the one target replaced",
         {"a=old a"},
         {"a"},
         true,
         "a",
         "a: changed while the new file was written; left as it is",
         file_failure::changed,
         {"theirs"}},
        {"the second target replaced: the first comes back",
         {"a=old a", "b=old b"},
         {"a", "b"},
         true,
         "b",
         "b: changed while the new file was written; left as it is",
         file_failure::changed,
         {"old a", "theirs"}},
        {"the first target replaced: the second is never placed",
         {"a=old a", "b=old b"},
         {"a", "b"},
         true,
         "a",
         "a: changed while the new file was written; left as it is",
         file_failure::changed,
         {"theirs", "old b"}},
        {"a new name taken: the new file before it goes again",
         {},
         {"a", "b"},
         false,
         "b",
         "b: File exists",
         file_failure::system,
         {"absent", "theirs"}},
        {"a new name taken beside a replaced file",
         {"a=old a"},
         {"a", "b"},
         true,
         "b",
         "b: File exists",
         file_failure::system,
         {"old a", "theirs"}},
    };
    for (const auto& rename : RENAMES) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.rule) + ", " + rename.name);
            temp_dir dir;
            for (const std::string& file : c.old) {
                const auto equals = file.find('=');
                write_file(dir.file(file.substr(0, equals)), file.substr(equals + 1));
            }
            std::vector<file_to_write> outputs;
            for (std::size_t i = 0; i < c.targets.size(); ++i) {
                outputs.push_back(
                    {dir.file(c.targets[i]), bytes_of("new " + std::to_string(i)), {}});
            }
            const stand_ins fs(
                rename.missing, [&] { other_writer(dir, c.stepped_in); }, rename.links);
            file_failure cause = file_failure::content;
            EXPECT_EQ(write_all(outputs, c.replace, &cause), dir.file(c.message));
            EXPECT_EQ(cause, c.cause);
            for (std::size_t i = 0; i < c.after.size(); ++i)
                EXPECT_EQ(file_state(dir.file(c.targets[i])), c.after[i]) << c.targets[i];
            const auto present = std::count_if(c.after.begin(), c.after.end(),
                                               [](const std::string& s) { return s != "absent"; });
            EXPECT_EQ(entries_in(dir.path()), static_cast<std::size_t>(present))
                << "a temporary file was left";
        }
    }
}

}  // namespace
