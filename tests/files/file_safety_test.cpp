// What keeps a user's file when more than one thing happens to it: a second
// writer kept out by the lock, a change by a program that takes no lock
// (written in place, or a file renamed over it) left as that program left it,
// an output that is an input under another name refused, the fallback
// without renameat2 never leaving the file only under a hidden name, and an
// interrupted write leaving no temporary behind. Every refusal leaves every
// file byte for byte as it was.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "files/atomic_write.h"
#include "files/held_file.h"
#include "run_program.h"

namespace {

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return {text.begin(), text.end()};
}

// Every name in `dir`, sorted, with the contents of each file.
std::string listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string& name : names)
        out += name + "=" + file_state(dir + "/" + name) + " ";
    return out;
}

// The names in `dir` that start with `prefix`.
std::vector<std::string> names_from(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().filename().string().starts_with(prefix))
            names.push_back(entry.path().string());
    }
    return names;
}

// The hooks of one test, taken away after it.
struct hooks_for_test {
    hooks_for_test() = default;
    ~hooks_for_test() { atomic_write_test_hooks() = {}; }
    hooks_for_test(const hooks_for_test&) = delete;
    hooks_for_test& operator=(const hooks_for_test&) = delete;
    atomic_write_hooks& hooks = atomic_write_test_hooks();
};

std::string replace_held(const held_file& held, const std::string& text, file_error& error) {
    return write_files_atomically({{held.path, bytes_of(text), {}, &held}}, true, error)
               ? ""
               : error.object + ": " + error.reason;
}

TEST(HeldFile, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
    temp_dir dir;
    write_file(dir.file("card"), "old");
    file_error error;
    {
        held_file first;
        ASSERT_TRUE(hold_file(dir.file("card"), 100, first, error)) << error.reason;
        EXPECT_EQ(std::string(first.bytes.begin(), first.bytes.end()), "old");
        held_file second;
        EXPECT_FALSE(hold_file(dir.file("card"), 100, second, error));
        EXPECT_EQ(error.cause, file_failure::in_use);
        EXPECT_EQ(error.reason, "another program is changing it (it holds its lock)");
        EXPECT_EQ(replace_held(first, "new", error), "");
    }
    held_file third;
    EXPECT_TRUE(hold_file(dir.file("card"), 100, third, error)) << error.reason;
    EXPECT_EQ(std::string(third.bytes.begin(), third.bytes.end()), "new");
}

// Another program steps in after the file was read, at the moment just
// before the new one takes its name: what it did stays, nothing of this
// write is left, and the refusal says so. With and without renameat2.
TEST(HeldFile, AChangeByAProgramThatTakesNoLockIsNeverOverwritten) {
    const struct {
        const char* rule;
        std::function<void(const temp_dir&)> other;
        std::string after;
        std::string reason;
    } cases[] = {
        {"written in place, as an emulator writes its card",
         [](const temp_dir& d) {
             const int fd = open(d.file("card").c_str(), O_WRONLY);
             ASSERT_EQ(pwrite(fd, "E", 1, 1), 1);
             close(fd);
         },
         "oEd", "changed by another program since it was read"},
        {"replaced by a file renamed over it",
         [](const temp_dir& d) {
             write_file(d.file("theirs"), "theirs");
             ASSERT_EQ(std::rename(d.file("theirs").c_str(), d.file("card").c_str()), 0);
         },
         "theirs", "replaced by another program since it was read"},
        {"grown by a write at its end",
         [](const temp_dir& d) {
             const int fd = open(d.file("card").c_str(), O_WRONLY | O_APPEND);
             ASSERT_EQ(write(fd, "+", 1), 1);
             close(fd);
         },
         "old+", "changed by another program since it was read"},
    };
    for (const bool exchange : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.rule) + (exchange ? "" : ", without renameat2"));
            temp_dir dir;
            write_file(dir.file("card"), "old");
            held_file held;
            file_error error;
            ASSERT_TRUE(hold_file(dir.file("card"), 100, held, error));
            const hooks_for_test h;
            h.hooks.before_placing = [&] { c.other(dir); };
            if (!exchange) {
                h.hooks.rename2 = [](const char*, const char*, unsigned) {
                    errno = EINVAL;
                    return -1;
                };
            }
            EXPECT_EQ(replace_held(held, "new", error), dir.file("card: ") + c.reason);
            EXPECT_EQ(error.cause, file_failure::changed);
            EXPECT_EQ(listing(dir.path()), "card=" + c.after + " ");
        }
    }
}

