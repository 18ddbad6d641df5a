// Reading a file up to a limit.
#include "files/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Reads from `fd` at offset 0 on until the buffer is full or the file ends;
// the count read, or -1 with errno set.
ssize_t read_up_to(int fd, std::vector<std::uint8_t>& buffer) {
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n =
            pread(fd, buffer.data() + got, buffer.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

}  // namespace

const char* file_kind(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG:
            return "a regular file";
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

bool check_regular_file(const struct stat& status, const std::string& path, file_error& error) {
    if (S_ISDIR(status.st_mode)) {
        error = {path, std::strerror(EISDIR), file_failure::system};  // as read() says it
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = {path, std::string("it is ") + file_kind(status.st_mode) + ", not a regular file",
                 file_failure::not_regular};
        return false;
    }
    return true;
}

bool read_open_file_bounded(int fd, const std::string& path, std::size_t limit, bounded_file& file,
                            file_error& error) {
    file = {};
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = {path, std::strerror(errno), file_failure::system};
        return false;
    }
    if (!check_regular_file(st, path, error))
        return false;
    file.mtime = st.st_mtime;
    // One byte more than the limit tells a larger file.
    file.bytes.assign(limit + 1, 0);
    const ssize_t got = read_up_to(fd, file.bytes);
    if (got < 0) {
        error = {path, std::strerror(errno), file_failure::system};
        file.bytes.clear();
        return false;
    }
    if (static_cast<std::size_t>(got) > limit) {
        error = {path, "larger than " + std::to_string(limit) + " bytes", file_failure::too_large};
        file.bytes.clear();
        return false;
    }
    file.bytes.resize(static_cast<std::size_t>(got));
    return true;
}

bool check_regular_path(const std::string& path, file_error& error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        error = {path, std::strerror(errno), file_failure::system};
        return false;
    }
    return check_regular_file(st, path, error);
}

bool read_file_bounded(const std::string& path, std::size_t limit, bounded_file& file,
                       file_error& error) {
    file = {};
    if (!check_regular_path(path, error))
        return false;
    // Without O_NONBLOCK, opening a FIFO that took the name meanwhile would
    // wait for a writer; the check after the open sees what was opened.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = {path, std::strerror(errno), file_failure::system};
        return false;
    }
    const bool read = read_open_file_bounded(fd, path, limit, file, error);
    close(fd);
    return read;
}
