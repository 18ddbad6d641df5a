// Holding a file under its lock from the read to the write.
#include "files/held_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "files/bounded_read.h"

held_file::held_file(held_file&& other) noexcept
    : path(std::move(other.path)),
      bytes(std::move(other.bytes)),
      status(other.status),
      fd(std::exchange(other.fd, -1)) {}

held_file& held_file::operator=(held_file&& other) noexcept {
    if (this != &other) {
        if (fd >= 0)
            close(fd);
        path = std::move(other.path);
        bytes = std::move(other.bytes);
        status = other.status;
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

held_file::~held_file() {
    if (fd >= 0)
        close(fd);
}

namespace {

bool same_identity(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens `path` for the lock: for writing where permitted, as an exclusive
// lock over NFS needs, else for reading. Without O_NONBLOCK a FIFO would
// wait for a writer.
int open_for_lock(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0 || (errno != EACCES && errno != EROFS && errno != EPERM && errno != ETXTBSY))
        return fd;
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

}  // namespace

bool hold_file(const std::string& path, std::size_t limit, held_file& held, file_error& error) {
    held = {};
    held.path = path;
    // A file replaced between the open and the lock is opened again: the
    // lock must be on the file that the path names.
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Nothing but a regular file is opened, the more so for writing.
        if (!check_regular_path(path, error))
            return false;
        const int fd = open_for_lock(path);
        if (fd < 0) {
            error = {path, std::strerror(errno), file_failure::system};
            return false;
        }
        held.fd = fd;
        // Only a regular file is locked and read, whatever took the name
        // since the check before the open.
        if (fstat(fd, &held.status) != 0) {
            error = {path, std::strerror(errno), file_failure::system};
            return false;
        }
        if (!check_regular_file(held.status, path, error))
            return false;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) {
                error = {path, "another program is changing it (it holds its lock)",
                         file_failure::in_use};
                return false;
            }
            // A file system without flock: the writer's comparison still
            // guards against a change.
            if (errno != ENOLCK && errno != EOPNOTSUPP && errno != EINVAL) {
                error = {path, std::strerror(errno), file_failure::system};
                return false;
            }
        }
        struct stat now {};
        if (stat(path.c_str(), &now) != 0) {
            error = {path, std::strerror(errno), file_failure::system};
            return false;
        }
        if (!same_identity(now, held.status)) {
            close(std::exchange(held.fd, -1));
            continue;
        }
        bounded_file read;
        if (!read_open_file_bounded(fd, path, limit, read, error))
            return false;
        held.bytes = std::move(read.bytes);
        return true;
    }
    error = {path, "replaced again and again while it was being opened", file_failure::changed};
    return false;
}

bool held_file_unchanged(const held_file& held, bool at_path, file_error& error) {
    struct stat now {};
    if (at_path && (stat(held.path.c_str(), &now) != 0 || !same_identity(now, held.status))) {
        error = {held.path, "replaced by another program since it was read", file_failure::changed};
        return false;
    }
    bounded_file again;
    file_error ignored;
    if (!read_open_file_bounded(held.fd, held.path, held.bytes.size(), again, ignored) ||
        again.bytes != held.bytes) {
        error = {held.path, "changed by another program since it was read", file_failure::changed};
        return false;
    }
    return true;
}