// The same change, but after the new file took the name (before the
// writer's check that follows): the old file, now the changed one, goes
// back, however it was kept meanwhile: exchanged, linked aside, or copied
// aside before the change. A rename the system refuses (EBUSY, as over a
// bind-mounted file) is said in the system's words, not as a change.
TEST(HeldFile, AChangeJustBeforeTheExchangeIsPutBack) {
    enum class way { exchange, linked, copied, busy };
    const std::string changed = "changed while the new file was written; left as it is";
    const struct {
        const char* rule;
        way how;
        std::string reason;
        file_failure cause;
        std::string after;
    } cases[] = {
        {"exchanged", way::exchange, changed, file_failure::changed, "Xld"},
        {"linked aside", way::linked, changed, file_failure::changed, "Xld"},
        {"copied aside", way::copied, changed, file_failure::changed, "Xld"},
        {"refused by the system", way::busy, "Device or resource busy", file_failure::system,
         "old"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        write_file(dir.file("card"), "old");
        held_file held;
        file_error error;
        ASSERT_TRUE(hold_file(dir.file("card"), 100, held, error));
        const hooks_for_test h;
        // An emulator writes into the old file just before the new takes its name.
        bool written = false;
        const auto emulator = [&] { written = written || pwrite(held.fd, "X", 1, 0) == 1; };
        h.hooks.rename2 = [&](const char* from, const char* to, unsigned flags) {
            if (c.how != way::exchange) {
                errno = c.how == way::busy ? EBUSY : EINVAL;
                return -1;
            }
            if (flags == RENAME_EXCHANGE)
                emulator();
            return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
        };
        if (c.how == way::copied) {
            h.hooks.link = [](const char*, const char*) {
                errno = EPERM;
                return -1;
            };
        }
        h.hooks.rename = [&](const char* from, const char* to) {
            emulator();
            return std::rename(from, to);
        };
        EXPECT_EQ(replace_held(held, "new", error), dir.file("card: ") + c.reason);
        EXPECT_EQ(error.cause, c.cause);
        EXPECT_EQ(listing(dir.path()), "card=" + c.after + " ");
    }
}

TEST(InputFiles, NoOutputReplacesAnInputByAnyName) {
    temp_dir dir;
    std::filesystem::create_directory(dir.file("sub"));
    write_file(dir.file("src.s"), "source");
    ASSERT_EQ(link(dir.file("src.s").c_str(), dir.file("hard.s").c_str()), 0);
    input_files inputs;
    add_input(inputs, dir.file("src.s"));
    add_input(inputs, dir.file("absent"));  // names nothing: left out
    EXPECT_EQ(inputs.names.size(), 1u);
    const std::string cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.file("sub"));
    const struct {
        std::string output;
        std::string reason;
    } cases[] = {
        {"../src.s", "not replaced: it is " + dir.file("src.s") + ", an input of this run"},
        {"./../src.s", "not replaced: it is " + dir.file("src.s") + ", an input of this run"},
        {dir.file("src.s"), "not replaced: it is an input of this run"},
        {dir.file("sub/../hard.s"),
         "not replaced: it is " + dir.file("src.s") + ", an input of this run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        file_error error;
        EXPECT_FALSE(
            write_files_atomically({{c.output, bytes_of("image"), {}}}, true, error, &inputs));
        EXPECT_EQ(error.cause, file_failure::is_input);
        EXPECT_EQ(error.reason, c.reason);
    }
    file_error error;
    EXPECT_TRUE(write_files_atomically({{"out.vms", bytes_of("image"), {}}}, true, error, &inputs));
    std::filesystem::current_path(cwd);
    EXPECT_EQ(listing(dir.path()), "hard.s=source src.s=source sub=directory ");
}

// Where renameat2 cannot exchange, the old file is kept under a visible name
// before the new one is renamed over the name. A process killed at any step
// leaves the name holding the old file or the new one, and the old one under
// its visible name, never only a hidden temporary.
TEST(Fallback, AKillAtAnyStepLeavesTheFileUnderItsNameAndTheOldOneVisible) {
    const struct {
        const char* rule;
        bool links;         // the file system has hard links (NFS), else a copy (exFAT)
        bool after_rename;  // killed just after the rename, else just before
        const char* at_name;
    } cases[] = {
        {"linked aside, killed before the rename", true, false, "old"},
        {"linked aside, killed after the rename", true, true, "new"},
        {"copied aside, killed before the rename", false, false, "old"},
        {"copied aside, killed after the rename", false, true, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        temp_dir dir;
        write_file(dir.file("vmu0.bin"), "old");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            atomic_write_hooks& hooks = atomic_write_test_hooks();
            hooks.rename2 = [](const char*, const char*, unsigned) {
                errno = EINVAL;
                return -1;
            };
            if (!c.links) {
                hooks.link = [](const char*, const char*) {
                    errno = EPERM;
                    return -1;
                };
            }
            hooks.rename = [&](const char* from, const char* to) {
                if (!c.after_rename)
                    _exit(9);
                const int done = std::rename(from, to);
                _exit(done == 0 ? 9 : 10);
                return done;
            };
            file_error error;
            write_files_atomically({{dir.file("vmu0.bin"), bytes_of("new"), {}}}, true, error);
            _exit(11);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(WEXITSTATUS(status), 9);
        EXPECT_EQ(read_file(dir.file("vmu0.bin")), c.at_name);
        const auto kept = names_from(dir.path(), "vmu0.bin.vmurx-old-");
        ASSERT_EQ(kept.size(), 1u);
        EXPECT_EQ(read_file(kept.front()), "old");
        // Killed before the rename, the new file's temporary is left (no
        // program outlives SIGKILL), never the old file's only copy.
        const auto hidden = names_from(dir.path(), ".vmurx-");
        EXPECT_EQ(hidden.size(), c.after_rename ? 0u : 1u);
        for (const std::string& name : hidden)
            EXPECT_EQ(read_file(name), "new");
    }
}

// Of two files, the second cannot take its name and the first cannot go
// back: the error says where the first's old contents are, and they are
// there, under a visible name.
TEST(Fallback, AnOldFileThatCannotGoBackIsSaidWhereItIs) {
    for (const bool links : {true, false}) {
        SCOPED_TRACE(links ? "linked aside" : "copied aside");
        temp_dir dir;
        write_file(dir.file("a"), "old a");
        write_file(dir.file("b"), "old b");
        const hooks_for_test h;
        h.hooks.rename2 = [](const char*, const char*, unsigned) {
            errno = EINVAL;
            return -1;
        };
        if (!links) {
            h.hooks.link = [](const char*, const char*) {
                errno = EPERM;
                return -1;
            };
        }
        int renames = 0;
        h.hooks.rename = [&](const char* from, const char* to) {
            // The first file's rename goes through; then nothing does.
            if (renames++ == 0)
                return std::rename(from, to);
            errno = EIO;
            return -1;
        };
        file_error error;
        EXPECT_FALSE(write_files_atomically(
            {{dir.file("a"), bytes_of("new a"), {}}, {dir.file("b"), bytes_of("new b"), {}}}, true,
            error));
        EXPECT_EQ(error.object, dir.file("b"));
        ASSERT_EQ(error.kept_as.rfind(dir.file("a.vmurx-old-"), 0), 0u) << error.kept_as;
        EXPECT_EQ(read_file(error.kept_as), "old a");
        EXPECT_EQ(read_file(dir.file("a")), "new a");
        EXPECT_EQ(read_file(dir.file("b")), "old b");
        EXPECT_TRUE(names_from(dir.path(), ".vmurx-").empty()) << listing(dir.path());
    }
}

// Raises `signal` in a thread of the program that holds nothing back.
void raise_in_another_thread(int signal) {
    std::thread([signal] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal);
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        raise(signal);
    }).join();
}

