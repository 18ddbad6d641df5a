// Reading a file up to a limit.
#include "files/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Reads from `fd` until the buffer is full or the file ends; the count read,
// or -1 with errno set.
ssize_t read_up_to(int fd, std::vector<std::uint8_t>& buffer) {
    std::size_t got = 0;
    while (got < buffer.size()) {
        const ssize_t n = read(fd, buffer.data() + got, buffer.size() - got);
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

bool read_file_bounded(const std::string& path, std::size_t limit, bounded_file& file,
                       file_error& error) {
    file = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = {path, std::strerror(errno), file_failure::system};
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        error = {path, std::strerror(errno), file_failure::system};
        close(fd);
        return false;
    }
    file.mtime = st.st_mtime;
    // One byte more than the limit tells a larger file.
    file.bytes.assign(limit + 1, 0);
    const ssize_t got = read_up_to(fd, file.bytes);
    const int saved = errno;
    close(fd);
    if (got < 0) {
        error = {path, std::strerror(saved), file_failure::system};
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
