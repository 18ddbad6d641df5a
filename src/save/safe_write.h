// Writing results without ever damaging what is there: several files are put
// in place all together or not at all, an existing file is only ever replaced
// whole (through a temporary file in its directory, renamed over it), and
// nothing but a regular file is replaced.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

/// One file to write: where, what, and the modification (and access) time to
/// give it, if any.
struct save_output {
    std::string path;
    std::vector<std::uint8_t> bytes;
    std::optional<std::time_t> mtime;
};

/// Why a write did not happen: the file concerned, as given, and the reason
/// (the system's, or what is wrong with the file there).
struct save_write_error {
    std::string path;
    std::string reason;
};

/// Writes every output or none. Every target is checked first; then each file
/// is written to a temporary file of a short name in its directory, and only
/// when all are written are they renamed into place. A file being replaced
/// stays reachable under another name until every new file is in place, and
/// comes back on any failure. Without `replace` no existing name is taken.
/// With it, an existing regular file is replaced, keeping its mode and, where
/// permitted, its owner; anything else existing (a directory, a device, a FIFO,
/// a symbolic link) is refused and left as it is. A path named twice is
/// refused as well.
bool save_write_all(const std::vector<save_output>& outputs, bool replace, save_write_error& error);

/// The same, returning "" or the message "PATH: reason", with the path as
/// given (escape it before it reaches a terminal).
std::string save_write_all(const std::vector<save_output>& outputs, bool replace);
