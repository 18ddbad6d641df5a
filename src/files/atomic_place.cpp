// Putting a written temporary file in its place: in one step where the file
// system exchanges two names, else through a visible copy of the old file
// made first, so that the name never goes missing and the old file is never
// only under a hidden name.
#include "files/atomic_place.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <vector>

#include "files/atomic_write.h"
#include "files/paths.h"

int call_rename2(const char* from, const char* to, unsigned flags) {
    const auto& stand_in = atomic_write_test_hooks().rename2;
    if (stand_in)
        return stand_in(from, to, flags);
    return renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

int call_rename(const char* from, const char* to) {
    const auto& stand_in = atomic_write_test_hooks().rename;
    return stand_in ? stand_in(from, to) : std::rename(from, to);
}

int call_link(const char* from, const char* to) {
    const auto& stand_in = atomic_write_test_hooks().link;
    return stand_in ? stand_in(from, to) : link(from, to);
}

int call_create(const char* name) {
    const auto& stand_in = atomic_write_test_hooks().create;
    // 0666 less the umask, as any new file gets.
    return stand_in ? stand_in(name) : open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

namespace {

std::string random_letters() {
    static std::minstd_rand generator(std::random_device{}() ^ static_cast<unsigned>(getpid()));
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string six;
    for (int i = 0; i < 6; ++i)
        six += letters[generator() % (sizeof letters - 1)];
    return six;
}

bool same_file(const std::string& name, const struct stat& old) {
    struct stat now {};
    return lstat(name.c_str(), &now) == 0 && now.st_dev == old.st_dev && now.st_ino == old.st_ino;
}

// Copies the whole of `from`, from its start whatever its offset, to `to`.
bool copy_whole(int from, int to) {
    std::vector<char> buffer(65536);
    for (off_t offset = 0;;) {
        const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        offset += n;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(to, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return false;
            done += w;
        }
    }
}

// A copy of what `from` holds under a new name starting with `prefix` in
// t.dir, with the old file's mode. False with errno set.
bool copy_into_new(const write_target& t, int from, const std::string& prefix, std::string& name) {
    const int to = create_unique(t.dir, prefix, name);
    if (to < 0)
        return false;
    bool ok = copy_whole(from, to) && fchmod(to, t.old.st_mode & 0777) == 0 && fsync(to) == 0;
    const int saved = errno;
    ok = close(to) == 0 && ok;
    if (!ok) {
        unlink(name.c_str());
        errno = saved;
    }
    return ok;
}

// "NAME.vmurx-old-XXXXXX" beside the file at `path`, or without NAME where
// that would be too long: where an old file is kept in sight.
std::string aside_prefix(const std::string& path) {
    const std::string base = base_name(path);
    return base.size() + 17 <= 255 ? base + ".vmurx-old-" : "vmurx-old-";
}

// The old file at `path` also under a visible name beside it: a second link
// where the file system has them, else a copy. `linked` tells which.
bool keep_aside(const write_target& t, const std::string& path, std::string& aside, bool& linked) {
    const std::string prefix = aside_prefix(path);
    for (int attempt = 0; attempt < 100; ++attempt) {
        aside = t.dir + prefix + random_letters();
        if (call_link(path.c_str(), aside.c_str()) == 0) {
            linked = true;
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    linked = false;
    const int from = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (from < 0)
        return false;
    const bool copied = copy_into_new(t, from, prefix, aside);
    const int saved = errno;
    close(from);
    errno = saved;
    return copied;
}

// The fallback of place_over: the old file kept aside first, then the new
// one renamed over the name.
bool place_over_by_rename(write_target& t, const std::string& path, bool& linked) {
    std::string aside;
    if (!keep_aside(t, path, aside, linked))
        return false;
    // A copy tells nothing of what it was copied from: the name must still
    // hold the file that was checked.
    if (!linked && !same_file(path, t.old)) {
        unlink(aside.c_str());
        t.changed = true;
        errno = EBUSY;
        return false;
    }
    if (call_rename(t.temp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        unlink(aside.c_str());
        errno = saved;
        return false;
    }
    t.temp = aside;
    return true;
}

// A copy made aside holds the old file as it was when copied; the held file,
// open still, holds it as another program has written it since. A copy of
// that takes the first one's place, to go back in its stead. Should it not
// be made, the first one goes back: the best there is.
void copy_again(write_target& t, const std::string& path) {
    std::string fresh;
    if (!copy_into_new(t, t.held->fd, aside_prefix(path), fresh))
        return;
    unlink(t.temp.c_str());
    t.temp = fresh;
}

// Where neither the no-replace rename nor a link can be had (a FUSE mount,
// FAT): the name is claimed by an exclusive create, which fails on an
// existing name as they do, and the new file renamed over that empty file.
// Meanwhile the name holds nothing but the empty claim; a claim that another
// program took over is left to it. False with errno set.
bool place_by_claim(const write_target& t, const std::string& path) {
    const int fd = call_create(path.c_str());
    if (fd < 0)
        return false;
    struct stat claim {};
    const bool seen = fstat(fd, &claim) == 0;
    close(fd);
    if (!seen || !same_file(path, claim)) {
        errno = EEXIST;
        return false;
    }
    if (call_rename(t.temp.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        if (same_file(path, claim))
            unlink(path.c_str());
        errno = saved;
        return false;
    }
    return true;
}

}  // namespace

int create_unique(const std::string& dir, const std::string& prefix, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = dir + prefix + random_letters();
        const int fd = call_create(name.c_str());
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool place_new(const write_target& t, const std::string& path) {
    if (call_rename2(t.temp.c_str(), path.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails just as
    // well on an existing name.
    if (call_link(t.temp.c_str(), path.c_str()) == 0) {
        unlink(t.temp.c_str());
        return true;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return false;
    return place_by_claim(t, path);
}

bool place_over(write_target& t, const std::string& path, std::string& kept_as) {
    bool linked = true;
    const bool exchanged = call_rename2(t.temp.c_str(), path.c_str(), RENAME_EXCHANGE) == 0;
    if (!exchanged) {
        if (errno != EINVAL && errno != ENOSYS)
            return false;
        if (!place_over_by_rename(t, path, linked))
            return false;
    }
    file_error ignored;
    const bool same = !linked || same_file(t.temp, t.old);
    if (same && (t.held == nullptr || held_file_unchanged(*t.held, false, ignored)))
        return true;
    // What was checked is no longer what was there: put it back untouched.
    t.changed = true;
    if (!linked && t.held != nullptr)
        copy_again(t, path);
    if (exchanged ? call_rename2(t.temp.c_str(), path.c_str(), RENAME_EXCHANGE) == 0
                  : call_rename(t.temp.c_str(), path.c_str()) == 0) {
        if (exchanged)
            unlink(t.temp.c_str());  // the new file
    } else {
        kept_as = t.temp;
    }
    t.temp.clear();
    errno = EBUSY;
    return false;
}
