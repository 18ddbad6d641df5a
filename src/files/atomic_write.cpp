// Writing several files all or none. Each new file is first written in full to
// a temporary name in its target's directory; then, one by one, the temporary
// files take their names. An existing file is exchanged with its temporary
// file in one step, so its name never goes missing and its old contents stay
// under the temporary name until every file is in place; any failure brings
// every old file back and removes every new one.
#include "files/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "files/paths.h"

namespace {

// A target as found before anything is written.
struct target {
    std::string dir;  // its directory with the trailing slash, or "" for the current one
    bool exists = false;
    struct stat old {};  // what is there, when it exists
    std::string temp;    // the new file; after the exchange, the old one
    bool placed = false;
};

const char* kind_of(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR:
            return "a directory";
        case S_IFLNK:
            return "a symbolic link";
        case S_IFIFO:
            return "a FIFO";
        case S_IFCHR:
            return "a character device";
        case S_IFBLK:
            return "a block device";
        case S_IFSOCK:
            return "a socket";
        default:
            return "not a regular file";
    }
}

// renameat2, or the test's stand-in for it.
int rename2(const char* from, const char* to, unsigned flags) {
    const auto& stand_in = atomic_write_test_hooks().rename2;
    if (stand_in)
        return stand_in(from, to, flags);
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

// Creates an empty file of a short, unused name in `dir`: ".vmurx-" and six
// letters, so that even a target name of 255 bytes has a temporary beside it.
// Returns its descriptor, or -1 with errno set.
int create_unique(const std::string& dir, std::string& name) {
    static std::minstd_rand generator(std::random_device{}() ^ static_cast<unsigned>(getpid()));
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = dir + ".vmurx-";
        for (int i = 0; i < 6; ++i)
            name += letters[generator() % (sizeof letters - 1)];
        // 0666 less the umask, as any new file gets.
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool write_whole(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A replacement takes the old file's owner where this process may give it,
// and its mode; set-user and set-group bits only with the owner they belong to.
bool keep_owner_and_mode(int fd, const struct stat& old) {
    struct stat now {};
    if (fstat(fd, &now) != 0)
        return false;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int ignored = fchown(fd, static_cast<uid_t>(-1), old.st_gid);
    }
    if (fstat(fd, &now) != 0)
        return false;
    mode_t mode = old.st_mode & 07777;
    if (now.st_uid != old.st_uid)
        mode &= ~static_cast<mode_t>(S_ISUID);
    if (now.st_gid != old.st_gid)
        mode &= ~static_cast<mode_t>(S_ISGID);
    return fchmod(fd, mode) == 0;
}

bool write_temporary(const file_to_write& out, target& t, file_error& error) {
    const int fd = create_unique(t.dir, t.temp);
    if (fd < 0) {
        error = {out.path, std::strerror(errno), file_failure::system};
        t.temp.clear();
        return false;
    }
    bool ok = write_whole(fd, out.bytes);
    ok = ok && (!t.exists || keep_owner_and_mode(fd, t.old));
    ok = ok && fsync(fd) == 0;
    if (ok && out.mtime) {
        const timespec times[2] = {{*out.mtime, 0}, {*out.mtime, 0}};
        ok = futimens(fd, times) == 0;
    }
    int saved = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) {
        error = {out.path, std::strerror(saved), file_failure::system};
        unlink(t.temp.c_str());
        t.temp.clear();
    }
    return ok;
}

// Puts a new file where nothing was: fails if anything appeared meanwhile.
bool place_new(const std::string& temp, const std::string& path) {
    if (rename2(temp.c_str(), path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails just as
    // well on an existing name.
    if (link(temp.c_str(), path.c_str()) != 0)
        return false;
    unlink(temp.c_str());
    return true;
}

bool same_file(const std::string& name, const struct stat& old) {
    struct stat now {};
    return lstat(name.c_str(), &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino;
}

// Puts a new file over an old one, which then lives on under the temporary
// name. Where the file system cannot exchange two names, the old file is
// first renamed to a fresh name of its own.
bool place_over(target& t, const std::string& path) {
    const bool exchanged = rename2(t.temp.c_str(), path.c_str(), RENAME_EXCHANGE) == 0;
    if (!exchanged) {
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        std::string aside;
        const int fd = create_unique(t.dir, aside);
        if (fd < 0)
            return false;
        close(fd);
        if (std::rename(path.c_str(), aside.c_str()) != 0) {
            const int saved = errno;
            unlink(aside.c_str());
            errno = saved;
            return false;
        }
        if (std::rename(t.temp.c_str(), path.c_str()) != 0) {
            const int saved = errno;
            std::rename(aside.c_str(), path.c_str());
            errno = saved;
            return false;
        }
        t.temp = aside;
    }
    if (!same_file(t.temp, t.old)) {
        // What was checked is no longer what was there: put it back untouched.
        if (exchanged) {
            rename2(t.temp.c_str(), path.c_str(), RENAME_EXCHANGE);
            unlink(t.temp.c_str());
        } else {
            std::rename(t.temp.c_str(), path.c_str());
        }
        t.temp.clear();
        errno = EBUSY;
        return false;
    }
    return true;
}

bool check_target(const file_to_write& out, bool replace, target& t, file_error& error) {
    t.dir = directory_of(out.path);
    if (lstat(out.path.c_str(), &t.old) != 0) {
        if (errno == ENOENT)
            return true;  // a missing directory shows when the file is written
        error = {out.path, std::strerror(errno), file_failure::system};
        return false;
    }
    t.exists = true;
    if (!S_ISREG(t.old.st_mode)) {
        error = {out.path,
                 std::string("not replaced: it is ") + kind_of(t.old.st_mode) +
                     " (only a regular file is ever replaced)",
                 file_failure::not_regular};
        return false;
    }
    if (!replace) {
        error = {out.path, "File exists", file_failure::exists};
        return false;
    }
    return true;
}

void sync_directories(const std::vector<target>& targets) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j)
            seen = seen || targets[j].dir == targets[i].dir;
        if (seen)
            continue;
        const std::string dir = targets[i].dir.empty() ? "." : targets[i].dir;
        const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
}

// Undoes every placed file: an old file takes its name back, a new name goes.
// Temporary files not yet placed are removed.
void roll_back(const std::vector<file_to_write>& outputs, std::vector<target>& targets) {
    for (std::size_t i = targets.size(); i-- > 0;) {
        target& t = targets[i];
        if (t.placed && t.exists)
            std::rename(t.temp.c_str(), outputs[i].path.c_str());
        else if (t.placed)
            unlink(outputs[i].path.c_str());
        else if (!t.temp.empty())
            unlink(t.temp.c_str());
    }
}

}  // namespace

atomic_write_hooks& atomic_write_test_hooks() {
    static atomic_write_hooks hooks;
    return hooks;
}

bool write_files_atomically(const std::vector<file_to_write>& outputs, bool replace,
                            file_error& error) {
    std::vector<target> targets(outputs.size());
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (outputs[j].path == outputs[i].path) {
                error = {outputs[i].path, "named twice among the files to write",
                         file_failure::named_twice};
                return false;
            }
        }
        if (!check_target(outputs[i], replace, targets[i], error))
            return false;
    }
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (!write_temporary(outputs[i], targets[i], error)) {
            roll_back(outputs, targets);
            return false;
        }
    }
    if (atomic_write_test_hooks().before_placing)
        atomic_write_test_hooks().before_placing();
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        target& t = targets[i];
        t.placed = t.exists ? place_over(t, outputs[i].path) : place_new(t.temp, outputs[i].path);
        if (!t.placed) {
            error = {outputs[i].path, std::strerror(errno), file_failure::system};
            if (errno == EBUSY) {
                error.reason = "changed while the new file was written; left as it is";
                error.cause = file_failure::changed;
            }
            roll_back(outputs, targets);
            return false;
        }
    }
    for (const target& t : targets) {
        if (t.exists)
            unlink(t.temp.c_str());  // the old file, no longer needed
    }
    sync_directories(targets);
    return true;
}