// SIGINT, SIGTERM, SIGHUP, SIGQUIT or another signal that ends a process
// (SIGPIPE, SIGXFSZ at a file size limit) while the new files are written:
// the process ends by the signal as it would have, and no temporary is left,
// also when the signal comes just as the open that creates one returns (a
// slow open over NFS). While they take their names, the signal waits until all are in
// place, also when it reaches another thread of the process (as a program
// with a real-time card has). A signal ignored stays ignored, and the write
// goes on.
TEST(Signals, EndTheProcessWithoutLeavingATemporary) {
    enum class moment { created, written, placing };
    const struct {
        const char* rule;
        moment when;  // as the first temporary is created, when all are written, as the first is
                      // placed
        bool other_thread;
        const char* after;
    } cases[] = {
        {"while the files are written", moment::written, false, "card=old "},
        {"to another thread while they take their names", moment::placing, true,
         "card=new other=new "},
        {"as the first temporary is created", moment::created, false, "card=old "},
        {"to another thread as the first temporary is created", moment::created, true, "card=old "},
    };
    for (const auto& c : cases) {
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
            SCOPED_TRACE(std::string(c.rule) + ", " + std::to_string(signal));
            temp_dir dir;
            write_file(dir.file("card"), "old");
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                const rlimit no_core{0, 0};  // SIGQUIT and SIGXFSZ would dump one
                setrlimit(RLIMIT_CORE, &no_core);
                atomic_write_hooks& hooks = atomic_write_test_hooks();
                const auto send = [signal, &c] {
                    c.other_thread ? raise_in_another_thread(signal) : (void)raise(signal);
                };
                if (c.when == moment::placing) {
                    hooks.rename2 = [send](const char* from, const char* to, unsigned flags) {
                        send();
                        return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
                    };
                } else if (c.when == moment::created) {
                    hooks.create = [send](const char* name) {
                        const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
                        send();
                        return fd;
                    };
                } else {
                    hooks.before_placing = send;
                }
                file_error error;
                write_files_atomically({{dir.file("card"), bytes_of("new"), {}},
                                        {dir.file("other"), bytes_of("new"), {}}},
                                       true, error);
                _exit(0);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), signal);
            EXPECT_EQ(listing(dir.path()), c.after);
        }
    }
    temp_dir dir;
    write_file(dir.file("card"), "old");
    const auto before = std::signal(SIGHUP, SIG_IGN);
    const hooks_for_test h;
    h.hooks.before_placing = [] { raise(SIGHUP); };
    file_error error;
    EXPECT_TRUE(write_files_atomically({{dir.file("card"), bytes_of("new"), {}}}, true, error));
    std::signal(SIGHUP, before);
    EXPECT_EQ(listing(dir.path()), "card=new ");
}

}  // namespace
