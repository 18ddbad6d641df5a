// Reading a whole file that must not be larger than a limit: a card image,
// a save, a program. No more than one byte past the limit is ever read, so
// that a device without end (/dev/zero) or a huge file is refused, not
// taken into memory.
#pragma once

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

/// Reads the file at `path` when it has at most `limit` bytes. False with the
/// system's reason (file_failure::system), or with file_failure::too_large
/// and "larger than LIMIT bytes" once a byte more has come.
bool read_file_bounded(const std::string& path, std::size_t limit, bounded_file& file,
                       file_error& error);
