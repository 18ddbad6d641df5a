// Reading a whole file that must not be larger than a limit: a card image,
// a save, a program. No more than one byte past the limit is ever read, so
// that a huge file is refused, not taken into memory; and only a regular
// file is read at all, found so before it is opened and opened without
// waiting, so that a FIFO, a terminal or a device (/dev/zero, a serial line)
// in place of a file is refused at once, untouched, instead of hanging,
// filling memory or being acted on by the open.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "files/file_error.h"

struct bounded_file {
    std::vector<std::uint8_t> bytes;
    std::time_t mtime = 0;  // the modification time
};

/// Reads the file at `path` when it is a regular file of at most `limit`
/// bytes. False with the system's reason (file_failure::system), with
/// file_failure::not_regular for anything but a regular file, or with
/// file_failure::too_large and "larger than LIMIT bytes" once a byte more
/// has come.
bool read_file_bounded(const std::string& path, std::size_t limit, bounded_file& file,
                       file_error& error);

/// The same of a file open as `fd`, read from its start whatever its offset;
/// `path` names it in the error.
bool read_open_file_bounded(int fd, const std::string& path, std::size_t limit, bounded_file& file,
                            file_error& error);

/// True for a regular file; else false with why it is not read (a directory:
/// the system's own "Is a directory").
bool check_regular_file(const struct stat& status, const std::string& path, file_error& error);

/// The same of what `path` names (following a symbolic link), found before
/// it is opened: opening a device may act on it (a serial line's control
/// lines, a tape's rewind, a watchdog's start). The system's reason when
/// nothing is there. Whoever then opens it checks again what was opened.
bool check_regular_path(const std::string& path, file_error& error);

/// What a file of this mode is, for a message: "a directory", "a FIFO", ...
const char* file_kind(mode_t mode);
